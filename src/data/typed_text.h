#pragma once

#include <QString>

// How the program reads what was typed into a box, with no widget involved.

// Blanks removed from both ends (only blanks: tabs and line breaks stay).
QString trim_blanks(const QString& text);

// `text` for a LIKE pattern (escaped with a backslash), its own % and _
// taken literally.
QString like_literal(QString text);

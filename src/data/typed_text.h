#pragma once

#include <QString>

// How the program reads what was typed into a box, with no widget involved.

// Blanks removed from both ends (only blanks: tabs and line breaks stay).
QString trim_blanks(const QString& text);

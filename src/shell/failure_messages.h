#pragma once

#include "db_error.h"

#include <QString>
#include <QVariant>

#include <optional>

// Tells the user that a database action failed, and why: "<action> failed."
// followed by the cause (the file that cannot be opened, a database kept busy
// by other workstations, or the engine's own words). Returns false when
// `error` is no failure, so a screen can write `if (report_failure(...)) return;`.
bool report_failure(const DbError& error, const QString& action);

// A number typed as an id, read exactly; a whole number too large for an id
// is refused with a message that says so (nullopt).
std::optional<QVariant> typed_id(const QString& text);

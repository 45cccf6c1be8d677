#pragma once

#include <QString>

// The schema's SQL text, as shipped with the program.
QString schema_sql();

// Creates a new database file at `path` with the whole schema. Refuses a path
// where a file exists already. Returns an empty text on success, else the reason.
QString create_database(const QString& path);

#pragma once

#include "database.h"

// A laboratory's database file (SQLite) as a Database. The file's own
// helpers (opening it with its checks, the damage marker, the busy wait) are
// in connection.h; its schema and history in schema_setup.h; its copies in
// database_copy.h.
std::unique_ptr<Database> file_database(const QString& path);

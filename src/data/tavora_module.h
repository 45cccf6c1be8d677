#pragma once

#include "db_error.h"

#include <QSqlDatabase>
#include <QString>

// The one process-wide connection to the laboratory's database file, shared
// by every screen.

inline constexpr char kConnectionName[] = "db_connection";
inline constexpr char kDatabaseFileName[] = "tavora lab.mdb";

// The folder the program runs from (the executable's folder), without a
// trailing separator. Tests point it at a temporary folder.
QString program_folder();
void set_program_folder(const QString& folder);

QString database_file_path();

// Opens `db_connection` on the database file. Silent: a failure leaves the
// connection closed and shows nothing; calling it on an open connection does
// nothing. The file is never created: a missing file is a failure.
void open_connection();

// Closes `db_connection`. Unlike opening, a failure is the caller's to handle.
DbError close_connection();

bool connection_is_open();

// The path of the open database file without its extension (the backup adds
// ".mdb" back); empty when the connection is closed.
QString database_path_without_extension();

// The open connection for the record operations. When it is closed, one more
// attempt is made to open it; if that fails too, the error names the file.
DbResult<QSqlDatabase> database();

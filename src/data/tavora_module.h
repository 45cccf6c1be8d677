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

// Opens `db` on the database file at `path`, never creating it, read-write or
// read-only, with the busy timeout every connection of the program uses. The
// file's schema is read once, so a file that is not a database at all fails
// here rather than at a later statement. Returns an empty text, or the reason.
QString open_database_file(QSqlDatabase& db, const QString& path, bool read_only);

// What the user is told when the database file cannot be opened.
QString cannot_open_message(const QString& path, const QString& reason);

// The open connection for the record operations. When it is closed, one more
// attempt is made to open it; if that fails too, the error names the file.
DbResult<QSqlDatabase> database();

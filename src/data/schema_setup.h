#pragma once

#include "database.h"

#include <QString>

#include <QFileDevice>

// Files that hold patient data are not for everyone: the database is read and
// written by its owner and the laboratory's group (0660, for a shared folder);
// backups and exports are read by the group only (0640).
inline constexpr QFileDevice::Permissions kSharedDatabaseMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::WriteGroup;
inline constexpr QFileDevice::Permissions kPatientCopyMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;

// An SQL text cut into its statements (comments dropped; a trigger's body stays whole).
QStringList sql_statements(const QString& sql);

// Creates a new database file at `path` with the whole schema. The file is
// created exclusively: where a file exists already (or another program
// creates one at the same moment) nothing is touched. An empty path or an
// SQLite URI is refused. Returns an empty text on success, else the reason.
QString create_database(const QString& path);

// Creates the whole schema on an empty database of a PostgreSQL server (a
// connection URL), in one transaction; a database that holds any table of
// its own is refused and left untouched. Returns an empty text, or the reason.
QString create_server_database(const QString& url);

// Grants the report files' reading role its tables again (after a restore).
QString grant_report_reading(const QString& url);

// Brings a database file of an older schema version up to this program's,
// in one transaction. Returns what was done, or (error set) why not.
Upgrade upgrade_database(const QString& path);
// The same for a server's database (a connection URL).
Upgrade upgrade_server_database(const QString& url);

#pragma once

#include "database.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>

// A laboratory's database on a PostgreSQL server: the server's side of
// Database (database.h), and the helpers the server's own tools (backup,
// moving a file to a server, the tests) reach a server with.

// A libpq connection URL ("postgresql://..." or "postgres://...") or a
// keyword form naming a service ("service=NAME", "host=... dbname=...").
bool is_server_url(const QString& text);

// The server the program folder's tavora-lab.ini names; empty without the
// file or without a url (the database file is used).
QString configured_server_url();

// The URL without a password, for messages and logs.
QString shown_url(const QString& url);

// Opens `db` (a QPSQL connection) on the server at `url` and checks that it
// holds the laboratory's schema of this program's version. Returns an empty
// text, or the reason. Passwords come from libpq's own places (~/.pgpass, a
// service file, the environment), never from the settings file.
QString open_server(QSqlDatabase& db, const QString& url);
// Only the connection, without the schema check (for init).
QString connect_server(QSqlDatabase& db, const QString& url);

// Runs `work` on a connection of its own to the server at `url`, made for it
// and removed after: checked as open_server checks it when `laboratory` is
// set, else only connected. Returns why it could not connect, or what `work`
// returns.
QString with_server_connection(const QString& url, bool laboratory,
                               const std::function<QString(QSqlDatabase&)>& work);

// How many tables of its own the database on `db` holds (-1 when it cannot say).
int own_table_count(QSqlDatabase& db);

// The server at `url` as a Database.
std::unique_ptr<Database> server_database(const QString& url);

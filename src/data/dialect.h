#pragma once

#include "db_error.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>

// The laboratory's database is a file (SQLite, the default) or, for a
// laboratory that outgrew one shared file, a PostgreSQL server named by a
// connection URL in tavora-lab.ini beside the program:
//
//     [database]
//     url=postgresql://lab-server/tavora
//
// The SQL that differs between the two lives here, the two forms side by
// side; screens and reports never see which one runs.

enum class Dialect { SQLite, PostgreSQL };

Dialect dialect_of(const QSqlDatabase& db);
// The dialect of the program's database (the open connection's, or the one
// the settings name).
Dialect current_dialect();

inline constexpr char kSettingsFileName[] = "tavora-lab.ini";

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

// What a write transaction begins with: it takes the database's one write
// lock, so that what it reads it reads as the last word (ids, the report as
// looked up) until it commits, as on the file.
QStringList begin_write_statements(Dialect d);

// One value of a change_log row's old values (JSON), as text to compare.
QString journal_field(Dialect d, const QString& key);
// The condition on change_log rows about one patient's reports (one bound value).
QString journal_patient_condition(Dialect d);

// "column IN (subquery)" in the form each dialect answers fastest. A server
// plans IN over a big table as a join that reads the whole table; the array
// of the subquery's few values is looked up row by row through the index.
QString in_subquery(Dialect d, const QString& column, const QString& subquery);

// Lets the report files' queries read this connection's scratch tables (on a
// server they read under a role of their own). Nothing to do on a file.
DbError let_reports_read_scratch(const QStringList& tables);

// The schema a new database is made from (a resource of the program).
QString schema_resource(Dialect d);

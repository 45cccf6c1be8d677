#pragma once

#include "db_error.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>

// The one process-wide connection to the laboratory's database file, shared
// by every screen.

inline constexpr char kConnectionName[] = "db_connection";
inline constexpr char kDatabaseFileName[] = "tavora lab.mdb";

// What the laboratory's database file carries in its header: whose file it is
// and the version of its schema. The program opens no other file.
inline constexpr int kApplicationId = 1414941762; // "TVLB"
inline constexpr int kSchemaVersion = 13;

// The folder the program runs from (the executable's folder), without a
// trailing separator. Tests point it at a temporary folder.
QString program_folder();
void set_program_folder(const QString& folder);

QString database_file_path();

// A tool given its database on its command line (a file's path or a server's
// URL) uses that one in place of the program folder's; empty: the folder's.
void use_database(const QString& file_or_url);
QString database_given();

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

// How long a connection waits for another workstation's lock before it
// gives up as busy: 5 seconds. Tests that wait it out shorten it.
int busy_timeout_ms();
void set_busy_timeout_for_tests(int milliseconds); // 0 or less: the 5 seconds again
// The busy timeout as Qt's SQLite driver takes it ("QSQLITE_BUSY_TIMEOUT=5000").
QString busy_timeout_option();

// Waits for another workstation's lock on `handle` as every connection of the
// program waits, until the busy timeout: the longer it has waited, the more
// often it tries (every millisecond or two at first, every few hundred
// microseconds after a tenth of a second; jittered, so that waiters do not
// try in step), so the lock's short free moments go to the oldest waiters
// roughly in turn. SQLite's own handler sleeps ever longer, up to 100 ms,
// and so favours newcomers: a few saves then waited the whole 5 seconds while
// others went through every few milliseconds. Every file connection the
// program opens gets it.
struct sqlite3;
void use_fair_busy_wait(sqlite3* handle);

// Opens `db` on the database file at `path`, never creating it, read-write or
// read-only, with the busy timeout every connection of the program uses. The
// file is checked before anything is written to it: an empty file, another
// program's database, a file of a newer or older schema version and a file in
// write-ahead-log mode are refused. Returns an empty text, or the reason.
// `code`, when given, receives SQLite's result code of a failed open.
QString open_database_file(QSqlDatabase& db, const QString& path, bool read_only, int* code = nullptr);

// A read-only connection cannot roll back what a crashed save left in the
// journal beside the file, and fails on it: a short read-write open does it
// (only when a journal is there). Every read-only open calls it first; where
// the file cannot be written, the read-only open then says why.
void roll_back_a_crashed_save(const QString& path);

// Where the program's database is, as messages name it: the file's path, or
// the server's URL without a password.
QString database_location();
// Drops the shared connection to a server that stopped answering, so that
// the next action connects again.
void forget_server_connection();
// What the user is told when the server cannot be reached or refuses.
QString cannot_reach_message(const QString& server, const QString& reason);

// What the user is told when the database file cannot be opened.
QString cannot_open_message(const QString& path, const QString& reason);

// A database file found damaged takes no further work: every later action
// gets the Damaged error that names it, on every workstation. The finding is
// kept in a marker file beside the database ("<file>.damaged", with when and
// why), which each program reads when it opens the file and before each write;
// a clean "tavora-lab-admin check" or a restore removes it.
QString damage_marker(const QString& path);
bool damage_marked(const QString& path);
void write_damage_marker(const QString& path, const QString& reason);
void remove_damage_marker(const QString& path);
// Takes note of a marker another program left (a stat of the marker file: not
// for every statement, for every open and every write transaction).
void notice_damage_marker();
void mark_database_damaged();
bool database_damaged();
QString damaged_message();

// The open connection for the record operations. When it is closed, one more
// attempt is made to open it; if that fails too, the error names the file: a
// Busy error when another workstation held the file past the busy timeout,
// Unavailable when it cannot be opened at all.
DbResult<QSqlDatabase> database();

// A failed action on the program's database, as its connection's owner
// answers it: a damaged file is marked (every later action is refused, on
// every workstation) and the user told which file; a server that stopped
// answering is forgotten (the next action connects afresh) and the user told
// which server. error_of classifies the driver's error first.
DbError noticed(DbError error);
DbError error_of(const QSqlError& error);

// Runs `opened` each time the shared connection opens (after the watcher's
// own `opened`): the shell checks then who is logged in.
void set_on_connection_opened(std::function<void()> opened);

// What sits above the connection and takes part in its life: told when the
// shared connection opened and before it closes, and asked at the start of
// every write transaction whether the database still takes this program's
// writes (an error rolls the transaction back; `refused` runs after the
// rollback). The workstation registry is the program's watcher
// (keep_workstation_registry() in workstations.h, called where a program
// starts); without one, the program is registered nowhere.
struct ConnectionWatcher {
    std::function<void()> opened;
    std::function<void()> closing;
    std::function<DbError()> writing;
    std::function<void()> refused;
};
void set_connection_watcher(ConnectionWatcher watcher);
const ConnectionWatcher& connection_watcher();

#pragma once

#include "db_error.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

enum class ColumnKind;
struct IndexDef;
struct SchemaStep;
struct TextSearch;

// The laboratory's database is a file (SQLite, the default) or, for a
// laboratory that outgrew one shared file, a PostgreSQL server named by a
// connection URL in tavora-lab.ini beside the program:
//
//     [database]
//     url=postgresql://lab-server/tavora
//
// Everything that differs between the two is a Database: how one is reached
// and checked, made, brought up to date, backed up, restored and checked
// again, how its errors read, and the few SQL fragments that differ. The two
// implementations (sqlite_database.cpp, postgres_database.cpp) are the only
// code that knows which engine runs; everything else asks the object.

inline constexpr char kSettingsFileName[] = "tavora-lab.ini";

// What bringing a database of an older schema version up to date did, or
// (error set) why nothing was changed.
struct Upgrade {
    QString done;
    QString error;
};

// A backup made (the file written), or why none was.
struct BackupMade {
    QString file;
    QString error;
};

// A restore: why nothing was restored (empty when it was); the programs a
// forced restore overrode; where the replaced database was kept, if anywhere.
struct Restored {
    QString error;
    QStringList overridden;
    QString kept;
};

// A check: what is wrong (empty when it is sound) and how that is put ("is
// damaged or unusable"); whether the database was found damaged (every
// workstation then refuses it); a remark on a sound one.
struct Checked {
    QString problems;
    QString verdict;
    bool damaged = false;
    QString remark;
};

// A piece of SQL with the values bound to its placeholders, in order.
struct SqlPart {
    QString sql;
    QVariantList binds;
};

class Database {
public:
    virtual ~Database() = default;

    // The database a command line names: a server's connection URL
    // ("postgresql://...", or libpq's keyword form "service=NAME", "host=...")
    // or a file's path.
    static std::unique_ptr<Database> named(const QString& file_or_url);
    // The program's own: the database its command line gave, else the server
    // its tavora-lab.ini names, else the file at `file` (by default the
    // program folder's).
    static std::unique_ptr<Database> program(const QString& file = {});
    // The engine behind an open connection, for the SQL that differs.
    static const Database& of(const QSqlDatabase& db);
    // The engine of the program's database, for its SQL: the open shared
    // connection's, else the one the settings name.
    static const Database& current();

    // Where it is, as messages name it: the file's path, or the server's URL
    // without a password.
    virtual QString location() const = 0;
    // Qt's driver for its connections.
    virtual QString driver() const = 0;
    // Whether there is something to open (a server is only known when asked).
    virtual bool exists() const = 0;

    // Opens `db` (a connection on driver()) and checks that it holds the
    // laboratory's schema of this program's version: an empty text, or the
    // reason. `code`, when given, receives the engine's code of a failed open.
    virtual QString open(QSqlDatabase& db, bool read_only = false, int* code = nullptr) const = 0;
    // What the user is told when it cannot be opened or reached.
    virtual QString cannot_open(const QString& reason) const = 0;
    // The error of a failed open: busy, damaged or unavailable.
    virtual DbError open_failed(int code, const QString& reason) const = 0;

    // Makes a new database with the whole schema; an existing one is never
    // touched. An empty text, or the reason.
    virtual QString create() const = 0;
    // Brings a database of an older schema version up to this program's, in
    // one transaction.
    virtual Upgrade upgrade() const = 0;
    // The day's backup into `folder`.
    virtual BackupMade back_up(const QString& folder) const = 0;
    // Puts the backup at `backup` in place of this database; `force`: even
    // while programs have it open (they are told).
    virtual Restored restore(const QString& backup, bool force) const = 0;
    // Whether it is sound, for the scheduler's check.
    virtual Checked check() const = 0;

    // The kind of a failed statement (a pure function: nothing is changed;
    // the connection's owner reacts, see noticed() in connection.h).
    virtual DbError classify(const QSqlError& error) const = 0;
    // An SQL text cut into its statements.
    virtual QStringList statements(const QString& sql) const = 0;

    // What a write transaction begins with: it takes the database's one
    // write lock, so that what it reads it reads as the last word (ids, the
    // report as looked up) until it commits.
    virtual QStringList begin_write() const = 0;
    // One value of a change_log row's old values (JSON), as text to compare.
    virtual QString journal_field(const QString& key) const = 0;
    // The condition on change_log rows about one patient's reports (one bound value).
    virtual QString journal_patient_condition() const = 0;
    // "column IN (subquery)" in the form the engine answers fastest.
    virtual QString in_subquery(const QString& column, const QString& subquery) const = 0;
    // The numbers of the most recent patients (at most `limit`, newest
    // first) whose name, phone or mobile holds `text` (three characters or
    // more), through the engine's trigram index.
    virtual SqlPart patients_holding(const QString& text, int limit) const = 0;
    // The condition that one of `columns` holds `text` anywhere, in any
    // letter case (for a scan of a few rows).
    virtual SqlPart any_column_holds(const QStringList& columns, const QString& text) const = 0;
    // Lets the report files' queries read this connection's scratch tables.
    virtual DbError let_reports_read_scratch(const QStringList& tables) const = 0;

    // A report's queries read only, and each is cut off after
    // `max_milliseconds`: set up on `db` (the shared connection when
    // `shared`). Returns whether the reading is nested in the shared
    // connection's open transaction.
    virtual bool begin_reading(QSqlDatabase& db, bool shared, int max_milliseconds) const = 0;
    virtual void end_reading(QSqlDatabase& db, bool shared, bool nested) const = 0;
    // Whether `table` has a column of this name, in any letter case.
    virtual bool has_column(const QSqlDatabase& db, const QString& table, const QString& column) const = 0;

    // The schema in this engine's SQL (the schema itself is data: schema.h).
    // What comes before the tables (the functions a server lacks).
    virtual QStringList prelude() const = 0;
    // A column's type, with its NOT NULL (and PRIMARY KEY for a key).
    virtual QString column_type(ColumnKind kind) const = 0;
    // CREATE TABLE IF NOT EXISTS of these columns; `keyed`: the table has a
    // key of its own (else it is read in the order stored, by its rowid).
    virtual QString create_table(const QString& table, const QStringList& columns, bool keyed) const = 0;
    virtual QString add_column(const QString& table, const QString& column) const = 0;
    virtual QString index_columns(const IndexDef& index) const = 0;
    // The patients' text search, and building it again from the rows.
    virtual QStringList search_statements(const TextSearch& search) const = 0;
    virtual QStringList rebuild_search(const TextSearch& search) const = 0;
    // What a schema step changes in this engine's own earlier form.
    virtual QString own_upgrade(const SchemaStep& step) const = 0;
    // The current date and time as an SQL text value ("2026-12-10 14:05:00").
    virtual QString now_text() const = 0;
    // Says whose database it is and which schema version it holds: in a new
    // database, or one brought up to it.
    virtual QStringList stamp(int version, bool new_database) const = 0;
};

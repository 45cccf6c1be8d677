#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Database;

// The laboratory's schema, each table, column, index and the patients' text
// search written once, as data, with the version of the schema that brought
// it in. Each engine writes its own SQL from it (Database's DDL part): a new
// database of any version, and the steps that bring one version to the next.
//
// Every text column compares without regard to case, as the laboratory's
// queries always have. Dates are ISO YYYY-MM-DD text. No column holds a null.

// What a column holds, as each engine spells it.
enum class ColumnKind {
    Id,     // a row's own number, given by the database (the file's rowid)
    Key,    // a number the program gives, the table's primary key
    Number, // a whole number
    Words,  // text compared without regard to case
    Text,   // text compared as it is
    Date,   // an ISO date or date and time (a server compares it as it is)
    Bytes,  // bytes as they came
};

struct ColumnDef {
    const char* name;
    ColumnKind kind;
    const char* preset = nullptr; // its DEFAULT (SQL), or none: every insert names it
    int since = 0;                // the schema version that added it to an existing table
    bool primary = false;         // a text primary key
    bool unique = false;
    const char* check = nullptr; // a CHECK condition
};

struct TableDef {
    QString name;
    int since = 0;
    QList<ColumnDef> columns;
    const char* primary_key = nullptr; // a key of several columns
    // Whether the table has a key of its own (else a server adds the rowid a file has implicitly).
    bool keyed() const;
};

struct IndexDef {
    QString name;
    const char* table;
    const char* columns;
    int since = 0;
    const char* where = nullptr;
    // A server's columns where they differ: its tables read in the order
    // stored carry that order in the index.
    const char* server_columns = nullptr;
};

// Finding a patient by any part of the name, the phone or the mobile number
// as the front desk types: a trigram index kept in step with registration.
struct TextSearch {
    const char* name;
    const char* table;
    const char* key;
    QStringList columns;
    int since = 0;
};

// Statements beyond the tables: rows a new version brings, and what one
// engine must change where its own earlier form differs. "%now%" is the
// engine's current date and time as text.
struct SchemaStep {
    int version;
    const char* both = nullptr;
    const char* file = nullptr;
    const char* server = nullptr;
    bool rebuild_search = false; // the file's search index is built again
};

const QList<TableDef>& schema_tables();
const QList<IndexDef>& schema_indexes();
const TextSearch& schema_search();
const QList<SchemaStep>& schema_steps();

// The statements that make a new, empty database of `version` (by default
// this program's) on `engine`, stamped with it.
QStringList schema_statements(const Database& engine, int version);
QStringList schema_statements(const Database& engine);
// The statements that bring a database of `version` up to this program's,
// stamped with it (to be run in one transaction).
QStringList upgrade_statements(const Database& engine, int version);

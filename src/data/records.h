#pragma once

#include "db_error.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>
#include <utility>

// The record operations every screen uses. Each call runs its statement, reads
// what it needs and finishes it before returning: no statement stays open
// while the user looks at a screen, since a half-read result holds a read lock
// that blocks every other workstation's save. Every value is bound.

// One row read from a result, reachable by 0-based position or by column name.
struct Row {
    QStringList names;
    QVariantList values;

    QVariant value(int position) const { return values.value(position); }
    QVariant value(const QString& name) const;
    // Every value turned into text for display; nulls read as empty text.
    QString text(int position) const;
    QString text(const QString& name) const;
};

// A value read from the database as the screens and reports show it: nulls
// as empty text, reals without a trailing ".0".
QString value_text(const QVariant& value);
// A text as a column stores it: never NULL (an empty box is empty text).
inline QString stored_text(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// A read-only snapshot for a list on screen: column names and every value as text.
struct Table {
    QStringList columns;
    QList<QStringList> rows;
};

// Column name and the value to write into it.
using Fields = QList<std::pair<QString, QVariant>>;

DbResult<QList<Row>> select_rows(const QString& sql, const QVariantList& binds = {});
// One statement that reads nothing, on `db` (a connection of the admin tool's
// or a check's own) rather than the shared one.
DbError execute_on(const QSqlDatabase& db, const QString& sql, const QVariantList& binds = {});
DbResult<std::optional<Row>> select_first(const QString& sql, const QVariantList& binds = {});
DbError execute(const QString& sql, const QVariantList& binds = {});

// A list on screen (the grids of Show all and of the utility lists). Lists can
// be long, so a list is read in two steps, each a statement that finishes at
// once: the ordered keys of every row, then the rows of a screenful of keys.
struct ListQuery {
    QString table; // a table of the schema
    QString key;   // the column (or rowid) that identifies the rows, and orders them by default
    QString where; // the program's own condition, with ? for every value; empty: all rows
    QVariantList binds;
    QStringList columns; // the columns shown; empty: every column
    // Columns of another table shown after them, each found through a column
    // of this one: (SELECT column FROM table WHERE table.key = this.by).
    struct LookedUp {
        QString name, table, column, key, by;
    };
    QList<LookedUp> looked_up;
    QString order; // a column to order by before the key
    bool descending = false;
    int limit = 0; // at most this many rows (0: all)
};

DbResult<QList<qint64>> list_keys(const ListQuery& list);
// Where reading a list's keys a part at a time has got to: the order column's
// value and the key of the last row read. Each part is one statement that
// starts after that row (keyset paging), so a long list's first screenful
// never waits for the rest, and rows saved or deleted between two parts
// neither repeat nor shift the list.
struct ListCursor {
    QVariant order_value;
    qint64 key = 0;
    bool started = false;
};
// At most `count` keys of the list after `cursor`, in the list's order; the
// cursor moves to the last of them. Fewer than `count` (or the list's own
// limit reached) means the list is read to its end.
DbResult<QList<qint64>> next_list_keys(const ListQuery& list, ListCursor& cursor, int count);
// Every column of the rows with these keys, in the order of `keys`, as text
// (dates in the system's short form); a row deleted since reads as empty cells.
// The column names come back even when no key is given.
DbResult<Table> list_rows(const ListQuery& list, const QList<qint64>& keys);

// Every row of the list, in its order, as it is read (one statement, to its
// end): `on_row` gets each row's values as stored (dates as ISO text), and
// returns false to stop reading.
DbError read_list(const ListQuery& list, const std::function<bool(const QStringList& cells)>& on_row);

// Row operations on a table of the schema (anything else is refused, so a
// table name can never carry SQL).
DbError add_row(const QString& table, const Fields& fields);
// Changing rows that do not exist is a NotFound error.
DbError change_rows(const QString& table, const Fields& fields, const QString& key_column,
                    const QVariant& key);
DbError delete_rows(const QString& table, const QString& key_column, const QVariant& key);

// The schema's name for a table, matched without regard to case; empty when
// the name is not one of the schema's tables.
QString known_table(const QString& name);

// While on, `db` runs nothing but reading statements: SELECT, and PRAGMA
// table_info to learn a table's columns. ATTACH, every write and every
// statement that could create a file is refused. For the report files'
// queries, which the laboratory edits.
void allow_only_reading(const QSqlDatabase& db, bool on);
// From now on, every statement on `db` is interrupted (SQLite's "interrupted"
// error) once `milliseconds` have passed; 0 lifts the limit. For the report
// files' queries: a query without end never hangs the program.
void limit_statement_time(const QSqlDatabase& db, int milliseconds);

// Whether a prepared statement only reads (no write, no VACUUM INTO a file).
bool statement_only_reads(const QSqlQuery& query);

// BEGIN IMMEDIATE ... COMMIT, or ROLLBACK when it goes out of scope uncommitted.
// Immediate, because a deferred BEGIN can fail at once with "database is
// locked" when two workstations save together; an immediate one waits for the
// busy timeout instead.
class Transaction {
public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    const DbError& begin_error() const { return begin_error_; }
    DbError commit();

private:
    QSqlDatabase db_;
    DbError begin_error_;
    bool active_ = false;
    bool joined_ = false; // begun inside another: the outer one stores or drops the whole
};

// Runs `work` in one write transaction on `db` (not the shared connection: no
// check of the damage marker or of this workstation's registration).
DbError in_transaction_on(const QSqlDatabase& db, const std::function<DbError()>& work);

// Runs `work` in one transaction: all of it is stored, or none of it. Inside
// another transaction, `work` joins it.
template <typename Work> DbError in_transaction(Work&& work) {
    Transaction t;
    if (!t.begin_error().ok()) return t.begin_error();
    DbError e = std::forward<Work>(work)();
    if (!e.ok()) return e;
    return t.commit();
}

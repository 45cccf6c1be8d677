#include "records.h"

#include "connection.h"
#include "database.h"
#include "dates.h"
#include "investigations.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

#include <sqlite3.h>

#include <type_traits>

namespace {

// The shared tables of the schema, spelled as the schema spells them; the
// test tables come from their own list.
constexpr const char* kCoreTables[] = {"registration", "test_main",      "doctors",        "temp",
                                       "change_log",   "report_signoff", "critical_calls", "pending_results",
                                       "orders",       "order_samples",  "order_tests",    "order_pushes",
                                       "doctor_emails"};

bool plain_identifier(const QString& name) {
    if (name.isEmpty()) return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_') return false;
    return true;
}

DbError run(QSqlQuery& q, const QString& sql, const QVariantList& binds) {
    // A server prepares only queries and row changes: a statement without
    // values (CREATE TEMP TABLE ...) runs as it is.
    if (binds.isEmpty() && q.driver() && q.driver()->dbmsType() == QSqlDriver::PostgreSQL)
        return q.exec(sql) ? DbError{} : error_of(q.lastError());
    if (!q.prepare(sql)) return error_of(q.lastError());
    for (const QVariant& b : binds)
        q.addBindValue(b);
    if (!q.exec()) return error_of(q.lastError());
    return {};
}

// Runs one statement that reads nothing on the shared connection; `affected`
// receives the number of rows it changed.
DbError run_statement(const QString& sql, const QVariantList& binds, int* affected = nullptr) {
    auto db = database();
    if (!db.ok()) return db.error;
    QSqlQuery q(db.value);
    DbError e = run(q, sql, binds);
    if (e.ok() && affected) *affected = q.numRowsAffected();
    return e;
}

// The schema's spelling of `table`, checked with every column name the
// statement will carry: neither can ever bring SQL of its own.
DbResult<QString> checked_names(const QString& table, const QStringList& columns) {
    const QString t = known_table(table);
    if (t.isEmpty()) return {{}, DbError::other(QStringLiteral("no such table: %1").arg(table))};
    for (const QString& c : columns)
        if (!plain_identifier(c)) return {{}, DbError::other(QStringLiteral("bad column name: %1").arg(c))};
    return {t, {}};
}

// What a list shows after its key: its own columns (all of them when none
// are named), then the columns it looks up in other tables.
DbResult<QString> shown_columns(const ListQuery& list) {
    QStringList shown = {list.columns.isEmpty() ? QStringLiteral("*") : list.columns.join(u", ")};
    const QString own = known_table(list.table);
    for (const ListQuery::LookedUp& l : list.looked_up) {
        const QString other = known_table(l.table);
        for (const QString& name : {l.name, l.column, l.key, l.by})
            if (!plain_identifier(name) || other.isEmpty())
                return {{}, DbError::other(QStringLiteral("bad looked-up column: %1").arg(l.name))};
        shown << QStringLiteral("(SELECT %1.%2 FROM %1 WHERE %1.%3 = %4.%5) AS %6")
                     .arg(other, l.column, l.key, own, l.by, l.name);
    }
    return {shown.join(u", "), {}};
}

} // namespace

DbError execute_on(const QSqlDatabase& db, const QString& sql, const QVariantList& binds) {
    QSqlQuery q(db);
    return run(q, sql, binds);
}

QVariant Row::value(const QString& name) const {
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(name, Qt::CaseInsensitive) == 0) return values[i];
    return {};
}

QString value_text(const QVariant& v) {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::Double) return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

QString Row::text(int position) const {
    return value_text(value(position));
}
QString Row::text(const QString& name) const {
    return value_text(value(name));
}

QString known_table(const QString& name) {
    for (const char* t : kCoreTables)
        if (name.compare(QLatin1String(t), Qt::CaseInsensitive) == 0) return QString::fromLatin1(t);
    if (const Investigation* t = catalogue::by_table(name)) return QString::fromLatin1(t->table);
    return {};
}

DbResult<QList<Row>> select_rows(const QString& sql, const QVariantList& binds) {
    auto db = database();
    if (!db.ok()) return {{}, db.error};
    QSqlQuery q(db.value);
    q.setForwardOnly(true);
    if (DbError e = run(q, sql, binds); !e.ok()) return {{}, e};
    DbResult<QList<Row>> out;
    const QSqlRecord record = q.record();
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    while (q.next()) {
        Row row{names, {}};
        row.values.reserve(names.size());
        for (int i = 0; i < names.size(); ++i)
            row.values << q.value(i);
        out.value << row;
    }
    if (q.lastError().isValid()) out.error = error_of(q.lastError());
    return out;
}

DbResult<std::optional<Row>> select_first(const QString& sql, const QVariantList& binds) {
    auto rows = select_rows(sql, binds);
    if (!rows.ok()) return {std::nullopt, rows.error};
    if (rows.value.isEmpty()) return {std::nullopt, {}};
    return {rows.value.first(), {}};
}

DbError execute(const QString& sql, const QVariantList& binds) {
    return run_statement(sql, binds);
}

namespace {

sqlite3* sqlite_handle(const QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    return handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
               ? *static_cast<sqlite3* const*>(handle.constData())
               : nullptr;
}

QString cell_text(sqlite3_stmt* stmt, int i);

// One row of a statement being read: through SQLite's own interface on a
// file, through Qt's driver on a server.
class Cells {
public:
    explicit Cells(sqlite3_stmt* stmt) : stmt_(stmt) {}
    explicit Cells(const QSqlQuery* query) : query_(query) {}
    QString text(int i) const { return stmt_ ? cell_text(stmt_, i) : value_text(query_->value(i)); }
    qint64 int64(int i) const {
        return stmt_ ? sqlite3_column_int64(stmt_, i) : query_->value(i).toLongLong();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    const QSqlQuery* query_ = nullptr;
};

// The server's way of reading a query to its end: forward only, finished
// before returning.
template <typename OnRow>
DbError read_through_driver(const QSqlDatabase& db, const QString& sql, const QVariantList& binds,
                            QStringList* names, OnRow&& row) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (DbError e = run(q, sql, binds); !e.ok()) return e;
    if (names) {
        const QSqlRecord record = q.record();
        for (int i = 0; i < record.count(); ++i)
            *names << record.fieldName(i);
    }
    const Cells cells(&q);
    while (q.next()) {
        if constexpr (std::is_same_v<decltype(row(cells)), bool>) {
            if (!row(cells)) break;
        } else {
            row(cells);
        }
    }
    const DbError e = q.lastError().isValid() ? error_of(q.lastError()) : DbError{};
    q.finish();
    return e;
}

// Runs one query to its end straight through SQLite's own interface on the
// shared connection (Qt's per-value QVariant round trip costs more than the
// read itself on long lists) and finishes it before returning. `names`
// receives the column names; `row` is called with each row's cells, and may
// return false to stop reading there.
template <typename OnRow>
DbError read_through(const QString& sql, const QVariantList& binds, QStringList* names, OnRow&& row) {
    auto db = database();
    if (!db.ok()) return db.error;
    sqlite3* h = sqlite_handle(db.value);
    if (!h) return read_through_driver(db.value, sql, binds, names, std::forward<OnRow>(row));
    sqlite3_stmt* stmt = nullptr;
    auto fail = [h, &stmt] {
        const DbError e =
            noticed(DbError::from_code(sqlite3_extended_errcode(h), QString::fromUtf8(sqlite3_errmsg(h))));
        sqlite3_finalize(stmt);
        return e;
    };
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(h, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK) return fail();
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& b = binds[i];
        int rc;
        if (b.isNull())
            rc = sqlite3_bind_null(stmt, i + 1);
        else if (b.typeId() == QMetaType::Double)
            rc = sqlite3_bind_double(stmt, i + 1, b.toDouble());
        else if (b.typeId() == QMetaType::Int || b.typeId() == QMetaType::LongLong)
            rc = sqlite3_bind_int64(stmt, i + 1, b.toLongLong());
        else {
            const QByteArray v = b.toString().toUtf8();
            rc = sqlite3_bind_text(stmt, i + 1, v.constData(), int(v.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK) return fail();
    }
    if (names)
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            *names << QString::fromUtf8(sqlite3_column_name(stmt, i));
    const Cells cells(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if constexpr (std::is_same_v<decltype(row(cells)), bool>) {
            if (!row(cells)) {
                rc = SQLITE_DONE;
                break;
            }
        } else {
            row(cells);
        }
    }
    if (rc != SQLITE_DONE) return fail();
    sqlite3_finalize(stmt);
    return {};
}

// The functions a report's query may call: what laying out the laboratory's
// data needs, and nothing that reaches outside it, hands out addresses or
// makes memory on demand (fts3_tokenizer, load_extension, randomblob, zeroblob...).
constexpr const char* kReportFunctions[] = {
    "abs",        "avg",         "char",    "coalesce",     "count",     "date",         "datetime",
    "dense_rank", "first_value", "glob",    "group_concat", "hex",       "ifnull",       "iif",
    "instr",      "julianday",   "lag",     "last_value",   "lead",      "length",       "like",
    "lower",      "ltrim",       "max",     "min",          "nth_value", "ntile",        "nullif",
    "printf",     "format",      "quote",   "rank",         "replace",   "round",        "row_number",
    "rtrim",      "strftime",    "substr",  "substring",    "sum",       "time",         "total",
    "trim",       "typeof",      "unicode", "unixepoch",    "upper",     "percent_rank", "cume_dist",
};

bool report_function(const char* name) {
    if (!name) return false;
    for (const char* f : kReportFunctions)
        if (qstricmp(name, f) == 0) return true;
    return false;
}

int reading_only(void*, int action, const char* a, const char* b, const char*, const char*) {
    switch (action) {
    case SQLITE_READ:
        // A report may name the people who signed it, never read their password hashes.
        if (a && b && qstricmp(a, "users") == 0 && qstricmp(b, "password_hash") == 0) return SQLITE_DENY;
        return SQLITE_OK;
    case SQLITE_SELECT:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION:
        return report_function(b) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_PRAGMA:
        // Only a question, never a setting: PRAGMA table_info(x).
        return a && (qstricmp(a, "table_info") == 0 || qstricmp(a, "table_xinfo") == 0) && b ? SQLITE_OK
                                                                                             : SQLITE_DENY;
    default:
        return SQLITE_DENY;
    }
}

QString cell_text(sqlite3_stmt* stmt, int i) {
    if (sqlite3_column_type(stmt, i) == SQLITE_FLOAT) return value_text(sqlite3_column_double(stmt, i));
    const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
    return QString::fromUtf8(chars, sqlite3_column_bytes(stmt, i));
}

// The checked table and key of a list; the condition is the program's own text.
DbResult<QString> list_from(const ListQuery& list) {
    auto t = checked_names(list.table, {list.key});
    if (!t.ok()) return t;
    QString from = t.value;
    if (!list.where.isEmpty()) from += QStringLiteral(" WHERE ") + list.where;
    return {from, {}};
}

} // namespace

namespace {

struct Deadline {
    QElapsedTimer started;
    qint64 limit_ms = 0;
};

int past_deadline(void* deadline) {
    const auto* d = static_cast<const Deadline*>(deadline);
    return d->started.elapsed() > d->limit_ms ? 1 : 0;
}

} // namespace

void limit_statement_time(const QSqlDatabase& db, int milliseconds) {
    static QHash<sqlite3*, Deadline> deadlines;
    sqlite3* h = sqlite_handle(db);
    if (!h) return;
    if (milliseconds <= 0) {
        sqlite3_progress_handler(h, 0, nullptr, nullptr);
        deadlines.remove(h);
        return;
    }
    Deadline& d = deadlines[h];
    d.started.start();
    d.limit_ms = milliseconds;
    sqlite3_progress_handler(h, 10000, past_deadline, &d);
}

void allow_only_reading(const QSqlDatabase& db, bool on) {
    if (sqlite3* h = sqlite_handle(db)) sqlite3_set_authorizer(h, on ? reading_only : nullptr, nullptr);
}

bool statement_only_reads(const QSqlQuery& query) {
    // A server's report query runs in a read-only transaction: the server
    // refuses any write when the query runs.
    // A query that could put the login's own role back (set_config('role',
    // ...), or that spells a name in escapes that could hide it) is refused.
    if (query.driver() && query.driver()->dbmsType() == QSqlDriver::PostgreSQL) {
        const QString text = query.lastQuery().toLower();
        return !text.contains(QLatin1String("set_config")) && !text.contains(QLatin1String("u&"));
    }
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3_stmt*") != 0) return false;
    auto* stmt = *static_cast<sqlite3_stmt* const*>(handle.constData());
    return stmt && sqlite3_stmt_readonly(stmt);
}

namespace {

// The positions of the columns a list shows, after its key (position 0): a
// server's table lists its rowid among its columns, a file's keeps it hidden.
QList<int> shown_positions(const QStringList& names) {
    QList<int> out;
    for (int i = 1; i < names.size(); ++i)
        if (names[i].compare(QLatin1String("rowid"), Qt::CaseInsensitive) != 0) out << i;
    return out;
}

// The column a list is ordered by before its key (empty: the key alone),
// checked to be a plain name.
DbResult<QString> order_column(const ListQuery& list) {
    if (!list.order.isEmpty() && !plain_identifier(list.order))
        return {{}, DbError::other(QStringLiteral("bad column name: %1").arg(list.order))};
    return {list.order.compare(list.key, Qt::CaseInsensitive) == 0 ? QString() : list.order, {}};
}

// "order, key" or "key", each descending when the list is.
QString order_by(const ListQuery& list, const QString& column) {
    const QString direction = list.descending ? QStringLiteral(" DESC") : QString();
    return column.isEmpty() ? list.key + direction
                            : column + direction + QStringLiteral(", ") + list.key + direction;
}

// "FROM ... WHERE ... ORDER BY ... LIMIT ..." of a list, its rows in the order shown.
DbResult<QString> list_from_in_order(const ListQuery& list) {
    auto from = list_from(list);
    if (!from.ok()) return from;
    auto column = order_column(list);
    if (!column.ok()) return column;
    const QString limit = list.limit > 0 ? QStringLiteral(" LIMIT %1").arg(list.limit) : QString();
    return {QStringLiteral("%1 ORDER BY %2%3").arg(from.value, order_by(list, column.value), limit), {}};
}

} // namespace

DbResult<QList<qint64>> list_keys(const ListQuery& list) {
    auto from = list_from_in_order(list);
    if (!from.ok()) return {{}, from.error};
    DbResult<QList<qint64>> out;
    out.error = read_through(QStringLiteral("SELECT %1 FROM %2").arg(list.key, from.value), list.binds,
                             nullptr, [&](const Cells& c) { out.value << c.int64(0); });
    if (!out.ok()) out.value.clear();
    return out;
}

DbResult<QList<qint64>> next_list_keys(const ListQuery& list, ListCursor& cursor, int count) {
    auto t = checked_names(list.table, {list.key});
    if (!t.ok()) return {{}, t.error};
    const auto column = order_column(list);
    if (!column.ok()) return {{}, column.error};
    const QString& order = column.value;
    // Every column a list is ordered by is NOT NULL in the schema, so a row
    // value comparison follows the order exactly (in the column's collation,
    // as ORDER BY does), and an index on the order answers it.
    QStringList where;
    QVariantList binds = list.binds;
    if (!list.where.isEmpty()) where << u'(' + list.where + u')';
    const QString after = list.descending ? QStringLiteral("<") : QStringLiteral(">");
    if (cursor.started && order.isEmpty()) {
        where << QStringLiteral("%1 %2 ?").arg(list.key, after);
        binds << cursor.key;
    } else if (cursor.started) {
        where << QStringLiteral("(%1, %2) %3 (?, ?)").arg(order, list.key, after);
        binds << cursor.order_value << cursor.key;
    }
    const QString sql =
        QStringLiteral("SELECT %1%2 FROM %3%4 ORDER BY %5 LIMIT %6")
            .arg(list.key, order.isEmpty() ? QString() : QStringLiteral(", ") + order, t.value,
                 where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QLatin1String(" AND ")),
                 order_by(list, order))
            .arg(count);
    DbResult<QList<qint64>> out;
    out.value.reserve(count);
    QVariant last_order;
    out.error = read_through(sql, binds, nullptr, [&](const Cells& c) {
        out.value << c.int64(0);
        if (!order.isEmpty()) last_order = c.text(1);
    });
    if (!out.ok()) {
        out.value.clear();
        return out;
    }
    if (!out.value.isEmpty()) {
        cursor.started = true;
        cursor.key = out.value.last();
        cursor.order_value = last_order;
    }
    return out;
}

DbError read_list(const ListQuery& list, const std::function<bool(const QStringList& cells)>& on_row) {
    auto from = list_from_in_order(list);
    if (!from.ok()) return from.error;
    auto checked = checked_names(list.table, QStringList{list.key} + list.columns);
    if (!checked.ok()) return checked.error;
    auto shown_sql = shown_columns(list);
    if (!shown_sql.ok()) return shown_sql.error;
    const QString shown = shown_sql.value;
    QStringList names;
    QList<int> shown_at;
    QStringList cells;
    return read_through(QStringLiteral("SELECT %1, %2 FROM %3").arg(list.key, shown, from.value), list.binds,
                        &names, [&](const Cells& c) {
                            if (shown_at.isEmpty()) shown_at = shown_positions(names);
                            cells.resize(shown_at.size());
                            for (int i = 0; i < shown_at.size(); ++i)
                                cells[i] = c.text(shown_at[i]);
                            return on_row(cells);
                        });
}

DbResult<Table> list_rows(const ListQuery& list, const QList<qint64>& keys) {
    const QString t = known_table(list.table);
    auto checked = checked_names(list.table, QStringList{list.key} + list.columns);
    if (!checked.ok()) return {{}, checked.error};
    auto shown_sql = shown_columns(list);
    if (!shown_sql.ok()) return {{}, shown_sql.error};
    const QString shown = shown_sql.value;
    QStringList marks;
    QVariantList binds;
    for (qint64 k : keys) {
        marks << QStringLiteral("?");
        binds << k;
    }
    if (marks.isEmpty()) marks << QStringLiteral("NULL");
    QStringList names;
    QList<int> shown_at;
    QHash<qint64, QStringList> by_key;
    QList<bool> is_date;
    // Dates repeat a great deal in a long list: format each one once.
    QHash<QString, QString> shown_dates;
    const DbError e = read_through(
        QStringLiteral("SELECT %1, %2 FROM %3 WHERE %1 IN (%4)").arg(list.key, shown, t, marks.join(u',')),
        binds, &names, [&](const Cells& c) {
            if (shown_at.isEmpty()) {
                shown_at = shown_positions(names);
                for (int i : shown_at)
                    is_date << is_date_column(names[i]);
            }
            QStringList cells;
            cells.reserve(shown_at.size());
            for (int i = 0; i < shown_at.size(); ++i) {
                QString cell = c.text(shown_at[i]);
                if (is_date[i]) {
                    auto it = shown_dates.find(cell);
                    if (it == shown_dates.end()) it = shown_dates.insert(cell, display_date(cell));
                    cell = *it;
                }
                cells << cell;
            }
            by_key.insert(c.int64(0), cells);
        });
    if (!e.ok()) return {{}, e};
    DbResult<Table> out;
    for (int i : shown_positions(names))
        out.value.columns << names[i];
    out.value.rows.reserve(keys.size());
    // A row deleted since the keys were read shows as an empty line.
    for (qint64 k : keys)
        out.value.rows << by_key.value(k, QStringList(out.value.columns.size(), QString()));
    return out;
}

DbError add_row(const QString& table, const Fields& fields) {
    QStringList columns, marks;
    QVariantList binds;
    for (const auto& [column, value] : fields) {
        columns << column;
        marks << QStringLiteral("?");
        binds << value;
    }
    const auto t = checked_names(table, columns);
    if (!t.ok()) return t.error;
    return execute(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                       .arg(t.value, columns.join(u", "), marks.join(u", ")),
                   binds);
}

DbError change_rows(const QString& table, const Fields& fields, const QString& key_column,
                    const QVariant& key) {
    QStringList columns{key_column}, sets;
    QVariantList binds;
    for (const auto& [column, value] : fields) {
        columns << column;
        sets << column + QStringLiteral(" = ?");
        binds << value;
    }
    binds << key;
    const auto t = checked_names(table, columns);
    if (!t.ok()) return t.error;
    int affected = 0;
    const QString sql =
        QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?").arg(t.value, sets.join(u", "), key_column);
    if (DbError e = run_statement(sql, binds, &affected); !e.ok()) return e;
    if (affected == 0)
        return {DbError::Kind::NotFound, 0, QStringLiteral("no row of %1 has that key").arg(t.value)};
    return {};
}

DbError delete_rows(const QString& table, const QString& key_column, const QVariant& key) {
    const auto t = checked_names(table, {key_column});
    if (!t.ok()) return t.error;
    return execute(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(t.value, key_column), {key});
}

namespace {
int open_transactions = 0; // on the shared connection, begun and not ended
} // namespace

Transaction::Transaction() {
    if (open_transactions > 0) {
        joined_ = true;
        ++open_transactions;
        return;
    }
    // Another workstation (or the admin tool's check) may have found the file
    // damaged since this one opened it.
    notice_damage_marker();
    auto db = database();
    if (!db.ok()) {
        begin_error_ = db.error;
        return;
    }
    db_ = db.value;
    QSqlQuery q(db_);
    for (const QString& statement : Database::of(db_).begin_write()) {
        if (!q.exec(statement)) {
            begin_error_ = error_of(q.lastError());
            if (active_) q.exec(QStringLiteral("ROLLBACK"));
            active_ = false;
            return;
        }
        active_ = true;
    }
    ++open_transactions;
    // A file restored under the running program takes nothing the screen
    // prepared against the file it had before.
    if (!connection_watcher().writing) return;
    if (DbError e = connection_watcher().writing(); !e.ok()) {
        begin_error_ = e;
        q.exec(QStringLiteral("ROLLBACK"));
        active_ = false;
        --open_transactions;
        if (connection_watcher().refused) connection_watcher().refused(); // the error tells the user
    }
}

Transaction::~Transaction() {
    if (joined_) {
        --open_transactions;
        return;
    }
    if (!active_) return;
    --open_transactions;
    QSqlQuery q(db_);
    q.exec(QStringLiteral("ROLLBACK"));
}

DbError in_transaction_on(const QSqlDatabase& db, const std::function<DbError()>& work) {
    QSqlQuery q(db);
    for (const QString& statement : Database::of(db).begin_write())
        if (!q.exec(statement)) {
            const DbError e = error_of(q.lastError());
            q.exec(QStringLiteral("ROLLBACK"));
            return e;
        }
    DbError e = work();
    if (e.ok() && !q.exec(QStringLiteral("COMMIT"))) e = error_of(q.lastError());
    if (!e.ok()) q.exec(QStringLiteral("ROLLBACK"));
    return e;
}

DbError Transaction::commit() {
    if (joined_) return {};
    if (!active_) return begin_error_.ok() ? DbError::other(QStringLiteral("no transaction")) : begin_error_;
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("COMMIT"))) return error_of(q.lastError());
    active_ = false;
    --open_transactions;
    return {};
}

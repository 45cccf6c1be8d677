#include "records.h"

#include "dates.h"
#include "tavora_module.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <sqlite3.h>

namespace {

// Every table of the schema, spelled as the schema spells it.
constexpr const char* kTables[] = {
    "registration",
    "test_main",
    "doctors",
    "temp",
    "blood_sugar_report",
    "biochemistry_report",
    "Thyroid_hormone_profile",
    "Routine_haemotology",
    "RBC_indices",
    "prothrombin_time",
    "peripheral_blood_smear",
    "Serology",
    "widal_test",
    "urinalysis",
    "stool_routine",
    "culture_and_antibiotic_sensitivity_pattern",
};

bool plain_identifier(const QString& name) {
    if (name.isEmpty()) return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_') return false;
    return true;
}

DbError run(QSqlQuery& q, const QString& sql, const QVariantList& binds) {
    if (!q.prepare(sql)) return DbError::from(q.lastError());
    for (const QVariant& b : binds)
        q.addBindValue(b);
    if (!q.exec()) return DbError::from(q.lastError());
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

} // namespace

DbError DbError::from(const QSqlError& error) {
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric);
    return from_code(numeric ? code : 0,
                     error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

DbError DbError::from_code(int code, const QString& description) {
    DbError e{Kind::Other, code, description};
    const int primary = e.code & 0xff;
    if (e.code == 1555 || e.code == 2067)
        e.kind = Kind::Duplicate;
    else if (primary == 5 || primary == 6)
        e.kind = Kind::Busy;
    return e;
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
    for (const char* t : kTables)
        if (name.compare(QLatin1String(t), Qt::CaseInsensitive) == 0) return QString::fromLatin1(t);
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
    if (q.lastError().isValid()) out.error = DbError::from(q.lastError());
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

// Lists can be long (every patient ever registered), so the grid's snapshot is
// read straight through SQLite's own interface on the shared connection: Qt's
// per-value QVariant round trip costs more than the read itself.
DbResult<Table> grid_query(const QString& sql, const QVariantList& binds) {
    auto db = database();
    if (!db.ok()) return {{}, db.error};
    const QVariant handle = db.value.driver()->handle();
    sqlite3* h = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
                     ? *static_cast<sqlite3* const*>(handle.constData())
                     : nullptr;
    if (!h) return {{}, DbError::other(QStringLiteral("the database driver is not SQLite"))};

    auto fail = [h](sqlite3_stmt* stmt) {
        const DbError e =
            DbError::from_code(sqlite3_extended_errcode(h), QString::fromUtf8(sqlite3_errmsg(h)));
        sqlite3_finalize(stmt);
        return DbResult<Table>{{}, e};
    };
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(h, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
        return fail(stmt);
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
        if (rc != SQLITE_OK) return fail(stmt);
    }

    DbResult<Table> out;
    const int n = sqlite3_column_count(stmt);
    QList<bool> is_date;
    for (int i = 0; i < n; ++i) {
        out.value.columns << QString::fromUtf8(sqlite3_column_name(stmt, i));
        is_date << is_date_column(out.value.columns.last());
    }
    // Dates repeat a great deal in a long list: format each one once.
    QHash<QString, QString> shown_dates;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QStringList cells;
        cells.reserve(n);
        for (int i = 0; i < n; ++i) {
            QString cell;
            if (sqlite3_column_type(stmt, i) == SQLITE_FLOAT) {
                cell = value_text(sqlite3_column_double(stmt, i));
            } else {
                const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                cell = QString::fromUtf8(chars, sqlite3_column_bytes(stmt, i));
            }
            if (is_date[i]) {
                auto it = shown_dates.find(cell);
                if (it == shown_dates.end()) it = shown_dates.insert(cell, display_date(cell));
                cell = *it;
            }
            cells << cell;
        }
        out.value.rows << cells;
    }
    if (rc != SQLITE_DONE) return fail(stmt);
    sqlite3_finalize(stmt);
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

Transaction::Transaction() {
    auto db = database();
    if (!db.ok()) {
        begin_error_ = db.error;
        return;
    }
    db_ = db.value;
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        begin_error_ = DbError::from(q.lastError());
        return;
    }
    active_ = true;
}

Transaction::~Transaction() {
    if (!active_) return;
    QSqlQuery q(db_);
    q.exec(QStringLiteral("ROLLBACK"));
}

DbError Transaction::commit() {
    if (!active_) return begin_error_.ok() ? DbError::other(QStringLiteral("no transaction")) : begin_error_;
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("COMMIT"))) return DbError::from(q.lastError());
    active_ = false;
    return {};
}

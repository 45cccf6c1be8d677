#include "migration.h"

#include "connection.h"
#include "investigations.h"
#include "postgres_database.h"
#include "records.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <functional>

namespace {

// The tables a laboratory's data lives in (workstations are who is running
// now, and temp a build's scratch: neither moves).
QStringList tables_to_copy() {
    QStringList tables{QStringLiteral("registration"),
                       QStringLiteral("test_main"),
                       QStringLiteral("doctors"),
                       QStringLiteral("change_log"),
                       QStringLiteral("report_signoff"),
                       QStringLiteral("critical_calls"),
                       QStringLiteral("users"),
                       QStringLiteral("settings"),
                       QStringLiteral("analyzer_messages"),
                       QStringLiteral("pending_results"),
                       QStringLiteral("analyzer_qc")};
    for (const Investigation* t : catalogue::kAll)
        tables << QString::fromLatin1(t->table);
    return tables;
}

// Tables read in the order stored: their rowid moves with them.
bool keeps_rowid(const QString& table) {
    return table == QLatin1String("test_main") || table == QLatin1String("doctors") ||
           catalogue::by_table(table) != nullptr;
}

// An order-free checksum of a table's rows: the sum of each row's SHA-256
// (its first eight bytes), the values as text, NULL apart from empty.
struct Checksum {
    quint64 sum = 0;
    qint64 rows = 0;
    void add(const QSqlQuery& q, int columns) {
        QCryptographicHash h(QCryptographicHash::Sha256);
        for (int i = 0; i < columns; ++i) {
            const QVariant v = q.value(i);
            h.addData(v.isNull() ? QByteArrayView("\x01N") : QByteArrayView("\x02"));
            if (!v.isNull()) h.addData(value_text(v).toUtf8());
        }
        const QByteArray d = h.result();
        quint64 first = 0;
        for (int i = 0; i < 8; ++i)
            first = (first << 8) | quint8(d[i]);
        sum += first;
        ++rows;
    }
    QString text() const { return QString::number(sum, 16).rightJustified(16, u'0'); }
};

QString failed(const QSqlQuery& q, const QString& what) {
    return QStringLiteral("%1: %2").arg(what, q.lastError().databaseText().trimmed());
}

// Reads every row of `table` through `db` (column list as given), calling `row`.
QString read_table(QSqlDatabase& db, const QString& table, const QStringList& columns,
                   const std::function<QString(const QSqlQuery&)>& row) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2").arg(columns.join(u", "), table)))
        return failed(q, QStringLiteral("reading %1").arg(table));
    while (q.next())
        if (QString e = row(q); !e.isEmpty()) return e;
    return {};
}

// The columns of a file table, with its rowid first where it moves.
QStringList file_columns(QSqlDatabase& db, const QString& table) {
    QStringList columns;
    if (keeps_rowid(table)) columns << QStringLiteral("rowid");
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (q.next())
        columns << q.value(1).toString();
    return columns;
}

QString copy_table(QSqlDatabase& from, QSqlDatabase& to, const QString& table, TableCopy& out) {
    const QStringList columns = file_columns(from, table);
    if (columns.size() <= (keeps_rowid(table) ? 1 : 0))
        return QStringLiteral("the file has no table %1").arg(table);
    Checksum file_sum;
    // Rows go in batches of a few hundred, one statement each.
    constexpr int kBatch = 400;
    QStringList marks;
    QVariantList values;
    QSqlQuery insert(to);
    auto flush = [&]() -> QString {
        if (marks.isEmpty()) return {};
        insert.prepare(QStringLiteral("INSERT INTO %1 (%2) OVERRIDING SYSTEM VALUE VALUES %3")
                           .arg(table, columns.join(u", "), marks.join(u", ")));
        for (const QVariant& v : values)
            insert.addBindValue(v);
        const bool ok = insert.exec();
        marks.clear();
        values.clear();
        return ok ? QString() : failed(insert, QStringLiteral("copying %1").arg(table));
    };
    QString row_marks = QStringLiteral("?");
    for (int i = 1; i < columns.size(); ++i)
        row_marks += QStringLiteral(", ?");
    row_marks = u'(' + row_marks + u')';
    QString e = read_table(from, table, columns, [&](const QSqlQuery& q) -> QString {
        file_sum.add(q, int(columns.size()));
        marks << row_marks;
        for (int i = 0; i < columns.size(); ++i)
            values << q.value(i);
        return marks.size() >= kBatch ? flush() : QString();
    });
    if (e.isEmpty()) e = flush();
    if (!e.isEmpty()) return e;
    // What the server holds now, read back the same way.
    Checksum server_sum;
    e = read_table(to, table, columns, [&](const QSqlQuery& q) {
        server_sum.add(q, int(columns.size()));
        return QString();
    });
    if (!e.isEmpty()) return e;
    if (server_sum.rows != file_sum.rows || server_sum.sum != file_sum.sum)
        return QStringLiteral(
                   "%1 reads back differently from the server (%2 rows, checksum %3; the file has %4 "
                   "rows, checksum %5)")
            .arg(table)
            .arg(server_sum.rows)
            .arg(server_sum.text())
            .arg(file_sum.rows)
            .arg(file_sum.text());
    out = {table, file_sum.rows, file_sum.text()};
    return {};
}

} // namespace

Migration migrate_to_server(const QString& file, const QString& url) {
    Migration m;
    if (!is_server_url(url)) {
        m.not_a_server = true;
        m.error = QStringLiteral("%1 is not a server's URL").arg(url);
        return m;
    }
    const QString source = QStringLiteral("migrate-from-") + QUuid::createUuid().toString(QUuid::Id128);
    const QString target = QStringLiteral("migrate-to-") + QUuid::createUuid().toString(QUuid::Id128);
    {
        QSqlDatabase from = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), source);
        QSqlDatabase to = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), target);
        if (QString e = open_database_file(from, file, true); !e.isEmpty())
            m.error = cannot_open_message(file, e);
        else if (QString e2 = open_server(to, url); !e2.isEmpty())
            m.error = cannot_reach_message(shown_url(url), e2);
        QSqlQuery q(to);
        // The file is read in one snapshot; the server written in one transaction.
        if (m.error.isEmpty() && !QSqlQuery(from).exec(QStringLiteral("BEGIN")))
            m.error = QStringLiteral("the file cannot be read in one snapshot");
        if (m.error.isEmpty()) {
            for (const QString& s : Database::of(to).begin_write())
                if (m.error.isEmpty() && !q.exec(s)) m.error = failed(q, QStringLiteral("starting the copy"));
        }
        if (m.error.isEmpty()) {
            // Only into a database without the laboratory's data: a second
            // run finds the first one's rows and refuses.
            for (const QString& t : tables_to_copy()) {
                // init's built-in logins and first settings, replaced below
                if (t == QLatin1String("users") || t == QLatin1String("settings")) continue;
                if (q.exec(QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(t)) && q.next()) {
                    m.error = QStringLiteral("the server database holds data already (%1 has rows); nothing "
                                             "was copied")
                                  .arg(t);
                    break;
                }
            }
        }
        for (const char* init_rows : {"DELETE FROM users", "DELETE FROM settings"})
            if (m.error.isEmpty() && !q.exec(QString::fromLatin1(init_rows)))
                m.error = failed(q, QStringLiteral("replacing the built-in logins and settings"));
        for (const QString& t : tables_to_copy()) {
            if (!m.error.isEmpty()) break;
            TableCopy copied;
            m.error = copy_table(from, to, t, copied);
            if (m.error.isEmpty()) m.tables << copied;
        }
        // Ids the server hands out next follow the largest copied: the
        // journal's, and the rowid of every table that moved with it.
        for (const QString& t : tables_to_copy()) {
            if (!m.error.isEmpty()) break;
            const bool own_id = t == QLatin1String("change_log") || t == QLatin1String("analyzer_messages") ||
                                t == QLatin1String("pending_results") || t == QLatin1String("analyzer_qc");
            const QString column = own_id ? QStringLiteral("id") : QStringLiteral("rowid");
            if ((keeps_rowid(t) || column == QLatin1String("id")) &&
                !q.exec(QStringLiteral(
                            "SELECT setval(pg_get_serial_sequence('%1', '%2'), coalesce(max(%2), 0) + 1, "
                            "false) FROM %1")
                            .arg(t, column)))
                m.error = failed(q, QStringLiteral("setting the next ids"));
        }
        if (m.error.isEmpty() && !q.exec(QStringLiteral("COMMIT")))
            m.error = failed(q, QStringLiteral("committing"));
        if (!m.error.isEmpty()) {
            q.exec(QStringLiteral("ROLLBACK"));
            m.tables.clear();
        }
        q.finish();
        QSqlQuery(from).exec(QStringLiteral("ROLLBACK"));
        from.close();
        to.close();
    }
    QSqlDatabase::removeDatabase(source);
    QSqlDatabase::removeDatabase(target);
    return m;
}

#include "journal.h"

#include "dialect.h"

#include "records.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

namespace {

QString& journal_user() {
    static QString user;
    return user;
}

// An empty text, never a null one (which would bind as NULL).
QString text_of(const QString& s) {
    return s.isNull() ? QString::fromLatin1("") : s;
}

} // namespace

void set_journal_user(const QString& user_name) {
    journal_user() = user_name.trimmed();
}

QString journal_user_name() {
    return stored_text(journal_user());
}

QString journal_row_hash(const QString& previous_hash, const QStringList& row) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(previous_hash.toUtf8());
    for (const QString& field : row) {
        h.addData(QByteArrayView("\x1f", 1)); // a separator no field holds
        h.addData(field.toUtf8());
    }
    return QString::fromLatin1(h.result().toHex());
}

DbError journal_change(const QString& action, const QString& table, qint64 key,
                       const QJsonObject& old_values) {
    // Local time with its offset from UTC: unambiguous across a change of
    // clocks and between workstations.
    const QDateTime now = QDateTime::currentDateTime();
    const QStringList row{now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate),
                          text_of(QSysInfo::machineHostName()),
                          text_of(journal_user()),
                          action,
                          table,
                          QString::number(key),
                          QString::fromUtf8(QJsonDocument(old_values).toJson(QJsonDocument::Compact))};
    // Inside the caller's write transaction, so no other row comes between.
    auto previous = select_first(QStringLiteral("SELECT row_hash FROM change_log ORDER BY id DESC LIMIT 1"));
    if (!previous.ok()) return previous.error;
    const QString previous_hash = previous.value ? previous.value->text(0) : QString();
    return add_row(QStringLiteral("change_log"),
                   {{QStringLiteral("changed_at"), row[0]},
                    {QStringLiteral("host"), row[1]},
                    {QStringLiteral("user_name"), row[2]},
                    {QStringLiteral("action"), action},
                    {QStringLiteral("table_name"), table},
                    {QStringLiteral("row_key"), key},
                    {QStringLiteral("old_values"), row[6]},
                    {QStringLiteral("row_hash"), journal_row_hash(previous_hash, row)}});
}

DbResult<qint64> journal_mark() {
    auto last = select_first(QStringLiteral("SELECT coalesce(max(id), 0) FROM change_log"));
    if (!last.ok()) return {0, last.error};
    return {last.value ? last.value->value(0).toLongLong() : 0, {}};
}

DbResult<bool> changed_after(const QString& table, qint64 key, qint64 mark) {
    auto found = select_first(
        QStringLiteral("SELECT 1 FROM change_log WHERE table_name = ? AND row_key = ? AND id > ? LIMIT 1"),
        {table, key, mark});
    return {found.ok() && found.value.has_value(), found.error};
}

QString verify_journal(const QSqlDatabase& db, qint64* rows) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(
            QStringLiteral("SELECT id, changed_at, host, user_name, action, table_name, row_key, old_values, "
                           "row_hash FROM change_log ORDER BY id")))
        return q.lastError().databaseText();
    QString previous;
    bool chained = false;
    qint64 count = 0;
    while (q.next()) {
        ++count;
        const QString stored = q.value(8).toString();
        if (stored.isEmpty() && !chained) continue; // written before the journal was chained
        QStringList row;
        for (int i = 1; i <= 7; ++i)
            row << q.value(i).toString();
        if (stored.isEmpty() || journal_row_hash(previous, row) != stored)
            return QStringLiteral("row %1 does not match: it, or a row before it, was edited or deleted")
                .arg(q.value(0).toLongLong());
        previous = stored;
        chained = true;
    }
    if (rows) *rows = count;
    return {};
}

QString list_journal(const QSqlDatabase& db, const JournalFilter& filter,
                     const std::function<void(const QStringList& row)>& row) {
    QString where;
    QVariantList binds;
    if (filter.patient) {
        where = QStringLiteral(" WHERE (table_name = 'registration' AND row_key = ?) OR "
                               "(table_name = 'test_main' AND %1)")
                    .arg(journal_patient_condition(dialect_of(db)));
        binds = {*filter.patient, *filter.patient};
    } else if (filter.lab_id) {
        where = QStringLiteral(" WHERE table_name = 'test_main' AND row_key = ?");
        binds = {*filter.lab_id};
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT changed_at, host, user_name, action, table_name, row_key, old_values "
                             "FROM change_log%1 ORDER BY id")
                  .arg(where));
    for (const QVariant& b : binds)
        q.addBindValue(b);
    if (!q.exec()) return q.lastError().text();
    while (q.next()) {
        QStringList fields;
        for (int i = 0; i < 7; ++i)
            fields << q.value(i).toString();
        row(fields);
    }
    return {};
}

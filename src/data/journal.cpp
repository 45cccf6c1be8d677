#include "journal.h"

#include "connection.h"
#include "database.h"

#include "records.h"
#include "settings.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>

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
    auto db = database();
    if (!db.ok()) return db.error;
    return journal_change_on(db.value, journal_user(), action, table, key, old_values);
}

DbError journal_change_on(const QSqlDatabase& db, const QString& user_name, const QString& action,
                          const QString& table, qint64 key, const QJsonObject& old_values) {
    // Local time with its offset from UTC: unambiguous across a change of
    // clocks and between workstations.
    const QDateTime now = QDateTime::currentDateTime();
    const QStringList row{now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate),
                          text_of(QSysInfo::machineHostName()),
                          text_of(user_name),
                          action,
                          table,
                          QString::number(key),
                          QString::fromUtf8(QJsonDocument(old_values).toJson(QJsonDocument::Compact))};
    // Inside the caller's write transaction, so no other row comes between.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT row_hash FROM change_log ORDER BY id DESC LIMIT 1")))
        return error_of(q.lastError());
    const QString previous_hash = q.next() ? q.value(0).toString() : QString();
    q.finish();
    return execute_on(
        db,
        QStringLiteral("INSERT INTO change_log (changed_at, host, user_name, action, table_name, "
                       "row_key, old_values, row_hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
        {row[0], row[1], row[2], row[3], row[4], key, row[6], journal_row_hash(previous_hash, row)});
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

QString JournalAnchor::text() const {
    return QStringLiteral("%1 %2").arg(rows).arg(hash.isEmpty() ? QStringLiteral("-") : hash);
}

std::optional<JournalAnchor> JournalAnchor::parse(const QString& text) {
    const QStringList parts = text.simplified().split(u' ');
    if (parts.size() != 2) return std::nullopt;
    bool number = false;
    JournalAnchor a{parts[0].toLongLong(&number), parts[1] == QLatin1String("-") ? QString() : parts[1]};
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    if (!number || a.rows < 0 || (a.rows == 0) != a.hash.isEmpty() ||
        (a.rows > 0 && !hex.match(a.hash).hasMatch()))
        return std::nullopt;
    return a;
}

DbResult<JournalAnchor> journal_anchor(const QSqlDatabase& db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT count(*), (SELECT row_hash FROM change_log ORDER BY id DESC LIMIT 1) "
                               "FROM change_log")) ||
        !q.next())
        return {{}, error_of(q.lastError())};
    return {{q.value(0).toLongLong(), q.value(1).toString()}, {}};
}

QString write_journal_anchor(const QSqlDatabase& db, const QString& file) {
    const auto anchor = journal_anchor(db);
    if (!anchor.ok()) return anchor.error.description;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write((anchor.value.text() + u'\n').toLatin1()) < 0 ||
        !out.commit())
        return out.errorString();
    return {};
}

QString write_journal_anchor_of_file(const QString& path, const QString& file) {
    const QString name = QStringLiteral("anchor-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        failure = open_database_file(db, path, true);
        if (failure.isEmpty()) failure = write_journal_anchor(db, file);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return failure;
}

QString verify_journal(const QSqlDatabase& db, qint64* rows, const std::optional<JournalAnchor>& anchor) {
    // Rows before this id were written before the journal was chained; every
    // row from it on carries its hash. Without the setting (removed), every
    // row must.
    const qint64 chain_from =
        std::max<qint64>(1, setting(db, QString::fromLatin1(kJournalChainFrom)).toLongLong());
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(
            QStringLiteral("SELECT id, changed_at, host, user_name, action, table_name, row_key, old_values, "
                           "row_hash FROM change_log ORDER BY id")))
        return q.lastError().databaseText();
    QString previous;
    qint64 count = 0;
    std::optional<QString> at_anchor; // the stored hash of the anchor's last row
    while (q.next()) {
        ++count;
        const qint64 id = q.value(0).toLongLong();
        const QString stored = q.value(8).toString();
        if (anchor && count == anchor->rows) at_anchor = stored;
        if (id < chain_from && stored.isEmpty()) continue; // written before the journal was chained
        if (stored.isEmpty())
            return QStringLiteral(
                       "row %1 has no hash, though the chain began at row %2: its hash was removed")
                .arg(id)
                .arg(chain_from);
        QStringList row;
        for (int i = 1; i <= 7; ++i)
            row << q.value(i).toString();
        if (journal_row_hash(previous, row) != stored)
            return QStringLiteral("row %1 does not match: it, or a row before it, was edited or deleted")
                .arg(id);
        previous = stored;
    }
    if (rows) *rows = count;
    if (!anchor) return {};
    if (count < anchor->rows)
        return QStringLiteral(
                   "the journal has %1 rows, the anchor %2: rows after the anchor's last were removed")
            .arg(count)
            .arg(anchor->rows);
    if (anchor->rows > 0 && at_anchor != anchor->hash)
        return QStringLiteral(
                   "row %1 of the journal is not the anchor's (its hash %2, the anchor's %3): the journal "
                   "up to the anchor was rewritten")
            .arg(anchor->rows)
            .arg(at_anchor.value_or(QString()), anchor->hash);
    return {};
}

QString list_journal(const QSqlDatabase& db, const JournalFilter& filter,
                     const std::function<void(const QStringList& row)>& row) {
    QString where;
    QVariantList binds;
    if (filter.patient) {
        where = QStringLiteral(" WHERE (table_name = 'registration' AND row_key = ?) OR "
                               "(table_name = 'test_main' AND %1)")
                    .arg(Database::of(db).journal_patient_condition());
        binds = {*filter.patient, *filter.patient};
    } else if (filter.lab_id) {
        // The report's own changes with its sign-off and its critical calls.
        where = QStringLiteral(
            " WHERE table_name IN ('test_main', 'report_signoff', 'critical_calls') AND row_key = ?");
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

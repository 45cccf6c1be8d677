#include "analyzer_results.h"

#include "connection.h"
#include "journal.h"

#include <QDateTime>
#include <QDir>

namespace {

QString now_text() {
    return QDateTime::currentDateTime().toString(Qt::ISODate);
}

const QString kPendingColumns = QStringLiteral(
    "SELECT p.id, m.analyzer, m.received_at, p.lab_id, p.code, p.value, p.units, p.flag, p.test_id, "
    "p.status FROM pending_results "
    "AS p JOIN analyzer_messages AS m ON m.id = p.message_id WHERE p.taken_at = ''");

DbResult<QList<PendingResult>> read_pending(const QString& sql, const QVariantList& binds) {
    auto rows = select_rows(sql, binds);
    if (!rows.ok()) return {{}, rows.error};
    QList<PendingResult> out;
    out.reserve(rows.value.size());
    for (const Row& r : rows.value)
        out << PendingResult{r.value(0).toLongLong(),
                             r.text(1),
                             r.text(2),
                             {r.text(3), r.text(4), r.text(5), r.text(6), r.text(7), r.text(8), r.text(9)}};
    return {out, {}};
}

} // namespace

DbResult<StoredMessage> store_analyzer_message(const ReceivedMessage& message) {
    StoredMessage out;
    const DbError e = in_transaction([&]() -> DbError {
        if (!message.key.isEmpty()) {
            auto before = select_first(
                QStringLiteral("SELECT id FROM analyzer_messages WHERE message_key = ? ORDER BY id LIMIT 1"),
                {message.key});
            if (!before.ok()) return before.error;
            if (before.value) {
                out = {before.value->value(0).toLongLong(), true};
                return {};
            }
        }
        auto row = select_first(
            QStringLiteral("INSERT INTO analyzer_messages (analyzer, protocol, received_at, raw, problem, "
                           "message_key) VALUES (?, ?, ?, ?, ?, ?) RETURNING id"),
            {message.analyzer, message.protocol, now_text(), message.raw, stored_text(message.problem),
             message.key.isEmpty() ? QStringLiteral("") : message.key});
        if (!row.ok()) return row.error;
        if (!row.value) return DbError::other(QStringLiteral("the message was not stored"));
        out.id = row.value->value(0).toLongLong();
        if (!message.problem.isEmpty()) return {};
        for (const AnalyzerResult& r : message.results)
            if (DbError failed = execute(
                    r.qc ? QStringLiteral(
                               "INSERT INTO analyzer_qc (message_id, sample_id, code, value, units, "
                               "flag, test_id, status) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                         : QStringLiteral("INSERT INTO pending_results (message_id, lab_id, code, value, "
                                          "units, flag, test_id, status) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                    {out.id, r.qc ? stored_text(r.lab_id) : canonical_lab_id(r.lab_id), stored_text(r.code),
                     stored_text(r.value), stored_text(r.units), stored_text(r.flag), stored_text(r.test_id),
                     stored_text(r.status)});
                !failed.ok())
                return failed;
        return {};
    });
    if (!e.ok()) return {{}, e};
    return {out, {}};
}

DbResult<QList<PendingResult>> pending_results_for(const QString& lab_id) {
    return read_pending(kPendingColumns + QStringLiteral(" AND p.lab_id = ? ORDER BY p.id"),
                        {canonical_lab_id(lab_id)});
}

DbResult<QList<PendingResult>> all_pending_results() {
    return read_pending(kPendingColumns + QStringLiteral(" ORDER BY p.lab_id, p.id"), {});
}

DbResult<QList<PendingResult>> latest_qc_results(int most) {
    return read_pending(
        QStringLiteral("SELECT q.id, m.analyzer, m.received_at, q.sample_id, q.code, q.value, "
                       "q.units, q.flag, q.test_id, q.status FROM analyzer_qc AS q JOIN "
                       "analyzer_messages AS m ON m.id = q.message_id ORDER BY q.id DESC LIMIT ?"),
        {most});
}

DbResult<bool> analyzers_in_use() {
    auto row =
        select_first(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM analyzer_messages LIMIT 1) AS m"));
    if (!row.ok()) return {false, row.error};
    return {row.value && row.value->value(0).toInt() > 0, {}};
}

DbError take_pending_results(const QList<qint64>& ids) {
    const QString by = journal_user_name(), at = now_text();
    for (qint64 id : ids)
        if (DbError e = execute(QStringLiteral("UPDATE pending_results SET taken_by = ?, taken_at = ? "
                                               "WHERE id = ? AND taken_at = ''"),
                                {by, at, id});
            !e.ok())
            return e;
    return {};
}

DbResult<QHash<QString, QString>> tests_of_reports(const QStringList& lab_ids) {
    // By the lab id's own index, a few hundred at a time.
    constexpr int kChunk = 500;
    QHash<QString, QString> out;
    QList<qint64> numbers;
    for (const QString& id : lab_ids) {
        bool whole = false;
        const qint64 n = id.toLongLong(&whole);
        if (whole && n > 0) numbers << n;
    }
    for (qsizetype at = 0; at < numbers.size(); at += kChunk) {
        const QList<qint64> chunk = numbers.mid(at, kChunk);
        QVariantList binds;
        for (qint64 n : chunk)
            binds << n;
        QStringList marks(chunk.size(), QStringLiteral("?"));
        auto rows = select_rows(
            QStringLiteral("SELECT lab_id, test FROM test_main WHERE lab_id IN (%1)").arg(marks.join(u',')),
            binds);
        if (!rows.ok()) return {{}, rows.error};
        for (const Row& r : rows.value)
            out.insert(r.text(0), r.text(1));
    }
    return {out, {}};
}

QString default_spool_folder() {
    return program_folder() + QStringLiteral("/analyzer-spool");
}

int messages_in_spool(const QString& folder) {
    return int(
        QDir(folder).entryList({QStringLiteral("*") + QLatin1String(kSpooledSuffix)}, QDir::Files).size());
}

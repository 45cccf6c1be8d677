#include "critical_calls.h"

#include "journal.h"
#include "records.h"

#include <QDateTime>
#include <QJsonObject>

namespace {

QJsonObject call_json(const CriticalCall& c) {
    return {
        {QStringLiteral("findings"), c.findings},           {QStringLiteral("raised_by"), c.raised_by},
        {QStringLiteral("raised_at"), c.raised_at},         {QStringLiteral("informed_by"), c.informed_by},
        {QStringLiteral("informed_whom"), c.informed_whom}, {QStringLiteral("called_at"), c.called_at},
        {QStringLiteral("recorded_by"), c.recorded_by},     {QStringLiteral("read_back"), c.read_back}};
}

const QString kTable = QStringLiteral("critical_calls");

} // namespace

DbResult<std::optional<CriticalCall>> critical_call(const QVariant& lab_id) {
    auto row =
        select_first(QStringLiteral("SELECT findings, raised_by, raised_at, informed_by, informed_whom, "
                                    "called_at, recorded_by, read_back FROM critical_calls WHERE lab_id = ?"),
                     {lab_id});
    if (!row.ok() || !row.value) return {std::nullopt, row.error};
    const Row& r = *row.value;
    return {CriticalCall{r.text(0), r.text(1), r.text(2), r.text(3), r.text(4), r.text(5), r.text(6),
                         r.value(7).toLongLong() != 0},
            {}};
}

DbError note_critical_findings(const QVariant& lab_id, const QStringList& findings) {
    auto stored = critical_call(lab_id);
    if (!stored.ok()) return stored.error;
    const QString now = findings.join(QStringLiteral("; "));
    if (stored.value && stored.value->findings == now) return {};
    if (stored.value) {
        // The findings a call was about are gone: the journal keeps the call.
        if (DbError e = journal_change(QStringLiteral("critical cleared"), kTable, lab_id.toLongLong(),
                                       call_json(*stored.value));
            !e.ok())
            return e;
        if (DbError e = execute(QStringLiteral("DELETE FROM critical_calls WHERE lab_id = ?"), {lab_id});
            !e.ok())
            return e;
    }
    if (findings.isEmpty()) return {};
    CriticalCall raised;
    raised.findings = now;
    raised.raised_by = journal_user_name();
    raised.raised_at = QDateTime::currentDateTime().toString(Qt::ISODate);
    if (DbError e = add_row(kTable, {{QStringLiteral("lab_id"), lab_id},
                                     {QStringLiteral("findings"), raised.findings},
                                     {QStringLiteral("raised_by"), raised.raised_by},
                                     {QStringLiteral("raised_at"), raised.raised_at}});
        !e.ok())
        return e;
    return journal_change(QStringLiteral("critical"), kTable, lab_id.toLongLong(), call_json(raised));
}

DbError record_critical_call(const Actor& who, const QVariant& lab_id, const QString& findings,
                             const CallRecord& call) {
    if (DbError e = require(who, Right::RecordCall); !e.ok()) return e;
    const QString recorded_by = who.login;
    return in_transaction([&]() -> DbError {
        auto stored = critical_call(lab_id);
        if (!stored.ok()) return stored.error;
        if (!stored.value)
            return {DbError::Kind::NotFound, 0, QStringLiteral("the report has no critical result")};
        if (stored.value->findings != findings)
            return {DbError::Kind::Changed, 0, QStringLiteral("the report's critical results changed")};
        CriticalCall called = *stored.value;
        called.informed_by = call.informed_by;
        called.informed_whom = call.informed_whom;
        called.called_at = call.called_at;
        called.recorded_by = recorded_by;
        called.read_back = call.read_back;
        if (DbError e = change_rows(kTable,
                                    {{QStringLiteral("informed_by"), called.informed_by},
                                     {QStringLiteral("informed_whom"), called.informed_whom},
                                     {QStringLiteral("called_at"), called.called_at},
                                     {QStringLiteral("recorded_by"), called.recorded_by},
                                     {QStringLiteral("read_back"), called.read_back ? 1 : 0}},
                                    QStringLiteral("lab_id"), lab_id);
            !e.ok())
            return e;
        return journal_change(QStringLiteral("critical call"), kTable, lab_id.toLongLong(),
                              call_json(called));
    });
}

DbResult<QList<qint64>> critical_reports_to_verify() {
    auto rows = select_rows(QStringLiteral(
        "SELECT c.lab_id FROM critical_calls AS c JOIN report_signoff AS s ON s.lab_id = c.lab_id "
        "JOIN test_main AS m ON m.lab_id = c.lab_id WHERE s.verified_by = '' "
        "ORDER BY c.called_at <> '', m.t_date, c.lab_id"));
    DbResult<QList<qint64>> out{{}, rows.error};
    for (const Row& r : rows.value)
        out.value << r.value(0).toLongLong();
    return out;
}

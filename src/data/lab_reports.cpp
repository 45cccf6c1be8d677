#include "lab_reports.h"

#include "analyzer_results.h"
#include "connection.h"
#include "critical_calls.h"
#include "database.h"
#include "dates.h"
#include "investigations.h"
#include "journal.h"
#include "normal_ranges.h"
#include "settings.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

namespace {

DbResult<QString> test_table(const QString& name) {
    if (const Investigation* t = catalogue::by_table(name)) return {QString::fromLatin1(t->table), {}};
    return {{}, DbError::other(QStringLiteral("\"%1\" is not one of the test tables").arg(name))};
}

// The critical findings of results about to be stored in `table`.
QStringList findings_of(const QString& table, const QList<ResultRow>& results) {
    const Investigation* test = catalogue::by_table(table);
    QList<std::pair<QString, QString>> pairs;
    for (const ResultRow& r : results)
        pairs.append({r.item, r.result});
    return test ? critical_findings(*test, pairs) : QStringList();
}

DbError add_results(const QString& table, const QVariant& lab_id, const QList<ResultRow>& results) {
    for (const ResultRow& r : results) {
        const DbError e = add_row(table, {{QStringLiteral("lab_id"), lab_id},
                                          {QStringLiteral("item"), r.item},
                                          {QStringLiteral("result"), r.result}});
        if (!e.ok()) return e;
    }
    return {};
}

bool same_header(const ReportHeader& a, const ReportHeader& b) {
    return a.patient_id.toLongLong() == b.patient_id.toLongLong() && a.ref_by == b.ref_by &&
           a.t_date == b.t_date && a.test == b.test && a.remarks == b.remarks &&
           a.temp_patient == b.temp_patient;
}

bool same_rows(const QList<ResultRow>& a, const QList<ResultRow>& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i].rowid != b[i].rowid || a[i].item != b[i].item || a[i].result != b[i].result) return false;
    return true;
}

QJsonObject report_json(const ReportHeader& h, const QList<ResultRow>& rows) {
    QJsonArray results;
    for (const ResultRow& r : rows)
        results.append(QJsonObject{{QStringLiteral("item"), r.item}, {QStringLiteral("result"), r.result}});
    return {{QStringLiteral("lab_id"), h.lab_id.toLongLong()},
            {QStringLiteral("patient_id"), h.patient_id.toLongLong()},
            {QStringLiteral("ref_by"), h.ref_by},
            {QStringLiteral("t_date"), h.t_date},
            {QStringLiteral("test"), h.test},
            {QStringLiteral("remarks"), h.remarks},
            {QStringLiteral("temp_patient"), h.temp_patient},
            {QStringLiteral("results"), results}};
}

DbError changed_since_looked_up() {
    return {DbError::Kind::Changed, 0, QStringLiteral("the report was changed since it was looked up")};
}

// The report as stored now, inside the write transaction, while it still
// reads as the screen looked it up; a Changed error otherwise.
DbResult<ReportSnapshot> stored_as_looked_up(const QString& table, const QVariant& lab_id,
                                             const ReportSnapshot& looked_up) {
    auto stored = report_snapshot(table, lab_id);
    if (!stored.ok()) return {{}, stored.error};
    if (!stored.value || !same_header(stored.value->header, looked_up.header) ||
        !same_rows(stored.value->rows, looked_up.rows))
        return {{}, changed_since_looked_up()};
    return {*stored.value, {}};
}

} // namespace

DbError save_report(const Actor& who, const NewReport& report) {
    if (DbError e = require(who, Right::EnterResults); !e.ok()) return e;
    if (!report.taken_results.isEmpty())
        if (DbError e = require(who, Right::TakeAnalyzer); !e.ok()) return e;
    const auto table = test_table(report.table);
    if (!table.ok()) return table.error;
    const ReportHeader& h = report.header;
    return in_transaction([&]() -> DbError {
        if (report.patient) {
            if (DbError e = add_patient(who, *report.patient); !e.ok()) return e;
        } else if (DbError e = patient_on_record(h.patient_id, report.shown_name); !e.ok()) {
            return e;
        }
        DbError e = add_row(QStringLiteral("test_main"), {{QStringLiteral("lab_id"), h.lab_id},
                                                          {QStringLiteral("patient_id"), h.patient_id},
                                                          {QStringLiteral("ref_by"), h.ref_by},
                                                          {QStringLiteral("t_date"), today_iso()},
                                                          {QStringLiteral("test"), h.test},
                                                          {QStringLiteral("remarks"), h.remarks},
                                                          {QStringLiteral("temp_patient"), h.temp_patient}});
        if (!e.ok()) return e;
        // A taken lab id fails above as the duplicate key it is; one whose
        // report was deleted is never stored again.
        if (e = refuse_reused_id("test_main", h.lab_id); !e.ok()) return e;
        if (e = add_results(table.value, h.lab_id, report.results); !e.ok()) return e;
        if (e = note_critical_findings(h.lab_id, findings_of(table.value, report.results)); !e.ok()) return e;
        if (e = take_pending_results(report.taken_results); !e.ok()) return e;
        if (e = end_reservation(IdKind::Lab, h.lab_id); !e.ok()) return e;
        if (e = execute(
                QStringLiteral("INSERT INTO report_signoff (lab_id, entered_by, entered_at) VALUES (?, ?, ?) "
                               "ON CONFLICT (lab_id) DO UPDATE SET entered_by = excluded.entered_by, "
                               "entered_at = excluded.entered_at, verified_by = '', verified_at = ''"),
                {h.lab_id, journal_user_name(), now_iso()});
            !e.ok())
            return e;
        ReportHeader created = h;
        created.t_date = today_iso();
        return journal_change(QStringLiteral("create"), QStringLiteral("test_main"), h.lab_id.toLongLong(),
                              report_json(created, report.results));
    });
}

DbError modify_report(const Actor& who, const ReportChange& change) {
    if (DbError e = require(who, Right::ModifyResults); !e.ok()) return e;
    if (!change.taken_results.isEmpty())
        if (DbError e = require(who, Right::TakeAnalyzer); !e.ok()) return e;
    const auto table = test_table(change.table);
    if (!table.ok()) return table.error;
    const ReportHeader& h = change.header;
    return in_transaction([&]() -> DbError {
        auto stored = stored_as_looked_up(table.value, h.lab_id, change.looked_up);
        if (!stored.ok()) return stored.error;
        if (DbError e = patient_on_record(h.patient_id, change.shown_name); !e.ok()) return e;
        DbError e =
            journal_change(QStringLiteral("modify"), QStringLiteral("test_main"), h.lab_id.toLongLong(),
                           report_json(stored.value.header, stored.value.rows));
        if (!e.ok()) return e;
        e = change_rows(QStringLiteral("test_main"),
                        {{QStringLiteral("patient_id"), h.patient_id},
                         {QStringLiteral("ref_by"), h.ref_by},
                         {QStringLiteral("t_date"), today_iso()},
                         {QStringLiteral("test"), h.test},
                         {QStringLiteral("remarks"), h.remarks}},
                        QStringLiteral("lab_id"), h.lab_id);
        if (!e.ok()) return e;
        QStringList kept;
        QVariantList binds{h.lab_id};
        for (qint64 k : change.keep) {
            kept << QStringLiteral("?");
            binds << k;
        }
        QString sql = QStringLiteral("DELETE FROM %1 WHERE lab_id = ?").arg(table.value);
        if (!kept.isEmpty()) sql += QStringLiteral(" AND rowid NOT IN (%1)").arg(kept.join(u','));
        if (e = execute(sql, binds); !e.ok()) return e;
        // A verified report that changes is no longer what was verified.
        auto signoff = report_signoff(h.lab_id);
        if (!signoff.ok()) return signoff.error;
        if (signoff.value.verified()) {
            if (e = journal_change(QStringLiteral("unverify"), QStringLiteral("report_signoff"),
                                   h.lab_id.toLongLong(),
                                   QJsonObject{{QStringLiteral("verified_by"), signoff.value.verified_by},
                                               {QStringLiteral("verified_at"), signoff.value.verified_at}});
                !e.ok())
                return e;
            if (e = execute(
                    QStringLiteral("UPDATE report_signoff SET verified_by = '', verified_at = '' WHERE "
                                   "lab_id = ?"),
                    {h.lab_id});
                !e.ok())
                return e;
        }
        if (e = add_results(table.value, h.lab_id, change.results); !e.ok()) return e;
        if (e = take_pending_results(change.taken_results); !e.ok()) return e;
        return note_critical_findings(h.lab_id, findings_of(table.value, change.results));
    });
}

DbResult<std::optional<ReportSnapshot>> report_snapshot(const QString& table, const QVariant& lab_id) {
    auto header = find_report(lab_id);
    if (!header.ok() || !header.value) return {std::nullopt, header.error};
    auto rows = report_results(table, lab_id);
    if (!rows.ok()) return {std::nullopt, rows.error};
    return {ReportSnapshot{*header.value, rows.value}, {}};
}

DbResult<std::optional<ReportHeader>> find_report(const QVariant& lab_id) {
    auto row = select_first(QStringLiteral("SELECT * FROM test_main WHERE lab_id = ?"), {lab_id});
    if (!row.ok() || !row.value) return {std::nullopt, row.error};
    const Row& r = *row.value;
    ReportHeader h;
    h.lab_id = r.value(0);
    h.patient_id = r.value(1);
    h.ref_by = r.text(QStringLiteral("ref_by"));
    h.t_date = r.text(QStringLiteral("t_date"));
    h.test = r.text(QStringLiteral("test"));
    h.remarks = r.text(QStringLiteral("remarks"));
    h.temp_patient = r.text(QStringLiteral("temp_patient"));
    return {h, {}};
}

DbResult<QList<ResultRow>> report_results(const QString& table, const QVariant& lab_id) {
    const auto t = test_table(table);
    if (!t.ok()) return {{}, t.error};
    auto rows = select_rows(
        QStringLiteral("SELECT rowid, item, result FROM %1 WHERE lab_id = ? ORDER BY rowid").arg(t.value),
        {lab_id});
    if (!rows.ok()) return {{}, rows.error};
    DbResult<QList<ResultRow>> out;
    for (const Row& r : rows.value)
        out.value << ResultRow{r.value(0).toLongLong(), r.text(1), r.text(2)};
    return out;
}

DbResult<QStringList> doctor_names() {
    auto rows = select_rows(QStringLiteral("SELECT name FROM doctors ORDER BY rowid"));
    if (!rows.ok()) return {{}, rows.error};
    DbResult<QStringList> out;
    for (const Row& r : rows.value)
        out.value << r.text(0);
    return out;
}

DbError add_doctor_if_new(const QString& name) {
    return in_transaction([&]() -> DbError {
        auto found = select_first(QStringLiteral("SELECT 1 FROM doctors WHERE name = ?"), {name});
        if (!found.ok()) return found.error;
        if (found.value) return {};
        return add_row(QStringLiteral("doctors"), {{QStringLiteral("name"), name}});
    });
}

DbResult<QString> doctor_email(const QString& name) {
    auto row = select_first(QStringLiteral("SELECT email FROM doctor_emails WHERE name = ?"), {name});
    return {row.ok() && row.value ? row.value->text(0) : QString(), row.error};
}

DbError set_doctor_email(const Actor& who, const QString& name, const QString& email) {
    if (DbError e = require(who, Right::Register); !e.ok()) return e;
    return in_transaction([&]() -> DbError {
        auto found =
            select_first(QStringLiteral("SELECT rowid FROM doctors WHERE name = ? ORDER BY rowid"), {name});
        if (!found.ok()) return found.error;
        if (!found.value)
            return {DbError::Kind::NotFound, 0,
                    QStringLiteral("No doctor on the list is named %1.").arg(name)};
        if (DbError e = execute(QStringLiteral("DELETE FROM doctor_emails WHERE name = ?"), {name}); !e.ok())
            return e;
        if (!email.trimmed().isEmpty())
            if (DbError e =
                    add_row(QStringLiteral("doctor_emails"),
                            {{QStringLiteral("name"), name}, {QStringLiteral("email"), email.trimmed()}});
                !e.ok())
                return e;
        return journal_change(QStringLiteral("modify"), QStringLiteral("doctors"),
                              found.value->value(0).toLongLong(),
                              {{QStringLiteral("name"), name}, {QStringLiteral("email"), email.trimmed()}});
    });
}

ListQuery test_report_list(const QString& test_name) {
    ListQuery q;
    q.table = QStringLiteral("test_main");
    q.key = QStringLiteral("rowid");
    q.where = QStringLiteral("test = ?");
    q.binds = {test_name};
    return q;
}

ListQuery all_reports_list() {
    ListQuery q;
    q.table = QStringLiteral("test_main");
    q.key = QStringLiteral("lab_id");
    return q;
}

ListQuery unverified_reports_list() {
    ListQuery q;
    q.table = QStringLiteral("test_main");
    q.key = QStringLiteral("lab_id");
    // Reports saved since reports are signed off and not verified yet; those
    // from before were never waiting for anyone.
    q.where = Database::current().in_subquery(
        QStringLiteral("lab_id"), QStringLiteral("SELECT lab_id FROM report_signoff WHERE verified_by = ''"));
    q.columns = {QStringLiteral("lab_id"), QStringLiteral("t_date"), QStringLiteral("test"),
                 QStringLiteral("patient_id"), QStringLiteral("ref_by")};
    // Whose report it is, by name.
    q.looked_up = {{QStringLiteral("patient_name"), QStringLiteral("registration"),
                    QStringLiteral("patient_name"), QStringLiteral("patient_id"),
                    QStringLiteral("patient_id")}};
    q.order = QStringLiteral("t_date");
    return q;
}

ListQuery temporary_reports_list() {
    ListQuery q = all_reports_list();
    q.where = QStringLiteral("temp_patient = 'Y'");
    return q;
}

DbError delete_report(const Actor& who, const QVariant& lab_id, const std::optional<ShownReport>& shown) {
    if (DbError e = require(who, Right::DeleteTemporary); !e.ok()) return e;
    return in_transaction([&]() -> DbError {
        auto report = find_report(lab_id);
        if (!report.ok()) return report.error;
        if (!report.value) return {DbError::Kind::NotFound, 0, QStringLiteral("no report has that lab id")};
        if (shown) {
            auto now = list_rows(all_reports_list(), {report.value->lab_id.toLongLong()});
            if (!now.ok()) return now.error;
            if (now.value.rows.value(0) != shown->cells) return changed_since_looked_up();
            auto changed = changed_after(QStringLiteral("test_main"), report.value->lab_id.toLongLong(),
                                         shown->journal_mark);
            if (!changed.ok()) return changed.error;
            if (changed.value) return changed_since_looked_up();
        }
        const Investigation* test = catalogue::by_test(report.value->test);
        if (!test)
            return DbError::other(
                QStringLiteral("\"%1\" is not one of the laboratory's tests").arg(report.value->test));
        const QString table = QString::fromLatin1(test->table);
        auto rows = report_results(table, report.value->lab_id);
        if (!rows.ok()) return rows.error;
        if (DbError e =
                journal_change(QStringLiteral("delete"), QStringLiteral("test_main"),
                               report.value->lab_id.toLongLong(), report_json(*report.value, rows.value));
            !e.ok())
            return e;
        if (DbError e = delete_rows(table, QStringLiteral("lab_id"), report.value->lab_id); !e.ok()) return e;
        if (DbError e =
                delete_rows(QStringLiteral("report_signoff"), QStringLiteral("lab_id"), report.value->lab_id);
            !e.ok())
            return e;
        if (DbError e = note_critical_findings(report.value->lab_id, {}); !e.ok()) return e;
        return delete_rows(QStringLiteral("test_main"), QStringLiteral("lab_id"), report.value->lab_id);
    });
}

DbError fill_consolidated(qint64 patient_id) {
    // Which patient and day the build is for, in a scratch table of this
    // connection: the report names the patient typed even when no result
    // was copied (nothing today, or only reports that print on their own).
    for (const char* sql :
         {"CREATE TEMP TABLE IF NOT EXISTS consolidated_about (patient_id INTEGER, t_date TEXT)",
          "DELETE FROM consolidated_about"})
        if (DbError e = execute(QString::fromLatin1(sql)); !e.ok()) return e;
    if (DbError e = Database::current().let_reports_read_scratch({QStringLiteral("consolidated_about")});
        !e.ok())
        return e;
    if (DbError e = execute(QStringLiteral("INSERT INTO consolidated_about VALUES (?, ?)"),
                            {patient_id, today_iso()});
        !e.ok())
        return e;
    if (DbError e = execute(QStringLiteral("DELETE FROM temp")); !e.ok()) return e;
    auto reports = select_rows(
        QStringLiteral(
            "SELECT lab_id, test FROM test_main WHERE patient_id = ? AND t_date = ? ORDER BY rowid"),
        {patient_id, today_iso()});
    if (!reports.ok()) return reports.error;
    for (const Row& r : reports.value) {
        const Investigation* test = catalogue::by_test(r.text(1));
        if (!test)
            return DbError::other(
                QStringLiteral("\"%1\" is not one of the laboratory's tests").arg(r.text(1)));
        if (test->prints_separately) continue; // the culture and smear reports print on their own pages
        const DbError e =
            execute(QStringLiteral("INSERT INTO temp (test_table, lab_id, item, result) "
                                   "SELECT ?, lab_id, item, result FROM %1 WHERE lab_id = ? ORDER BY rowid")
                        .arg(QString::fromLatin1(test->table)),
                    {QString::fromLatin1(test->consolidated_name), r.value(0)});
        if (!e.ok()) return e;
    }
    return {};
}

DbResult<SignOff> report_signoff(const QVariant& lab_id) {
    auto row = select_first(QStringLiteral("SELECT entered_by, entered_at, verified_by, verified_at FROM "
                                           "report_signoff WHERE lab_id = ?"),
                            {lab_id});
    if (!row.ok() || !row.value) return {{}, row.error};
    return {{row.value->text(0), row.value->text(1), row.value->text(2), row.value->text(3)}, {}};
}

DbError verify_report(const Actor& who, const ReportSnapshot& looked_up) {
    if (DbError e = require(who, Right::Verify); !e.ok()) return e;
    // Only a named person signs: never a built-in pair let in without the users table.
    if (!who.role || who.login.trimmed().isEmpty()) return require(Actor{}, Right::Verify);
    const QString verifier = who.login;
    return in_transaction([&]() -> DbError {
        const Investigation* test = catalogue::by_test(looked_up.header.test);
        if (!test) return DbError::other(QStringLiteral("not one of the laboratory's tests"));
        auto stored =
            stored_as_looked_up(QString::fromLatin1(test->table), looked_up.header.lab_id, looked_up);
        if (!stored.ok()) return stored.error;
        const QVariant lab_id = stored.value.header.lab_id;
        // Where the laboratory wants a second person's eyes, who entered the
        // report does not verify it.
        auto self = select_first(QStringLiteral("SELECT value FROM settings WHERE name = ?"),
                                 {QString::fromLatin1(kSelfVerification)});
        if (!self.ok()) return self.error;
        if (self.value && self.value->text(0) == QLatin1String("off")) {
            auto entered = report_signoff(lab_id);
            if (!entered.ok()) return entered.error;
            if (entered.value.entered_by.compare(verifier, Qt::CaseInsensitive) == 0)
                return {
                    DbError::Kind::Forbidden, 0,
                    QStringLiteral("%1 entered this report, and this laboratory has a report verified by "
                                   "someone other than who entered it: another pathologist must verify it.")
                        .arg(entered.value.entered_by)};
        }
        const QString at = now_iso();
        if (DbError e = execute(
                QStringLiteral("INSERT INTO report_signoff (lab_id, verified_by, verified_at) "
                               "VALUES (?, ?, ?) ON CONFLICT (lab_id) DO UPDATE SET "
                               "verified_by = excluded.verified_by, verified_at = excluded.verified_at"),
                {lab_id, verifier, at});
            !e.ok())
            return e;
        return journal_change(
            QStringLiteral("verify"), QStringLiteral("report_signoff"), lab_id.toLongLong(),
            QJsonObject{{QStringLiteral("verified_by"), verifier}, {QStringLiteral("verified_at"), at}});
    });
}

std::optional<Signature> report_signature(const QSqlDatabase& db, qint64 lab_id) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT u.full_name, u.qualification, s.verified_at FROM report_signoff AS s "
        "JOIN users AS u ON u.login = s.verified_by WHERE s.lab_id = ? AND s.verified_by <> ''"));
    q.addBindValue(lab_id);
    if (!q.exec() || !q.next()) return std::nullopt;
    return Signature{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
}

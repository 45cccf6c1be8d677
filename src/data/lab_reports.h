#pragma once

#include "core_tables.h"
#include "db_error.h"
#include "records.h"
#include "settings.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>
#include <utility>

// The reports of the test screens: one test_main row per report, and one row
// (lab_id, item, result) per stored result in the test's own table. Test
// tables are named only by the list of the twelve; any other name is refused.

// One stored result: the item caption and the result text as typed.
struct ResultRow {
    qint64 rowid = 0; // identifies the stored row (0 for a row not stored yet)
    QString item;
    QString result;
};

struct ReportHeader {
    QVariant lab_id;
    QVariant patient_id;
    QString ref_by;
    QString t_date; // ISO
    QString test;
    QString remarks;
    QString temp_patient;
};

// Each operation that stores is given the person it is done for and refuses
// (a Forbidden error, nothing written) what their role may not do: saving
// needs EnterResults (and Register for a new patient, TakeAnalyzer for the
// analyzers' results), modifying ModifyResults, verifying Verify, deleting
// DeleteTemporary.

// What Save stores, all of it or nothing.
// Without a new patient, the report is stored only under a patient who
// exists, and, when `shown_name` is given, only while that patient's name is
// the one the screen showed (a NotFound error otherwise). A lab id that the
// journal of changes remembers (a deleted report's) is a Duplicate error.
struct NewReport {
    std::optional<Patient> patient; // a minimal registration row first (new and walk-in patients)
    ReportHeader header;            // t_date is set to today
    QString table;
    QList<ResultRow> results;
    std::optional<QString> shown_name = std::nullopt;
    QList<qint64> taken_results = {}; // the analyzers' results it used: marked taken with it
};

DbError save_report(const Actor& who, const NewReport& report);

// A report as a screen looked it up: its test_main row and its stored rows.
struct ReportSnapshot {
    ReportHeader header;
    QList<ResultRow> rows;
};

// What modify stores, all of it or nothing, and only when the report is still
// as it was looked up (`looked_up`, compared inside the write transaction;
// otherwise a Changed error): the header is rewritten (t_date becomes today;
// temp_patient is kept), every stored row of the report is replaced by
// `results`, except the rows in `keep` (stored results the screen could not
// show, which it must not lose). The old report goes into the journal.
struct ReportChange {
    ReportHeader header;
    QString table;
    QList<ResultRow> results;
    QList<qint64> keep;
    ReportSnapshot looked_up;
    // As for a new report: the patient must exist, with this name when given.
    std::optional<QString> shown_name = std::nullopt;
    QList<qint64> taken_results = {};
};

DbError modify_report(const Actor& who, const ReportChange& change);

// Who entered a report and who verified it (logins), with the times (ISO
// date and time); empty texts for what did not happen (and for a report
// saved before this was recorded).
struct SignOff {
    QString entered_by, entered_at, verified_by, verified_at;
    bool verified() const { return !verified_by.isEmpty(); }
};
DbResult<SignOff> report_signoff(const QVariant& lab_id);
// Signs the report off under the login of `who`, journalled, only while it
// still reads as `looked_up` (the report the verifier saw; a Changed error
// otherwise). A modification of the report empties it again.
DbError verify_report(const Actor& who, const ReportSnapshot& looked_up);

// The signature line of a verified report, read through `db` (a report's
// own reading connection): the verifier's full name, qualification and the
// time; nullopt for a report not verified.
struct Signature {
    QString full_name, qualification, verified_at;
};
std::optional<Signature> report_signature(const QSqlDatabase& db, qint64 lab_id);

DbResult<std::optional<ReportHeader>> find_report(const QVariant& lab_id);
// The stored rows of a report in the order the database returns them.
DbResult<QList<ResultRow>> report_results(const QString& table, const QVariant& lab_id);

// The doctors in the order stored.
DbResult<QStringList> doctor_names();
// Adds the name (exactly as typed, an empty one too) when no doctor has it yet.
DbError add_doctor_if_new(const QString& name);
// A doctor's e-mail address, where reports may be sent ('' when none is kept).
DbResult<QString> doctor_email(const QString& name);
// Keeps (or, empty, forgets) the address of a doctor on the list (the
// Register right; journalled). A NotFound error for a name not on the list.
DbError set_doctor_email(const Actor& who, const QString& name, const QString& email);

// Every report whose test is `test_name` (compared without regard to case), in
// the order stored, for the list panel.
ListQuery test_report_list(const QString& test_name);

// The reports waiting to be verified, oldest first, for a pathologist's list:
// those entered since the sign-off was recorded and not verified yet.
ListQuery unverified_reports_list();

// Every report in lab-id order, and those of temporary patients.
ListQuery all_reports_list();
ListQuery temporary_reports_list();

// Deletes one report, all of it or nothing: its rows in the table of the test
// it names and its test_main row. NotFound when no report has that lab id; a
// report whose test is none of the twelve deletes nothing.
// When `shown` is given (the report's test_main row as a list showed it, and
// the journal mark taken before the list was read), the report is deleted
// only while it still reads so and no change of it (its results included) was
// journalled since; otherwise a Changed error. The deleted report goes into
// the journal.
struct ShownReport {
    QStringList cells;
    qint64 journal_mark = 0;
};
DbError delete_report(const Actor& who, const QVariant& lab_id,
                      const std::optional<ShownReport>& shown = std::nullopt);

// The report and its rows as stored now, or nullopt when there is no such report.
DbResult<std::optional<ReportSnapshot>> report_snapshot(const QString& table, const QVariant& lab_id);

// Fills temp with the result rows of the patient's reports dated today
// (never those of the culture and smear tests), after emptying it, and notes
// the patient and the day in this connection's scratch table
// consolidated_about (patient_id, t_date), which the report reads. Run it
// inside the transaction that also reads temp back, so that another
// workstation's build can never mix its rows into this one.
DbError fill_consolidated(qint64 patient_id);

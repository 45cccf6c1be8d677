#include "result_workflow.h"

#include "orders.h"

#include "analyzer_review.h"
#include "app_state.h"
#include "critical_call.h"
#include "critical_calls.h"
#include "dates.h"
#include "failure_messages.h"
#include "journal.h"
#include "message_box.h"
#include "normal_ranges.h"
#include "number_value.h"
#include "report_engine.h"
#include "typed_text.h"

#include <QDateTime>

namespace {

const QString kDash = QStringLiteral("-");

} // namespace

ResultWorkflow::ResultWorkflow(const TestDefinition& test, std::function<void()> before_message,
                               std::function<Actor()> who)
    : test_(test), before_message_(std::move(before_message)), who_(std::move(who)),
      engine_(make_report_engine()) {
    for (const ResultItem& item : test_.items)
        form_.results << QString::fromUtf8(item.initial_text);
    // A laboratory whose analyzers never sent anything is never asked.
    const auto in_use = analyzers_in_use();
    analyzers_in_use_ = in_use.ok() && in_use.value;
}

ResultWorkflow::~ResultWorkflow() {
    release_reserved_ids();
}

void ResultWorkflow::release_reserved_ids() {
    ids_ready_ = false;
    release_reserved_id(IdKind::Lab, std::exchange(reserved_lab_, 0));
    release_reserved_id(IdKind::Patient, std::exchange(reserved_patient_, 0));
}

FormFocus ResultWorkflow::take_focus() {
    return std::exchange(focus_, FormFocus::Stay);
}

void ResultWorkflow::tell(const QString& text) {
    if (before_message_) before_message_();
    show_message(text);
}

bool ResultWorkflow::failed(const DbError& error, const char* action) {
    if (error.ok()) return false;
    if (before_message_) before_message_();
    return report_failure(error, QString::fromLatin1(action));
}

bool ResultWorkflow::result_is_empty(const QString& text) const {
    const QString trimmed = trim_blanks(text);
    for (const char* empty : test_.empty_texts)
        if (trimmed == QLatin1String(empty)) return true;
    return false;
}

void ResultWorkflow::open() {
    // Someone who may not enter results still looks reports up and prints
    // them: the boxes are locked, and they are told why once.
    const Actor who = who_();
    form_.results_locked = !actor_may(who, Right::EnterResults);
    if (form_.results_locked && !told_locked_) {
        told_locked_ = true;
        tell(refusal_message(who, Right::EnterResults));
    }
    form_.save_open = true;
    form_.modify_open = false;
    form_.date = display_date(today());
    fill_doctors();
    if (app_state().register_on_save) {
        offer_fresh_ids(true);
    } else {
        form_.patient_id_open = true;
        offer_fresh_ids(false);
    }
    form_.age = kDash;
    form_.sex = kDash;
    form_.remarks = QStringLiteral(" ");
    form_.page = 1;
    focus(form_.patient_id_open ? FormFocus::PatientId : FormFocus::Name);
}

void ResultWorkflow::fill_doctors() {
    auto names = doctor_names();
    if (failed(names.error, "Reading the list of doctors")) return;
    form_.doctors = names.value;
    form_.doctor = names.value.value(0);
}

void ResultWorkflow::offer_fresh_ids(bool patient) {
    // Reserved for this screen: no other screen is offered the same ids. A
    // save reserved the next ones already, in its own transaction.
    if (std::exchange(ids_ready_, false)) {
        if (!patient) release_reserved_id(IdKind::Patient, std::exchange(reserved_patient_, 0));
    } else {
        auto next =
            reserve_next_ids(patient, {std::exchange(reserved_lab_, 0), std::exchange(reserved_patient_, 0)});
        reserved_lab_ = next.value.lab;
        reserved_patient_ = next.value.patient;
        if (!next.ok()) {
            if (patient) form_.patient_id.clear();
            form_.lab_id.clear();
            failed(next.error, patient ? "Reading the next patient id" : "Reading the next lab id");
            return;
        }
    }
    if (patient) {
        form_.patient_id = QString::number(reserved_patient_);
        form_.patient_id_open = false;
    }
    form_.lab_id = QString::number(reserved_lab_);
    form_.lab_id_open = false;
    count_analyzer_results();
}

// The boxes the analyzers' results for the lab id on screen fill now;
// nullopt when they cannot be read (the user was told).
std::optional<AnalyzerFill> ResultWorkflow::analyzer_boxes() {
    auto pending = pending_results_for(form_.lab_id);
    if (failed(pending.error, "Reading the analyzers' results")) return std::nullopt;
    if (order_) {
        // The sample went to the analyzer labelled with its accession.
        auto ordered = pending_results_for(accession_text(*order_));
        if (failed(ordered.error, "Reading the analyzers' results")) return std::nullopt;
        pending.value = ordered.value + pending.value;
    }
    if (pending.value.isEmpty()) return AnalyzerFill{};
    return analyzer_fill(test_, pending.value, read_analyzer_codes(analyzer_codes_path()), form_.results,
                         [this](const QString& t) { return result_is_empty(t); });
}

void ResultWorkflow::count_analyzer_results() {
    form_.analyzer_results = 0;
    analyzer_taken_.clear();
    if (!analyzers_in_use_ || form_.lab_id.trimmed().isEmpty() || form_.results_locked) return;
    if (const auto fill = analyzer_boxes()) form_.analyzer_results = int(fill->boxes.size());
}

void ResultWorkflow::take_analyzer_results() {
    if (const Actor who = who_(); !actor_may(who, Right::TakeAnalyzer))
        return tell(refusal_message(who, Right::TakeAnalyzer));
    const auto found = analyzer_boxes();
    if (!found) return;
    const AnalyzerFill& fill = *found;
    QStringList typed;
    for (const AnalyzerFill::Box& b : fill.boxes)
        if (b.over_typed) typed << trim_blanks(QString::fromUtf8(test_.items[b.box].caption));
    bool replace = false;
    if (!typed.isEmpty()) {
        if (before_message_) before_message_();
        replace = show_message(QStringLiteral("%1 already hold%2 a typed result: %3.\nReplace %4 with the "
                                              "analyzer's result%5?")
                                   .arg(typed.size() == 1 ? QStringLiteral("One box")
                                                          : QStringLiteral("%1 boxes").arg(typed.size()))
                                   .arg(typed.size() == 1 ? "s" : "")
                                   .arg(typed.join(QStringLiteral("; ")))
                                   .arg(typed.size() == 1 ? "it" : "them")
                                   .arg(typed.size() == 1 ? "" : "s"),
                               MessageButtons::YesNo) == MessageAnswer::Yes;
    }
    for (const AnalyzerFill::Box& b : fill.boxes) {
        if (b.over_typed && !replace) continue;
        form_.results[b.box] = b.text;
        for (qint64 id : b.used)
            if (!analyzer_taken_.contains(id)) analyzer_taken_ << id;
    }
    form_.analyzer_results = 0;
}

// The rows a report stores: one per filled box (every box on screens that
// store them all), caption verbatim, text as typed.
QList<ResultRow> ResultWorkflow::results() const {
    QList<ResultRow> rows;
    for (int i = 0; i < test_.box_count; ++i)
        if (test_.store_every_box || !result_is_empty(form_.results[i]))
            rows << ResultRow{0, QString::fromUtf8(test_.items[i].caption), stored_text(form_.results[i])};
    return rows;
}

void ResultWorkflow::save() {
    if (form_.name.isEmpty()) return tell(QString::fromUtf8(test_.missing_name_message));
    bool all_empty = true;
    for (int i = 0; i < test_.box_count && all_empty; ++i)
        all_empty = result_is_empty(form_.results[i]);
    if (all_empty) return tell(QString::fromUtf8(test_.empty_report_message));

    const AppState& state = app_state();
    const auto patient_id = whole_number(form_.patient_id);
    if (!patient_id) return patient_missing();
    if (before_message_) before_message_(); // a lab id too large is told
    const auto lab_id = typed_id(form_.lab_id);
    if (!lab_id) return;
    NewReport report;
    if (state.register_on_save)
        report.patient =
            minimal_patient(*patient_id, form_.name, stored_text(form_.age), stored_text(form_.sex));
    else
        report.shown_name = form_.name; // the report goes to the patient on screen, or nowhere
    report.header.lab_id = *lab_id;
    report.header.patient_id = *patient_id;
    report.header.ref_by = stored_text(form_.doctor);
    report.header.test = QString::fromUtf8(test_.investigation->test);
    report.header.remarks = stored_text(form_.remarks);
    report.header.temp_patient = state.mark_temporary ? QStringLiteral("Y") : QStringLiteral("N");
    report.table = QString::fromLatin1(test_.investigation->table);
    report.results = results();
    report.taken_results = analyzer_taken_;
    // The ids Clear offers next are reserved in the save's own transaction:
    // one write for both.
    OfferedIds next;
    const DbError saved = in_transaction([&]() -> DbError {
        if (DbError e = save_report(who_(), report); !e.ok()) return e;
        if (order_)
            if (DbError e = link_report(*order_, test_.investigation, *lab_id); !e.ok()) return e;
        auto ids =
            reserve_next_ids(true, {0, reserved_patient_}); // the lab id's reservation ended with the save
        next = ids.value;
        return ids.error;
    });
    if (saved.kind == DbError::Kind::NotFound) return patient_missing();
    if (save_failed(saved)) return;
    reserved_lab_ = next.lab;
    reserved_patient_ = next.patient;
    ids_ready_ = true;

    order_.reset(); // resulted: the next report on this screen is nobody's order
    tell(QStringLiteral("New report added"));
    // The report is stored: Save is done with it whatever the print or the
    // doctor step says, so it can never be stored twice.
    form_.save_open = false;
    count_analyzer_results();
    // A critical result is told, and its call asked for, before the report
    // can be printed.
    alert_critical(report.header.lab_id);
    finish_save();
}

void ResultWorkflow::finish_save() {
    if (test_.print_before_doctor && !print()) return;
    const DbError doctor = add_doctor_if_new(stored_text(form_.doctor));
    if (test_.show_save_errors ? save_failed(doctor) : failed(doctor, "Adding the doctor")) return;
    if (!test_.print_before_doctor) print();
}

// After a save or a modification: critical results whose doctor has not been
// called yet are told, and the call is asked for.
void ResultWorkflow::alert_critical(const QVariant& lab_id) {
    auto call = critical_call(lab_id);
    if (failed(call.error, "Reading the report's critical results")) return;
    if (!call.value || call.value->called()) return;
    tell(critical_message(call.value->finding_list()));
    ask_for_call(lab_id, *call.value);
}

void ResultWorkflow::ask_for_call(const QVariant& lab_id, const CriticalCall& call) {
    const Actor who = who_();
    if (!actor_may(who, Right::RecordCall)) return tell(refusal_message(who, Right::RecordCall));
    const auto& account = app_state().account;
    CallQuestion question;
    question.findings_message = critical_message(call.finding_list());
    question.informed_by =
        account && !account->full_name.isEmpty() ? account->full_name : journal_user_name();
    question.informed_whom = form_.doctor.trimmed();
    question.at = QDateTime::currentDateTime();
    if (before_message_) before_message_();
    const auto answer = ask_critical_call(question);
    if (!answer) return; // not yet: the report waits, first in the list to verify
    const DbError e = record_critical_call(
        who, lab_id, call.findings,
        {answer->informed_by, answer->informed_whom, answer->at.toString(Qt::ISODate), answer->read_back});
    if (e.changed())
        tell(QStringLiteral("Another workstation changed this report's results since then. The call was not "
                            "recorded; look the report up again."));
    else
        failed(e, "Recording the call");
}

void ResultWorkflow::record_call() {
    if (!looked_up_) return;
    const QVariant lab_id = looked_up_->header.lab_id;
    auto call = critical_call(lab_id);
    if (failed(call.error, "Reading the report's critical results")) return;
    if (call.value && !call.value->called()) ask_for_call(lab_id, *call.value);
    show_sign_off(lab_id);
}

void ResultWorkflow::patient_missing() {
    tell(QStringLiteral("Patient ID does not exist"));
    if (form_.patient_id_open) focus(FormFocus::PatientIdSelected);
}

bool ResultWorkflow::save_failed(const DbError& error) {
    if (error.ok()) return false;
    // A refused right is told in its own words, on every screen (no code first).
    if (error.forbidden()) return failed(error, "Saving the report");
    if (test_.show_save_errors) {
        tell(QString::number(error.code));
        tell(error.description);
    }
    if (error.duplicate()) {
        tell(QStringLiteral("ID already exists."));
        // Another workstation took the number first. On a new report the ids
        // are the program's own: offer fresh ones and keep everything typed,
        // so Save stores the report under them.
        if (!form_.lab_id_open) offer_fresh_ids(!form_.patient_id_open);
    } else if (!test_.show_save_errors) {
        failed(error, "Saving the report");
    }
    return true;
}

bool ResultWorkflow::print() {
    if (before_message_) before_message_();
    const auto lab_id = typed_id(form_.lab_id);
    if (!lab_id) return false;
    return print_report(*engine_, test_report_request(*test_.investigation, lab_id->toLongLong()));
}

void ResultWorkflow::show_sign_off(const QVariant& lab_id) {
    form_.sign_off.clear();
    form_.verify_open = false;
    form_.call_open = false;
    auto signoff = report_signoff(lab_id);
    if (failed(signoff.error, "Reading who verified the report")) return;
    const SignOff& s = signoff.value;
    QStringList said;
    if (!s.entered_by.isEmpty())
        said << QStringLiteral("Entered by %1 on %2").arg(s.entered_by, display_date_time(s.entered_at));
    said << (s.verified()
                 ? QStringLiteral("verified by %1 on %2").arg(s.verified_by, display_date_time(s.verified_at))
                 : QStringLiteral("not verified"));
    said[0][0] = said[0][0].toUpper();
    form_.sign_off = said.join(QStringLiteral("; "));
    form_.verify_open = !s.verified() && actor_may(who_(), Right::Verify);

    auto call = critical_call(lab_id);
    if (failed(call.error, "Reading the report's critical results") || !call.value) return;
    const CriticalCall& c = *call.value;
    form_.sign_off += QStringLiteral("\nCritical: %1 — %2")
                          .arg(c.findings, c.called() ? QStringLiteral("%1 informed by %2 on %3")
                                                            .arg(c.informed_whom, c.informed_by,
                                                                 display_date_time(c.called_at))
                                                      : QStringLiteral("doctor not called yet"));
    form_.call_open = !c.called() && actor_may(who_(), Right::RecordCall);
}

void ResultWorkflow::verify() {
    if (!looked_up_) return;
    const DbError e = verify_report(who_(), *looked_up_);
    if (e.changed()) {
        tell(QStringLiteral("Another workstation changed this report since it was looked up. Nothing was "
                            "verified; the stored report is shown again."));
        return lab_id_lookup();
    }
    if (failed(e, "Verifying the report")) return;
    tell(QStringLiteral("Report verified"));
    show_sign_off(looked_up_->header.lab_id);
}

void ResultWorkflow::forget_patient() {
    form_.name.clear();
    form_.age = kDash;
    form_.sex = kDash;
}

void ResultWorkflow::clear() {
    order_.reset();
    form_.page = 1;
    form_.name.clear();
    form_.doctor.clear();
    form_.sex = kDash;
    form_.age = kDash;
    form_.remarks.clear();
    form_.list_open = false;
    if (!test_.clear_keeps_results)
        for (int i = 0; i < test_.box_count; ++i)
            form_.results[i].clear();
    form_.modify_open = false;
    form_.sign_off.clear();
    form_.verify_open = false;
    form_.call_open = false;
    unshown_rows_.clear();
    emptied_rows_.clear();
    looked_up_.reset();
    // As at open: a new patient is offered a fresh number, an old one's is
    // typed again (offered locked, it could never be saved: it is nobody's).
    // Either way the fresh lab id's analyzer results are counted.
    if (app_state().register_on_save) {
        focus(FormFocus::Name);
        offer_fresh_ids(true);
    } else {
        form_.patient_id.clear();
        form_.patient_id_open = true;
        focus(FormFocus::PatientId);
        offer_fresh_ids(false);
    }
}

void ResultWorkflow::show_mode() {
    clear();
    form_.patient_id.clear();
    form_.lab_id_open = true;
    form_.lab_id.clear();
    form_.analyzer_results = 0; // those of the fresh lab id Clear offered
    analyzer_taken_.clear();
    release_reserved_ids(); // ids are typed now
    focus(FormFocus::LabId);
}

// A lookup that fails leaves nothing of the report shown before.
void ResultWorkflow::forget_report() {
    form_.modify_open = false;
    form_.sign_off.clear();
    form_.verify_open = false;
    form_.call_open = false;
    form_.analyzer_results = 0;
    analyzer_taken_.clear();
    looked_up_.reset();
    forget_patient();
    form_.patient_id.clear();
    form_.doctor.clear();
    form_.remarks.clear();
    if (!test_.clear_keeps_results)
        for (int i = 0; i < test_.box_count; ++i)
            form_.results[i].clear();
}

void ResultWorkflow::lab_id_lookup() {
    if (in_lookup_) return;
    in_lookup_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{in_lookup_};

    form_.modify_open = true;
    if (form_.lab_id.isEmpty()) {
        tell(QStringLiteral("No ID given"));
        clear();
        return;
    }
    if (before_message_) before_message_(); // a lab id too large is told
    const auto typed = typed_id(form_.lab_id);
    if (!typed) return forget_report();
    const QVariant lab_id = *typed;
    auto found = find_report(lab_id);
    if (failed(found.error, "Looking up the report")) return forget_report();
    if (!found.value) {
        tell(QStringLiteral("Lab ID does not exist"));
        clear();
        return;
    }
    const ReportHeader& h = *found.value;
    if (h.test != QString::fromUtf8(test_.investigation->test)) {
        tell(QStringLiteral("lab Id %1 is in %2").arg(form_.lab_id, h.test));
        clear();
        return;
    }
    auto rows = report_results(QString::fromLatin1(test_.investigation->table), lab_id);
    if (failed(rows.error, "Looking up the report")) return forget_report();
    looked_up_ = ReportSnapshot{h, rows.value};
    form_.patient_id = value_text(h.patient_id);
    form_.doctor = h.ref_by;
    form_.date = display_date(h.t_date);
    form_.remarks = h.remarks;

    form_.patient_id_open = true;
    auto patient = find_patient(h.patient_id);
    if (!failed(patient.error, "Looking up the patient") && patient.value) {
        form_.name = patient.value->patient_name;
        form_.age = patient.value->age;
        form_.sex = patient.value->sex;
    }
    focus(FormFocus::PatientId);
    show_sign_off(h.lab_id);

    unshown_rows_.clear();
    emptied_rows_.clear();
    for (qsizetype r = 0; r < rows.value.size(); ++r) {
        const ResultRow& row = rows.value[r];
        int match = -1;
        for (int i = 0; i < test_.lookup_count && match < 0; ++i)
            if (trim_blanks(QString::fromUtf8(test_.items[i].caption)) == trim_blanks(row.item)) match = i;
        if (match < 0) {
            // The lookup ends at a row no box can show; it and the rows after
            // it stay stored as they are.
            for (qsizetype k = r; k < rows.value.size(); ++k)
                unshown_rows_ << rows.value[k].rowid;
            break;
        }
        if (row.result.size() > test_.max_length) {
            // The box's length rule: the user is told, and the box stays empty.
            if (before_message_) before_message_();
            show_message(QStringLiteral("Data is too long."), MessageButtons::Ok, information_title());
            form_.results[match].clear();
            emptied_rows_ << std::pair{row.rowid, match};
            continue;
        }
        form_.results[match] = row.result;
    }
    count_analyzer_results();
}

void ResultWorkflow::patient_lookup() {
    if (before_message_) before_message_(); // a patient id too large is told
    const auto id = typed_id(form_.patient_id);
    auto found = id ? find_patient(*id) : DbResult<std::optional<Patient>>{};
    if (!id || failed(found.error, "Looking up the patient")) {
        // Nothing of a patient shown before stays on the screen.
        return forget_patient();
    }
    if (!found.value) {
        tell(QStringLiteral("Patient ID does not exist"));
        forget_patient();
        form_.patient_id.clear();
        focus(FormFocus::PatientId);
        return;
    }
    form_.name = found.value->patient_name;
    form_.age = found.value->age;
    form_.sex = found.value->sex;
    focus(FormFocus::Doctor);
}

void ResultWorkflow::take_order(qint64 accession, qint64 patient_id, const QString& doctor) {
    form_.patient_id = QString::number(patient_id);
    patient_lookup();
    if (form_.name.isEmpty() && form_.patient_id.isEmpty()) return; // no such patient: told
    form_.doctor = doctor;
    form_.patient_id_open = false;
    order_ = accession;
    count_analyzer_results();
    focus(FormFocus::FirstResult); // patient and doctor are the order's: the results come next
}

void ResultWorkflow::modify() {
    if (before_message_) before_message_(); // a lab id too large is told
    const auto lab_id = typed_id(form_.lab_id);
    if (!lab_id) return;
    const auto patient_id = whole_number(form_.patient_id);
    if (!looked_up_ || !same_key(looked_up_->header.lab_id, *lab_id)) {
        // Only the report the screen looked up can be modified.
        return tell(QStringLiteral("Lab ID does not exist"));
    }
    if (!patient_id) return patient_missing();
    ReportChange change;
    change.looked_up = *looked_up_;
    change.shown_name = form_.name;
    change.header.lab_id = *lab_id;
    change.header.patient_id = *patient_id;
    change.header.ref_by = stored_text(form_.doctor);
    change.header.test = QString::fromUtf8(test_.investigation->test);
    change.header.remarks = stored_text(form_.remarks);
    change.table = QString::fromLatin1(test_.investigation->table);
    change.results = results();
    change.taken_results = analyzer_taken_;
    // Stored results the screen could not show are never lost: rows no box
    // matches, and results too long for their box unless a new one was typed.
    change.keep = unshown_rows_;
    for (const auto& [rowid, box] : emptied_rows_)
        if (box >= test_.box_count || result_is_empty(form_.results[box])) change.keep << rowid;
    const DbError e = modify_report(who_(), change);
    if (e.kind == DbError::Kind::NotFound) return patient_missing();
    if (e.changed()) {
        tell(QStringLiteral("Another workstation changed this report since it was looked up. Nothing "
                            "was stored; the stored report is shown again."));
        return lab_id_lookup();
    }
    if (failed(e, "Storing the changes")) return;
    const qsizetype kept = change.keep.size();
    tell(QStringLiteral("Report has been modified"));
    if (kept > 0)
        tell(QStringLiteral("%1 stored result(s) of this report could not be shown on this screen; "
                            "they were kept as they were.")
                 .arg(kept));
    alert_critical(change.header.lab_id);
    clear();
}

ListQuery ResultWorkflow::report_list() const {
    return test_report_list(QString::fromUtf8(test_.investigation->list));
}

void ResultWorkflow::step_template(int step) {
    const int next = template_no_ + step;
    if (next < 1 || next > int(test_.templates.size())) return;
    template_no_ = next;
    const FindingTemplate& t = test_.templates[template_no_ - 1];
    for (int i = 0; i < 4 && i < form_.results.size(); ++i)
        form_.results[i] = QString::fromUtf8(t.texts[i]);
}

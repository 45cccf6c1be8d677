#pragma once

#include "app_state.h"
#include "definition.h"
#include "lab_reports.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class ReportEngine;

// What a result screen shows: the text of every box and which controls are
// open. The screen copies what the user typed into it before each action and
// shows it again after.
struct ResultForm {
    QString lab_id, patient_id, name, date, age, sex, doctor, remarks;
    QStringList doctors;      // the doctor box's choices
    QStringList results;      // one text per result item
    bool lab_id_open = false; // typed into; locked otherwise
    bool patient_id_open = false;
    bool save_open = true;
    bool modify_open = false;
    bool list_open = false;
    int page = 1; // on screens with pages
    // The looked-up report's sign-off, and whether it can be verified now
    // (by a login whose role may verify, a report not verified yet).
    QString sign_off;
    bool verify_open = false;
    // The looked-up report has critical results whose call is not recorded yet.
    bool call_open = false;
    // Results the analyzers sent for this lab id that fill boxes of this screen.
    int analyzer_results = 0;
    // The person logged in may not enter results: the result boxes are locked
    // (the report can still be looked up and printed).
    bool results_locked = false;
};

// Where the focus goes after an action.
enum class FormFocus { Stay, LabId, PatientId, PatientIdSelected, Name, Doctor, FirstResult };

// The decisions of a result screen, without the screen: what opening, the
// look-ups, Save, Modify, Clear, Show and Print do to the form and the
// database, the messages they ask for and the ids they offer. Messages go
// through the message-box seam and prints through the report engine.
class ResultWorkflow {
public:
    // `before_message` runs before every message and print, so that the
    // screen beneath shows the form as it stands at that moment.
    // `who` names the person logged in at the moment of each action (the
    // record operations check their rights).
    explicit ResultWorkflow(const TestDefinition& test, std::function<void()> before_message = {},
                            std::function<Actor()> who = current_actor);
    ~ResultWorkflow();

    const TestDefinition& test() const { return test_; }
    ResultForm& form() { return form_; }
    const ResultForm& form() const { return form_; }
    // Where the last action sends the focus; given once.
    FormFocus take_focus();

    void open();
    void save();
    void modify();
    void clear();
    void show_mode();
    void lab_id_lookup();         // when the lab id box is left
    void patient_lookup();        // when the patient id box is left
    bool print();                 // whether it printed
    void verify();                // signs the looked-up report off
    void record_call();           // records the call about the looked-up report's critical results
    void take_analyzer_results(); // fills the boxes the analyzers' results for this lab id map to
    // An ordered test, on a screen opened for an old patient: the patient and
    // the doctor come from the order, locked; Save links the report to it.
    void take_order(qint64 accession, qint64 patient_id, const QString& doctor);
    std::optional<qint64> order() const { return order_; }
    ListQuery report_list() const;
    void step_template(int step); // screens with finding templates: +1 or -1
    int template_no() const { return template_no_; }
    bool in_lookup() const { return in_lookup_; }

    // Whether a result counts as empty: trimmed, one of the test's empty texts.
    bool result_is_empty(const QString& text) const;

private:
    void tell(const QString& text);
    bool failed(const DbError& error, const char* action);
    void focus(FormFocus where) { focus_ = where; }
    void offer_fresh_ids(bool patient);
    void fill_doctors();
    void forget_patient();
    void forget_report();
    void patient_missing();
    void show_sign_off(const QVariant& lab_id);
    void finish_save();
    void alert_critical(const QVariant& lab_id);
    void ask_for_call(const QVariant& lab_id, const struct CriticalCall& call);
    bool save_failed(const DbError& error);
    void count_analyzer_results();
    std::optional<struct AnalyzerFill> analyzer_boxes();
    QList<ResultRow> results() const;

    const TestDefinition& test_;
    std::function<void()> before_message_;
    std::function<Actor()> who_;
    bool told_locked_ = false;
    std::unique_ptr<ReportEngine> engine_;
    ResultForm form_;
    FormFocus focus_ = FormFocus::Stay;
    int template_no_ = 1;
    bool in_lookup_ = false;
    // Stored rows of the looked-up report that its boxes do not show: a row
    // whose caption matches no box (and every row after it), and a result too
    // long for its box (with the box). Modify keeps them.
    QList<qint64> unshown_rows_;
    QList<std::pair<qint64, int>> emptied_rows_;
    // The report as the lookup found it: modify stores only while it still reads so.
    std::optional<ReportSnapshot> looked_up_;
    // The analyzers' results the boxes took: Save or Modify marks them taken.
    QList<qint64> analyzer_taken_;
    bool analyzers_in_use_ = false;
    // The ids this screen offers, reserved for it (0: none).
    qint64 reserved_lab_ = 0, reserved_patient_ = 0;
    bool ids_ready_ = false;      // reserved by the last save, not offered yet
    std::optional<qint64> order_; // the accession whose test this report results
    void release_reserved_ids();
};

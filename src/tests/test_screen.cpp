#include "test_screen.h"

#include "app_state.h"
#include "boxes.h"
#include "dates.h"
#include "failure_messages.h"
#include "list_panel.h"
#include "message_box.h"
#include "number_value.h"
#include "report_engine.h"
#include "screen_registry.h"
#include "test_reports.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

TestScreen::TestScreen(const TestDefinition& test, QWidget* parent)
    : QWidget(parent), test_(test), engine_(make_report_engine()) {
    build();
    on_left(lab_id_, [this] {
        if (lab_id_->isEnabled()) lab_id_lookup();
    });
    on_left(patient_id_, [this] {
        if (patient_id_->isEnabled() && !in_lookup_) patient_lookup();
    });

    // Open.
    save_->setEnabled(true);
    modify_->setEnabled(false);
    date_->setText(display_date(today()));
    fill_doctors();
    if (app_state().register_on_save) {
        offer_fresh_ids(true);
    } else {
        patient_id_->setEnabled(true);
        offer_fresh_ids(false);
    }
    age_->setText(QStringLiteral("-"));
    sex_->setText(QStringLiteral("-"));
    set_remarks(QStringLiteral(" "));
    if (!pages_.isEmpty()) show_page(1);
    fit_to_screen();
    (patient_id_->isEnabled() ? static_cast<QWidget*>(patient_id_) : p_name_)->setFocus();
}

TestScreen::~TestScreen() = default;

void TestScreen::fill_doctors() {
    auto names = doctor_names();
    if (report_failure(names.error, QStringLiteral("Reading the list of doctors"))) return;
    doctor_->clear();
    doctor_->addItems(names.value);
    if (!names.value.isEmpty()) doctor_->setCurrentIndex(0);
}

void TestScreen::offer_fresh_ids(bool patient) {
    if (patient) {
        auto next = next_patient_id();
        patient_id_->setText(next.ok() ? QString::number(next.value) : QString());
        patient_id_->setEnabled(false);
        if (report_failure(next.error, QStringLiteral("Reading the next patient id"))) return;
    }
    auto next = next_lab_id();
    lab_id_->setText(next.ok() ? QString::number(next.value) : QString());
    lab_id_->setEnabled(false);
    report_failure(next.error, QStringLiteral("Reading the next lab id"));
}

bool TestScreen::box_is_empty(int index) const {
    const QString text = trim_blanks(box_text(boxes_[index]));
    for (const char* empty : test_.empty_texts)
        if (text == QLatin1String(empty)) return true;
    return false;
}

QString TestScreen::remarks() const {
    return rtb_->toPlainText();
}

void TestScreen::set_remarks(const QString& text) {
    rtb_->setPlainText(text);
}

// The rows a report stores: one per filled box (every box on screens that
// store them all), caption verbatim, text as typed.
static QList<ResultRow> results_of(const TestDefinition& test, const QList<QWidget*>& boxes,
                                   const std::function<bool(int)>& empty) {
    QList<ResultRow> rows;
    for (int i = 0; i < test.box_count; ++i)
        if (test.store_every_box || !empty(i))
            rows << ResultRow{0, QString::fromUtf8(test.items[i].caption), box_text(boxes[i])};
    return rows;
}

void TestScreen::save() {
    if (p_name_->text().isEmpty()) {
        show_message(QString::fromUtf8(test_.missing_name_message));
        return;
    }
    bool all_empty = true;
    for (int i = 0; i < test_.box_count && all_empty; ++i)
        all_empty = box_is_empty(i);
    if (all_empty) {
        show_message(QString::fromUtf8(test_.empty_report_message));
        return;
    }

    const AppState& state = app_state();
    const auto patient_id = whole_number(patient_id_->text());
    if (!patient_id) return patient_missing();
    const auto lab_id = typed_id(lab_id_->text());
    if (!lab_id) return;
    NewReport report;
    if (state.register_on_save)
        report.patient = minimal_patient(*patient_id, p_name_->text(), age_->text(), sex_->text());
    else
        report.shown_name = p_name_->text(); // the report goes to the patient on screen, or nowhere
    report.header.lab_id = *lab_id;
    report.header.patient_id = *patient_id;
    report.header.ref_by = doctor_->currentText();
    report.header.test = QString::fromUtf8(test_.caption);
    report.header.remarks = remarks();
    report.header.temp_patient = state.mark_temporary ? QStringLiteral("Y") : QStringLiteral("N");
    report.table = QString::fromLatin1(test_.table);
    report.results = results_of(test_, boxes_, [this](int i) { return box_is_empty(i); });
    const DbError saved = save_report(report);
    if (saved.kind == DbError::Kind::NotFound) return patient_missing();
    if (save_failed(saved)) return;

    show_message(QStringLiteral("New report added"));
    // The report is stored: Save is done with it whatever the print or the
    // doctor step says, so it can never be stored twice.
    save_->setEnabled(false);
    if (test_.print_before_doctor && !run_print()) return;
    const DbError doctor = add_doctor_if_new(doctor_->currentText());
    if (test_.show_save_errors ? save_failed(doctor)
                               : report_failure(doctor, QStringLiteral("Adding the doctor")))
        return;
    if (!test_.print_before_doctor) run_print();
}

void TestScreen::patient_missing() {
    show_message(QStringLiteral("Patient ID does not exist"));
    if (patient_id_->isEnabled()) {
        patient_id_->setFocus();
        patient_id_->selectAll();
    }
}

bool TestScreen::save_failed(const DbError& error) {
    if (error.ok()) return false;
    if (test_.show_save_errors) {
        show_message(QString::number(error.code));
        show_message(error.description);
    }
    if (error.duplicate()) {
        show_message(QStringLiteral("ID already exists."));
        // Another workstation took the number first. On a new report the ids
        // are the program's own: offer fresh ones and keep everything typed,
        // so Save stores the report under them.
        if (!lab_id_->isEnabled()) offer_fresh_ids(!patient_id_->isEnabled());
    } else if (!test_.show_save_errors) {
        report_failure(error, QStringLiteral("Saving the report"));
    }
    return true;
}

bool TestScreen::run_print() {
    if (!typed_id(lab_id_->text())) return false;
    const ReportRequest request =
        test_report_request(QString::fromLatin1(test_.report_file),
                            QString::fromLatin1(test_.header_report_file), lab_id_->text());
    const QString failure = run_report(*engine_, request);
    if (failure.isEmpty()) return true;
    show_message(QStringLiteral("The report could not be printed. %1").arg(failure));
    return false;
}

void TestScreen::print() {
    run_print();
}

void TestScreen::clear() {
    if (!pages_.isEmpty()) show_page(1);
    p_name_->clear();
    doctor_->setEditText(QString());
    sex_->setText(QStringLiteral("-"));
    age_->setText(QStringLiteral("-"));
    set_remarks(QString());
    list_->hide();
    if (!test_.clear_keeps_results)
        for (int i = 0; i < test_.box_count; ++i)
            set_box_text(boxes_[i], QString());
    modify_->setEnabled(false);
    p_name_->setFocus();
    unshown_rows_.clear();
    emptied_rows_.clear();
    looked_up_.reset();
    offer_fresh_ids(true);
}

void TestScreen::show_mode() {
    clear();
    patient_id_->clear();
    lab_id_->setEnabled(true);
    lab_id_->clear();
    lab_id_->setFocus();
}

void TestScreen::lab_id_lookup() {
    if (in_lookup_) return;
    in_lookup_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{in_lookup_};

    modify_->setEnabled(true);
    if (lab_id_->text().isEmpty()) {
        show_message(QStringLiteral("No ID given"));
        clear();
        return;
    }
    // A lookup that fails leaves nothing of the report shown before.
    auto forget_report = [this] {
        modify_->setEnabled(false);
        looked_up_.reset();
        p_name_->clear();
        age_->setText(QStringLiteral("-"));
        sex_->setText(QStringLiteral("-"));
        patient_id_->clear();
        doctor_->setEditText(QString());
        set_remarks(QString());
        if (!test_.clear_keeps_results)
            for (int i = 0; i < test_.box_count; ++i)
                set_box_text(boxes_[i], QString());
    };
    const auto typed = typed_id(lab_id_->text());
    if (!typed) return forget_report();
    const QVariant lab_id = *typed;
    auto found = find_report(lab_id);
    if (report_failure(found.error, QStringLiteral("Looking up the report"))) return forget_report();
    if (!found.value) {
        show_message(QStringLiteral("Lab ID does not exist"));
        clear();
        return;
    }
    const ReportHeader& h = *found.value;
    if (h.test != QString::fromUtf8(test_.caption)) {
        show_message(QStringLiteral("lab Id %1 is in %2").arg(lab_id_->text(), h.test));
        clear();
        return;
    }
    auto rows = report_results(QString::fromLatin1(test_.table), lab_id);
    if (report_failure(rows.error, QStringLiteral("Looking up the report"))) return forget_report();
    looked_up_ = ReportSnapshot{h, rows.value};
    patient_id_->setText(value_text(h.patient_id));
    doctor_->setEditText(h.ref_by);
    date_->setText(display_date(h.t_date));
    set_remarks(h.remarks);

    patient_id_->setEnabled(true);
    auto patient = find_patient(h.patient_id);
    if (!report_failure(patient.error, QStringLiteral("Looking up the patient")) && patient.value) {
        p_name_->setText(patient.value->patient_name);
        age_->setText(patient.value->age);
        sex_->setText(patient.value->sex);
    }
    patient_id_->setFocus();

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
        set_box_text(boxes_[match], row.result);
        if (box_text(boxes_[match]) != row.result) emptied_rows_ << std::pair{row.rowid, match};
    }
}

void TestScreen::patient_lookup() {
    const auto id = typed_id(patient_id_->text());
    auto found = id ? find_patient(*id) : DbResult<std::optional<Patient>>{};
    if (!id || report_failure(found.error, QStringLiteral("Looking up the patient"))) {
        // Nothing of a patient shown before stays on the screen.
        p_name_->clear();
        age_->setText(QStringLiteral("-"));
        sex_->setText(QStringLiteral("-"));
        return;
    }
    if (!found.value) {
        show_message(QStringLiteral("Patient ID does not exist"));
        p_name_->clear();
        age_->setText(QStringLiteral("-"));
        sex_->setText(QStringLiteral("-"));
        patient_id_->clear();
        patient_id_->setFocus();
        return;
    }
    p_name_->setText(found.value->patient_name);
    age_->setText(found.value->age);
    sex_->setText(found.value->sex);
    doctor_->setFocus();
}

void TestScreen::modify() {
    const auto lab_id = typed_id(lab_id_->text());
    if (!lab_id) return;
    const auto patient_id = whole_number(patient_id_->text());
    if (!looked_up_ || !same_key(looked_up_->header.lab_id, *lab_id)) {
        // Only the report the screen looked up can be modified.
        show_message(QStringLiteral("Lab ID does not exist"));
        return;
    }
    if (!patient_id) return patient_missing();
    ReportChange change;
    change.looked_up = *looked_up_;
    change.shown_name = p_name_->text();
    change.header.lab_id = *lab_id;
    change.header.patient_id = *patient_id;
    change.header.ref_by = doctor_->currentText();
    change.header.test = QString::fromUtf8(test_.caption);
    change.header.remarks = remarks();
    change.table = QString::fromLatin1(test_.table);
    change.results = results_of(test_, boxes_, [this](int i) { return box_is_empty(i); });
    // Stored results the screen could not show are never lost: rows no box
    // matches, and results too long for their box unless a new one was typed.
    change.keep = unshown_rows_;
    for (const auto& [rowid, box] : emptied_rows_)
        if (box >= test_.box_count || box_is_empty(box)) change.keep << rowid;
    const DbError e = modify_report(change);
    if (e.kind == DbError::Kind::NotFound) return patient_missing();
    if (e.changed()) {
        show_message(QStringLiteral("Another workstation changed this report since it was looked up. Nothing "
                                    "was stored; the stored report is shown again."));
        lab_id_lookup();
        return;
    }
    if (report_failure(e, QStringLiteral("Storing the changes"))) return;
    const qsizetype kept = change.keep.size();
    show_message(QStringLiteral("Report has been modified"));
    if (kept > 0)
        show_message(QStringLiteral("%1 stored result(s) of this report could not be shown on this screen; "
                                    "they were kept as they were.")
                         .arg(kept));
    clear();
}

void TestScreen::show_all() {
    list_->show_list(test_report_list(QString::fromUtf8(test_.list_test_name)),
                     QStringLiteral("Listing the reports"));
}

void TestScreen::exit() {
    close();
}

void TestScreen::closeEvent(QCloseEvent* event) {
    // The menu stayed open beneath; it is loaded again only if it is not.
    if (!screens::ending() && !screens::find(QString::fromLatin1(kMainMenu)))
        screens::open(QString::fromLatin1(kMainMenu));
    QWidget::closeEvent(event);
}

void TestScreen::show_page(int page) {
    for (int p = 0; p < pages_.size(); ++p)
        pages_[p]->setVisible(p + 1 == page);
    if (page == 2) {
        if (boxes_.size() > 20) boxes_[20]->setFocus();
    } else if (auto* next = findChild<QPushButton*>(QStringLiteral("Command1")); next && isVisible()) {
        next->setFocus();
    }
}

void TestScreen::step_template(int step) {
    const int next = template_no_ + step;
    if (next < 1 || next > int(test_.templates.size())) return;
    template_no_ = next;
    show_template();
}

void TestScreen::show_template() {
    const FindingTemplate& t = test_.templates[template_no_ - 1];
    for (int i = 0; i < 4 && i < boxes_.size(); ++i)
        set_box_text(boxes_[i], QString::fromUtf8(t.texts[i]));
}

void register_test_screens() {
    for (const TestDefinition* test : test_catalogue())
        screens::add(QString::fromLatin1(test->screen), [test] { return new TestScreen(*test); });
}

#include "result_screen.h"

#include "orders.h"

#include "boxes.h"
#include "failure_messages.h"
#include "label_printing.h"
#include "list_panel.h"
#include "message_box.h"
#include "screen_registry.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

namespace {

void set_text(QLineEdit* box, const QString& text) {
    if (box->text() != text) box->setText(text);
}

} // namespace

TestScreen::TestScreen(const TestDefinition& test, QWidget* parent)
    : QWidget(parent), test_(test), workflow_(test, [this] { show_form(); }) {
    build();
    on_left(lab_id_, [this] {
        if (lab_id_->isEnabled() && !showing_form_) lab_id_lookup();
    });
    on_left(patient_id_, [this] {
        if (patient_id_->isEnabled() && !workflow_.in_lookup() && !showing_form_) patient_lookup();
    });
    workflow_.open();
    show_form();
    fit_to_screen();
}

TestScreen::~TestScreen() = default;

void TestScreen::read_form() {
    ResultForm& f = workflow_.form();
    f.lab_id = lab_id_->text();
    f.patient_id = patient_id_->text();
    f.name = p_name_->text();
    f.age = age_->text();
    f.sex = sex_->text();
    f.doctor = doctor_->currentText();
    f.remarks = rtb_->toPlainText();
    for (int i = 0; i < boxes_.size(); ++i)
        f.results[i] = box_text(boxes_[i]);
    f.list_open = !list_->isHidden();
}

void TestScreen::show_form() {
    if (showing_form_) return;
    showing_form_ = true;
    const ResultForm& f = workflow_.form();
    set_text(lab_id_, f.lab_id);
    set_text(patient_id_, f.patient_id);
    set_text(p_name_, f.name);
    set_text(date_, f.date);
    set_text(age_, f.age);
    set_text(sex_, f.sex);
    QStringList choices;
    for (int i = 0; i < doctor_->count(); ++i)
        choices << doctor_->itemText(i);
    if (choices != f.doctors) {
        doctor_->clear();
        doctor_->addItems(f.doctors);
    }
    if (doctor_->currentText() != f.doctor) doctor_->setEditText(f.doctor);
    if (rtb_->toPlainText() != f.remarks) rtb_->setPlainText(f.remarks);
    for (int i = 0; i < boxes_.size(); ++i) {
        if (box_text(boxes_[i]) != f.results[i]) set_box_text(boxes_[i], f.results[i]);
        set_box_read_only(boxes_[i], f.results_locked);
    }
    lab_id_->setEnabled(f.lab_id_open);
    patient_id_->setEnabled(f.patient_id_open);
    save_->setEnabled(f.save_open);
    modify_->setEnabled(f.modify_open);
    verify_->setEnabled(f.verify_open);
    call_->setVisible(f.call_open);
    if (f.analyzer_results > 0) {
        const QString label = QStringLiteral("Analyzer &results (%1)").arg(f.analyzer_results);
        analyzer_->setText(label);
        analyzer_->setAccessibleName(QString(label).remove(u'&'));
    }
    analyzer_->setVisible(f.analyzer_results > 0);
    if (sign_off_->text() != f.sign_off) sign_off_->setText(f.sign_off);
    sign_off_->setVisible(!f.sign_off.isEmpty());
    if (!f.list_open && !list_->isHidden()) list_->hide();
    for (int p = 0; p < pages_.size(); ++p)
        pages_[p]->setVisible(p + 1 == f.page);
    switch (workflow_.take_focus()) {
    case FormFocus::Stay:
        break;
    case FormFocus::LabId:
        lab_id_->setFocus();
        break;
    case FormFocus::PatientId:
        patient_id_->setFocus();
        break;
    case FormFocus::PatientIdSelected:
        patient_id_->setFocus();
        patient_id_->selectAll();
        break;
    case FormFocus::Name:
        p_name_->setFocus();
        break;
    case FormFocus::Doctor:
        doctor_->setFocus();
        break;
    case FormFocus::FirstResult:
        for (QWidget* box : boxes_)
            if (box->isEnabled() && box->isVisibleTo(this)) {
                box->setFocus();
                break;
            }
        break;
    }
    showing_form_ = false;
}

void TestScreen::act(const std::function<void()>& action) {
    read_form();
    action();
    show_form();
}

void TestScreen::save() {
    act([this] { workflow_.save(); });
}
void TestScreen::modify() {
    act([this] { workflow_.modify(); });
}
void TestScreen::clear() {
    act([this] { workflow_.clear(); });
}
void TestScreen::show_mode() {
    act([this] { workflow_.show_mode(); });
}
void TestScreen::print() {
    act([this] { workflow_.print(); });
}
void TestScreen::verify() {
    act([this] { workflow_.verify(); });
}
void TestScreen::record_call() {
    act([this] { workflow_.record_call(); });
}
void TestScreen::take_analyzer_results() {
    act([this] { workflow_.take_analyzer_results(); });
}
void TestScreen::lab_id_lookup() {
    if (workflow_.in_lookup()) return;
    act([this] { workflow_.lab_id_lookup(); });
}
void TestScreen::patient_lookup() {
    act([this] { workflow_.patient_lookup(); });
}
void TestScreen::step_template(int step) {
    act([this, step] { workflow_.step_template(step); });
}

void TestScreen::look_up(qint64 lab_id) {
    act([this, lab_id] {
        workflow_.show_mode();
        workflow_.form().lab_id = QString::number(lab_id);
        workflow_.lab_id_lookup();
    });
}

void TestScreen::take_order(qint64 accession, qint64 patient_id, const QString& doctor) {
    act([=, this] { workflow_.take_order(accession, patient_id, doctor); });
}

TestScreen* TestScreen::open_for_order(const Investigation& test, const OrderedSample& sample) {
    const QString screen = QString::fromLatin1(test.screen);
    if (screens::find(screen)) {
        show_message(QStringLiteral("The %1 screen is open: save or close what it holds first.")
                         .arg(QString::fromUtf8(test.test)));
        return nullptr;
    }
    // As for an old patient: the report goes to the patient on the order.
    app_state().register_on_save = false;
    app_state().mark_temporary = false;
    const OrderedSample order = sample; // the caller's list may be read again meanwhile
    auto* w = qobject_cast<TestScreen*>(screens::open(screen));
    if (w) w->take_order(order.accession, order.patient_id, order.ref_by);
    return w;
}

void TestScreen::print_label() {
    read_form();
    bool number = false;
    const qint64 lab_id = workflow_.form().lab_id.trimmed().toLongLong(&number);
    auto label = number ? report_label(lab_id) : DbResult<std::optional<LabelContent>>{};
    if (report_failure(label.error, QStringLiteral("Reading the report for its label"))) return;
    if (!label.value) return (void)show_message(QStringLiteral("Lab ID does not exist"));
    print_labels({*label.value}, this);
}

void TestScreen::show_all() {
    list_->show_list(workflow_.report_list(), QStringLiteral("Listing the reports"));
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
    workflow_.form().page = page;
    for (int p = 0; p < pages_.size(); ++p)
        pages_[p]->setVisible(p + 1 == page);
    if (page == 2) {
        if (boxes_.size() > 20) boxes_[20]->setFocus();
    } else if (auto* next = findChild<QPushButton*>(QStringLiteral("Command1")); next && isVisible()) {
        next->setFocus();
    }
}

void register_test_screens() {
    for (const TestDefinition* test : test_catalogue())
        screens::add(QString::fromLatin1(test->investigation->screen),
                     [test] { return new TestScreen(*test); });
}

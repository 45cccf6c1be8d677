#include "order_window.h"

#include "app_state.h"
#include "boxes.h"
#include "core_tables.h"
#include "failure_messages.h"
#include "lab_reports.h"
#include "label_printing.h"
#include "message_box.h"
#include "orders.h"
#include "orders_waiting.h"
#include "screen_registry.h"
#include "turnaround_window.h"
#include "typed_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

OrderWindow::OrderWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kOrderTestsScreen));
    setWindowTitle(QStringLiteral("Order tests"));
    apply_screen_look(this);

    patient_id_ = new QLineEdit(this);
    patient_id_->setObjectName(QStringLiteral("patient_id"));
    patient_id_->setAccessibleName(QStringLiteral("Patient ID"));
    patient_id_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,15}")), patient_id_));
    on_left(patient_id_, [this] { look_up(); });
    connect(patient_id_, &QLineEdit::returnPressed, this, [this] { focusNextChild(); });
    patient_ = new QLabel(this);
    patient_->setObjectName(QStringLiteral("patient"));
    patient_->setAccessibleName(QStringLiteral("Patient"));
    patient_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    doctor_ = new QComboBox(this);
    doctor_->setObjectName(QStringLiteral("doctor"));
    doctor_->setEditable(true);
    doctor_->setAccessibleName(QStringLiteral("Referring doctor"));
    doctor_->lineEdit()->setAccessibleName(QStringLiteral("Referring doctor"));
    priority_ = new QComboBox(this);
    priority_->setObjectName(QStringLiteral("priority"));
    priority_->addItems({QStringLiteral("Routine"), QStringLiteral("Urgent")});
    priority_->setAccessibleName(QStringLiteral("Priority"));
    note_ = new QLineEdit(this);
    note_->setObjectName(QStringLiteral("note"));
    note_->setAccessibleName(QStringLiteral("Note"));
    note_->setMaxLength(200);

    auto* form = new QFormLayout;
    auto row = [&](const QString& caption, QWidget* w) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(w);
        form->addRow(label, w);
    };
    row(QStringLiteral("&Patient ID"), patient_id_);
    form->addRow(QString(), patient_);
    row(QStringLiteral("Referring &doctor"), doctor_);

    auto* tests = new QGroupBox(QStringLiteral("Tests"), this);
    auto* grid = new QGridLayout(tests);
    int i = 0;
    for (const Investigation* t : catalogue::kAll) {
        auto* box = new QCheckBox(QString::fromUtf8(t->test), tests);
        box->setObjectName(QString::fromLatin1(t->table));
        box->setAccessibleName(QString::fromUtf8(t->test));
        box->setAccessibleDescription(catalogue::sample_name(catalogue::sampling(t).sample));
        grid->addWidget(box, i / 3, i % 3);
        tests_ << box;
        ++i;
    }
    auto* after = new QFormLayout;
    auto row_after = [&](const QString& caption, QWidget* w) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(w);
        after->addRow(label, w);
    };
    row_after(QStringLiteral("P&riority"), priority_);
    row_after(QStringLiteral("&Note"), note_);

    auto* save = named_button(this, "save", "&Save");
    auto* clear_button = named_button(this, "clear", "C&lear");
    auto* waiting = named_button(this, "waiting", "Orders &waiting");
    auto* close_button = named_button(this, "close", "E&xit");
    connect(save, &QPushButton::clicked, this, &OrderWindow::save);
    connect(clear_button, &QPushButton::clicked, this, &OrderWindow::clear);
    connect(waiting, &QPushButton::clicked, this,
            [] { screens::open(QString::fromLatin1(kOrdersWaitingScreen)); });
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {save, clear_button, waiting, close_button})
        buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(tests);
    layout->addLayout(after);
    layout->addStretch();
    layout->addLayout(buttons);
    enter_presses_buttons(this);

    auto names = doctor_names();
    if (names.ok()) doctor_->addItems(names.value);
    doctor_->setCurrentIndex(-1);
    patient_id_->setFocus();
}

QCheckBox* OrderWindow::test_box(const Investigation* test) const {
    for (int i = 0; i < int(std::size(catalogue::kAll)); ++i)
        if (catalogue::kAll[i] == test) return tests_.value(i);
    return nullptr;
}

void OrderWindow::set_patient(qint64 patient_id) {
    patient_id_->setText(QString::number(patient_id));
    look_up();
}

void OrderWindow::look_up() {
    found_.reset();
    patient_->clear();
    if (patient_id_->text().isEmpty()) return;
    const auto id = typed_id(patient_id_->text());
    if (!id) return;
    auto found = find_patient(*id);
    if (report_failure(found.error, QStringLiteral("Looking up the patient"))) return;
    if (!found.value) {
        show_message(QStringLiteral("Patient ID does not exist"));
        patient_id_->clear();
        patient_id_->setFocus();
        return;
    }
    found_ = id->toLongLong();
    const Patient& p = *found.value;
    patient_->setText(p.age.trimmed().isEmpty() && p.sex.trimmed().isEmpty()
                          ? p.patient_name
                          : QStringLiteral("%1 · %2 / %3").arg(p.patient_name, p.age, p.sex));
}

void OrderWindow::save() {
    if (!found_ || patient_id_->text() != QString::number(*found_)) {
        look_up();
        if (!found_) {
            if (patient_id_->text().isEmpty()) show_message(QStringLiteral("No ID given"));
            patient_id_->setFocus();
            return;
        }
    }
    OrderRequest order;
    order.patient_id = *found_;
    order.ref_by = doctor_->currentText().trimmed();
    order.priority = priority_->currentIndex() == 1 ? Priority::Urgent : Priority::Routine;
    order.note = note_->text().trimmed();
    for (int i = 0; i < tests_.size(); ++i)
        if (tests_[i]->isChecked()) order.tests << catalogue::kAll[i];
    if (order.tests.isEmpty()) {
        show_message(QStringLiteral("Tick at least one test."));
        return;
    }
    const auto placed = place_order(current_actor(), order);
    if (placed.error.kind == DbError::Kind::Forbidden || placed.error.kind == DbError::Kind::NotFound) {
        show_message(placed.error.description);
        return;
    }
    if (report_failure(placed.error, QStringLiteral("Saving the order"))) return;
    QStringList given;
    QList<LabelContent> labels;
    for (qint64 a : placed.value) {
        auto sample = ordered_sample(a);
        if (sample.ok() && sample.value) {
            given << QStringLiteral("%1 (%2)").arg(accession_text(a),
                                                   catalogue::sample_name(sample.value->sample));
            labels << sample_label(*sample.value);
        }
    }
    if (show_message(
            QStringLiteral("Order saved: %1. Print the labels?").arg(given.join(QStringLiteral(", "))),
            MessageButtons::YesNo) == MessageAnswer::Yes)
        print_labels(labels, this);
    clear();
}

void OrderWindow::clear() {
    found_.reset();
    patient_id_->clear();
    patient_->clear();
    doctor_->setCurrentIndex(-1);
    doctor_->setEditText(QString());
    priority_->setCurrentIndex(0);
    note_->clear();
    for (QCheckBox* b : tests_)
        b->setChecked(false);
    patient_id_->setFocus();
}

void register_order_screens() {
    screens::add(QString::fromLatin1(kOrderTestsScreen), [] { return new OrderWindow; });
    screens::add(QString::fromLatin1(kOrdersWaitingScreen), [] { return new OrdersWaitingWindow; });
    screens::add(QString::fromLatin1(kTurnaroundScreen), [] { return new TurnaroundWindow; });
}

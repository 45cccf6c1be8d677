#include "registration_screen.h"

#include "app_state.h"
#include "core_tables.h"
#include "dates.h"
#include "failure_messages.h"
#include "field_rules.h"
#include "list_panel.h"
#include "message_box.h"
#include "orders.h"
#include "screen_registry.h"
#include "twips.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextEdit>

namespace {

// The boxes of Frame1 in tab order: name, label caption, left and top in twips,
// and a size where the box is not the usual 2055 x 285.
struct BoxLayout {
    const char* name;
    const char* caption;
    int left, top;
    int width = 2055, height = 285;
    bool rich = false;
};

constexpr BoxLayout kBoxes[] = {
    {"Text1", "Patient Reg. No", 1800, 240},
    {"text2", "Name", 1800, 600},
    {"Text3", "Age", 1800, 960},
    {"Text4", "Sex", 1800, 1320},
    {"Text5", "Res.Phone No.", 1800, 1800},
    {"Text6", "Mobile No.", 1800, 2160},
    {"Text7", "Occupation", 1800, 2520},
    {"Text8", "Next of Kin name", 5640, 240},
    {"text9", "Address", 5640, 720, 2052, 732, true},
    {"Text10", "Email ID", 5640, 1680},
    {"Text11", "Registration date", 5640, 2160},
    {"text12", "Brief history / clinical findings", 5640, 2880, 2172, 612, true},
};

// The buttons in one row at top 4320, 612 high, labels drawn on them.
struct ButtonLayout {
    const char* name;
    const char* label;
    int left;
};

// Each label carries an Alt accelerator ("&" before its letter).
constexpr ButtonLayout kButtons[] = {
    {"cmdAdd", "&Save", 0},      {"cmdModify", "&modify", 1200},  {"cmdClear", "&Clear", 2280},
    {"cmdShow", "S&how", 3480},  {"Command3", "Show &all", 4680}, {"cmdPrint", "&Print", 5880},
    {"cmdClose", "E&xit", 7080},
};
// Which column of `registration` each box shows, in the order a look-up fills
// them. The registration date box shows reg_date in the short date form;
// Save and Modify store today's date whatever it shows.
struct BoxColumn {
    const char* box;
    QString Patient::*column;
};

const BoxColumn kBoxColumns[] = {
    {"text2", &Patient::patient_name},
    {"Text3", &Patient::age},
    {"Text4", &Patient::sex},
    {"Text5", &Patient::phone},
    {"Text6", &Patient::mobile},
    {"Text10", &Patient::emailid},
    {"Text7", &Patient::occupation},
    {"Text8", &Patient::next_of_kin},
    {"text9", &Patient::address},
    {"Text11", &Patient::reg_date},
    {"text12", &Patient::brief_history},
};

constexpr int kButtonTop = 4320, kButtonWidth = 1000, kButtonHeight = 612;
constexpr int kFrameLeft = 120; // Frame1 sits a little in from the screen's edge

} // namespace

RegistrationScreen::RegistrationScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kRegistrationScreen));
    setWindowTitle(QStringLiteral("Registration"));
    setFixedSize(twips_rect(0, 0, 8652 + 2 * kFrameLeft, 5160).size());
    apply_screen_look(this);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setGeometry(twips_rect(kFrameLeft, 60, 8652 - kFrameLeft, 4140));

    QWidget* previous = nullptr;
    for (const BoxLayout& b : kBoxes) {
        QWidget* w;
        if (b.rich) {
            auto* rich = new QTextEdit(frame);
            rich->setAcceptRichText(false);
            rich->setTabChangesFocus(true);
            w = rich;
        } else {
            w = new QLineEdit(frame);
        }
        w->setObjectName(QString::fromLatin1(b.name));
        w->setGeometry(twips_rect(b.left, b.top, b.width, b.height));
        auto* label = new QLabel(QString::fromLatin1(b.caption), frame);
        const bool above = b.rich && b.height == 612;
        if (above)
            label->setGeometry(twips_rect(b.left, b.top - 500, b.width + 600, 480));
        else
            label->setGeometry(twips_rect(b.left - 1740, b.top, 1680, 285));
        label->setAlignment(above ? Qt::AlignLeft | Qt::AlignBottom : Qt::AlignRight | Qt::AlignVCenter);
        label->setWordWrap(true);
        label->setBuddy(w);
        w->setAccessibleName(QString::fromLatin1(b.caption));
        if (previous) setTabOrder(previous, w);
        previous = w;
    }
    for (const FieldRule& rule : kFieldRules) {
        QWidget* w = box(rule.box);
        if (QLatin1String(rule.box) == QLatin1String("Text3"))
            apply_age_rule(w);
        else
            apply_field_rule(w, rule);
    }
    line("Text11")->setEnabled(false);
    // Leaving the number box looks the number up.
    on_left(line("Text1"), [this] {
        if (line("Text1")->isEnabled()) look_up();
    });

    for (const ButtonLayout& b : kButtons) {
        auto* button = new QPushButton(QString::fromLatin1(b.label), this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setAccessibleName(QString::fromLatin1(b.label).remove(u'&'));
        button->setGeometry(twips_rect(b.left + kFrameLeft, kButtonTop, kButtonWidth, kButtonHeight));
        setTabOrder(previous, button);
        previous = button;
    }
    auto button = [this](const char* name) { return findChild<QPushButton*>(QString::fromLatin1(name)); };
    save_ = button("cmdAdd");
    modify_ = button("cmdModify");
    connect(save_, &QPushButton::clicked, this, &RegistrationScreen::save);
    connect(modify_, &QPushButton::clicked, this, &RegistrationScreen::modify);
    connect(button("cmdClear"), &QPushButton::clicked, this, &RegistrationScreen::clear);
    connect(button("cmdShow"), &QPushButton::clicked, this, &RegistrationScreen::show_mode);
    connect(button("Command3"), &QPushButton::clicked, this, &RegistrationScreen::show_all);
    connect(button("cmdClose"), &QPushButton::clicked, this, &RegistrationScreen::exit);
    // cmdPrint is shown and does nothing.
    add_order_button();

    list_panel_ = new ListPanel(this, "Frame3", "DataGrid1", "Command1");
    // Ctrl+F finds a patient by name or phone, over this screen.
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this,
            [] { screens::open(QStringLiteral("find_patient")); });
    enter_presses_buttons(this);

    // Load.
    save_->setEnabled(true);
    modify_->setEnabled(false);
    line("Text11")->setText(display_date(today()));
    offer_next_number();
    box("text2")->setFocus();
}

QLineEdit* RegistrationScreen::line(const char* name) const {
    return findChild<QLineEdit*>(QString::fromLatin1(name));
}

QWidget* RegistrationScreen::box(const char* name) const {
    return findChild<QWidget*>(QString::fromLatin1(name));
}

void RegistrationScreen::offer_next_number() {
    QLineEdit* number = line("Text1");
    // Reserved for this screen: no other screen is offered the same number.
    auto next = reserve_next_id(IdKind::Patient, std::exchange(reserved_, 0));
    reserved_ = next.value;
    number->setText(next.ok() ? QString::number(next.value) : QString());
    number->setEnabled(false);
    report_failure(next.error, QStringLiteral("Reading the next registration number"));
}

// The patient as the boxes show it; nullopt (and said so) when the number is
// too large to be one.
static std::optional<Patient> patient_from(const RegistrationScreen* s) {
    auto text = [s](const char* name) { return box_text(s->findChild<QWidget*>(QString::fromLatin1(name))); };
    const auto id = typed_id(text("Text1"));
    if (!id) return std::nullopt;
    Patient p;
    p.patient_id = *id;
    for (const BoxColumn& b : kBoxColumns)
        p.*b.column = text(b.box);
    return p;
}

bool RegistrationScreen::important_data_given() const {
    if (!line("Text1")->text().trimmed().isEmpty() && !line("text2")->text().trimmed().isEmpty()) return true;
    show_message(QStringLiteral("Important data not given"));
    return false;
}

void RegistrationScreen::save() {
    if (!important_data_given()) return;
    const auto patient = patient_from(this);
    if (!patient) return;
    const DbError e = in_transaction([&] { return add_patient(current_actor(), *patient); });
    if (e.duplicate()) {
        show_message(QStringLiteral("ID already exists. Click 'Modify' to update"));
        // The number was the program's offer and another workstation took it
        // first: offer the next one, keeping everything typed.
        if (!line("Text1")->isEnabled()) offer_next_number();
        return;
    }
    if (report_failure(e, QStringLiteral("Saving the patient"))) return;
    last_added_ = patient->patient_id.toLongLong();
    show_message(QStringLiteral("New patient added"));
    clear();
}

void RegistrationScreen::add_order_button() {
    // Only a laboratory that orders tests sees it: the screen is one button
    // wider, the button at the end of the row.
    auto orders = laboratory_orders();
    if (!orders.ok() || !orders.value) return;
    auto* order = new QPushButton(QStringLiteral("&Order tests"), this);
    order->setObjectName(QStringLiteral("cmdOrder"));
    order->setAccessibleName(QStringLiteral("Order tests"));
    order->setToolTip(QStringLiteral("Order tests for the patient shown, or the one just added"));
    order->setGeometry(twips_rect(8280 + kFrameLeft, kButtonTop, kButtonWidth + 200, kButtonHeight));
    setFixedSize(twips_rect(0, 0, 9600 + 2 * kFrameLeft, 5160).size());
    setTabOrder(findChild<QPushButton*>(QStringLiteral("cmdClose")), order);
    connect(order, &QPushButton::clicked, this, [this] {
        const std::optional<qint64> patient =
            looked_up_ ? std::optional(looked_up_->patient_id.toLongLong()) : last_added_;
        QWidget* w = screens::open(QStringLiteral("order_tests"));
        if (w && patient) QMetaObject::invokeMethod(w, "set_patient", Q_ARG(qint64, *patient));
    });
}

void RegistrationScreen::modify() {
    // Checked as Save checks: a look-up that emptied the name box must not
    // blank the stored name.
    if (!important_data_given()) return;
    const auto patient = patient_from(this);
    if (!patient) return;
    if (!looked_up_ || !same_key(looked_up_->patient_id, patient->patient_id)) {
        // Only the patient the screen looked up can be modified.
        show_message(QStringLiteral("Patient ID does not exist"));
        return;
    }
    const DbError e = modify_patient(current_actor(), *patient, *looked_up_);
    if (e.kind == DbError::Kind::NotFound) {
        show_message(QStringLiteral("Patient ID does not exist"));
        return;
    }
    if (e.changed()) {
        show_message(
            QStringLiteral("Another workstation changed this patient since it was looked up. Nothing "
                           "was stored; the stored details are shown again."));
        look_up();
        return;
    }
    if (report_failure(e, QStringLiteral("Storing the changes"))) return;
    show_message(QStringLiteral("Information has been modified"));
    clear();
}

void RegistrationScreen::clear() {
    list_panel_->hide();
    looked_up_.reset();
    for (const BoxColumn& b : kBoxColumns)
        set_box_text(box(b.box), QString());
    save_->setEnabled(true);
    modify_->setEnabled(false);
    box("text2")->setFocus();
    offer_next_number();
}

void RegistrationScreen::show_mode() {
    clear();
    release_reserved_id(IdKind::Patient, std::exchange(reserved_, 0)); // a typed number now
    QLineEdit* number = line("Text1");
    number->clear();
    number->setEnabled(true);
    number->setFocus();
}

void RegistrationScreen::look_up() {
    modify_->setEnabled(true);
    QLineEdit* number = line("Text1");
    if (number->text().isEmpty()) {
        show_message(QStringLiteral("No ID given"));
        clear();
        return;
    }
    // A look-up that fails leaves nothing of the patient shown before.
    auto forget_details = [this] {
        looked_up_.reset();
        for (const BoxColumn& b : kBoxColumns)
            set_box_text(box(b.box), QString());
        modify_->setEnabled(false);
    };
    const auto id = typed_id(number->text());
    if (!id) return forget_details();
    auto found = find_patient(*id);
    if (report_failure(found.error, QStringLiteral("Looking up the patient"))) return forget_details();
    if (!found.value) {
        show_message(QStringLiteral("Patient ID does not exist"));
        clear();
        return;
    }
    const Patient& p = *found.value;
    looked_up_ = p;
    for (const BoxColumn& b : kBoxColumns)
        set_box_text(box(b.box), b.column == &Patient::reg_date ? display_date(p.reg_date) : p.*b.column);
    box("text2")->setFocus();
}

void RegistrationScreen::show_all() {
    list_panel_->show_list(patient_list(), QStringLiteral("Listing the patients"));
}

void RegistrationScreen::exit() {
    close();
}

RegistrationScreen::~RegistrationScreen() {
    release_reserved_id(IdKind::Patient, reserved_);
}

void RegistrationScreen::closeEvent(QCloseEvent* event) {
    // However the screen is closed (Exit or the window's own close button),
    // the menu comes back, unless the whole program is ending.
    if (!screens::ending()) screens::open(QString::fromLatin1(kMainMenu));
    QWidget::closeEvent(event);
}

void register_registration_screen() {
    screens::add(QString::fromLatin1(kRegistrationScreen), [] { return new RegistrationScreen; });
}

// How a test screen is put together from its definition: the patient frame,
// the result boxes in their parts and pages, the remarks and the buttons.
#include "result_screen.h"

#include "app_state.h"
#include "boxes.h"
#include "list_panel.h"
#include "normal_ranges.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

struct ButtonSpec {
    const char* name;
    const char* label; // with its Alt accelerator
    void (TestScreen::*action)();
};

constexpr ButtonSpec kButtons[] = {
    {"cmdAdd", "&Save", &TestScreen::save},
    {"cmdModify", "&modify", &TestScreen::modify},
    {"cmdClear", "&Clear", &TestScreen::clear},
    {"cmdShow", "S&how", &TestScreen::show_mode},
    {"Command3", "Show &all", &TestScreen::show_all},
    {"cmdPrint", "&Print", &TestScreen::print},
    {"cmdVerify", "&Verify", &TestScreen::verify}, // shown only to a login whose role may sign reports off
    {"cmdCall", "Record ca&ll", &TestScreen::record_call}, // shown while a critical result's call is missing
    // Shown while the analyzers sent results for this lab id; the label gets their number.
    {"cmdAnalyzer", "Analyzer &results", &TestScreen::take_analyzer_results},
    {"cmdClose", "E&xit", &TestScreen::exit},
};

// Widths that keep every caption whole at 1280 x 800: captions wrap within
// the width their column can give them.
int caption_width(int columns) {
    switch (columns) {
    case 1:
        return 460;
    case 2:
        return 330;
    case 3:
        return 210;
    default:
        return 150;
    }
}

QLabel* caption_label(const QString& text, const QString& name, int width, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    label->setFixedWidth(width);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A result box that opens with a unit is typed into in front of the unit,
// however it gets the focus.
class TypeBeforeUnit : public QObject {
public:
    TypeBeforeUnit(QLineEdit* box, std::function<bool()> only_unit)
        : QObject(box), only_unit_(std::move(only_unit)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn && only_unit_()) {
            auto* box = static_cast<QLineEdit*>(watched);
            // After the box's own focus handling, which selects the text on Tab.
            QTimer::singleShot(0, box, [box] {
                box->deselect();
                box->setCursorPosition(0);
            });
        }
        return false;
    }

private:
    std::function<bool()> only_unit_;
};

QPushButton* picture_button(QStyle::StandardPixmap arrow, const char* name, const char* accessible,
                            QWidget* parent) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(parent->style()->standardIcon(arrow));
    b->setIconSize(QSize(24, 24));
    b->setFixedSize(44, 34);
    b->setAccessibleName(QString::fromLatin1(accessible));
    b->setToolTip(QString::fromLatin1(accessible));
    return b;
}

} // namespace

void TestScreen::build() {
    setObjectName(QString::fromLatin1(test_.investigation->screen));
    setWindowTitle(QString::fromUtf8(test_.investigation->test));
    apply_screen_look(this);

    auto* patient = new QGroupBox(QStringLiteral("Patient Information"), this);
    patient->setObjectName(QStringLiteral("Frame1"));
    auto* grid = new QGridLayout(patient);
    auto add_field = [&](QWidget* w, const char* name, const char* label, int row, int column, int span = 1) {
        w->setObjectName(QString::fromLatin1(name));
        w->setAccessibleName(QString::fromLatin1(label));
        auto* l = new QLabel(QString::fromLatin1(label), patient);
        l->setBuddy(w);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(l, row, column * 2);
        grid->addWidget(w, row, column * 2 + 1, 1, span);
    };
    lab_id_ = new QLineEdit(patient);
    patient_id_ = new QLineEdit(patient);
    p_name_ = new QLineEdit(patient);
    date_ = new QLineEdit(patient);
    age_ = new QLineEdit(patient);
    sex_ = new QLineEdit(patient);
    doctor_ = new QComboBox(patient);
    doctor_->setEditable(true);
    doctor_->setInsertPolicy(QComboBox::NoInsert);
    add_field(lab_id_, "lab_id", "Lab ID", 0, 0);
    add_field(patient_id_, "patient_id", "Patient ID", 0, 1);
    add_field(p_name_, "p_name", "Name", 0, 2);
    add_field(date_, "Text5", "Date", 0, 3);
    add_field(age_, "Text4", "Age", 1, 0);
    add_field(sex_, "Text3", "Sex", 1, 1);
    add_field(doctor_, "text2", "Ref. by Dr.", 1, 2, 3);
    // Its edit field is what has the focus while a name is typed: named too.
    doctor_->lineEdit()->setAccessibleName(QStringLiteral("Ref. by Dr."));
    date_->setEnabled(false);
    p_name_->setMinimumWidth(220);
    for (int c = 1; c < 8; c += 2)
        grid->setColumnStretch(c, 1);

    rtb_ = new QTextEdit(this);
    rtb_->setObjectName(QStringLiteral("rtb"));
    rtb_->setAcceptRichText(false);
    rtb_->setTabChangesFocus(true);
    rtb_->setAccessibleName(QStringLiteral("Remarks"));
    rtb_->setFixedHeight(52);
    auto* remarks_label = new QLabel(QStringLiteral("Remarks"), this);
    remarks_label->setBuddy(rtb_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(patient);
    layout->addWidget(build_results(), 1);
    layout->addWidget(remarks_label);
    layout->addWidget(rtb_);
    build_buttons();

    // Tab order: the patient fields, the result boxes (with the page or
    // template arrows after their boxes), the remarks, the buttons.
    QList<QWidget*> order{lab_id_, patient_id_, p_name_, age_, sex_, doctor_};
    for (int i = 0; i < boxes_.size(); ++i) {
        order << boxes_[i];
        const bool last_of_section =
            i + 1 == boxes_.size() || test_.items[i + 1].section != test_.items[i].section;
        if (last_of_section && !test_.templates.empty()) {
            order << findChild<QPushButton*>(QStringLiteral("Command1"))
                  << findChild<QPushButton*>(QStringLiteral("Command2"));
        } else if (last_of_section && test_.sections[test_.items[i].section].page > 0) {
            const int page = test_.sections[test_.items[i].section].page;
            order << findChild<QPushButton*>(page == 1 ? QStringLiteral("Command1")
                                                       : QStringLiteral("Command2"));
        }
    }
    order << rtb_;
    for (const ButtonSpec& b : kButtons)
        order << findChild<QPushButton*>(QString::fromLatin1(b.name));
    for (int i = 1; i < order.size(); ++i)
        if (order[i - 1] && order[i]) setTabOrder(order[i - 1], order[i]);

    list_ = new ListPanel(this, "Frame5", "DataGrid11", "Command5");
    list_->hide_column(4); // the test column
    if (!test_.templates.empty()) {
        // The list's visible close control on this screen is a picture reading "Cancel".
        auto* image = new QPushButton(QStringLiteral("Cancel"), list_);
        image->setObjectName(QStringLiteral("Image1"));
        image->setFlat(true);
        image->setAccessibleName(QStringLiteral("Cancel"));
        list_->layout()->addWidget(image);
        list_->cancel()->hide();
        connect(image, &QPushButton::clicked, list_, &QWidget::hide);
    }
    enter_presses_buttons(this);
}

void TestScreen::fit_to_screen() {
    // Sized for what is shown (one page at a time), within the free area of
    // the screen it opens on (a laptop's 1280 x 768 included).
    QSize room(1270, 760);
    if (const QScreen* s = screen()) room = s->availableGeometry().size() - QSize(10, 40);
    const QSize hint = sizeHint();
    resize(std::min(hint.width(), room.width()), std::min(hint.height(), room.height()));
}

QWidget* TestScreen::build_results() {
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("results"));
    auto* v = new QVBoxLayout(area);
    v->setContentsMargins(0, 0, 0, 0);
    boxes_.resize(test_.items.size());
    for (int s = 0; s < int(test_.sections.size()); ++s) {
        QWidget* section = build_section(s);
        v->addWidget(section);
        if (test_.sections[s].page > 0) {
            if (pages_.size() < test_.sections[s].page) pages_.resize(test_.sections[s].page);
            pages_[test_.sections[s].page - 1] = section;
        }
    }
    v->addStretch();
    return area;
}

QWidget* TestScreen::build_section(int s) {
    const ResultSection& section = test_.sections[s];
    auto* frame = new QGroupBox(QString::fromLatin1(section.title), this);
    frame->setObjectName(QString::fromLatin1(section.frame));
    auto* grid = new QGridLayout(frame);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);

    int columns = 1, rows = 1;
    for (const ResultItem& item : test_.items)
        if (item.section == s) columns = std::max(columns, item.column), rows = std::max(rows, item.row);
    for (const SectionNote& note : test_.notes)
        if (note.section == s) rows = std::max(rows, note.row);
    const int width = caption_width(columns);

    for (int i = 0; i < int(test_.items.size()); ++i) {
        const ResultItem& item = test_.items[i];
        if (item.section != s) continue;
        QWidget* box = new_result_box(i, frame);
        auto* label = caption_label(QString::fromUtf8(item.caption), QStringLiteral("Label1(%1)").arg(i),
                                    item.wide ? 260 : width, frame);
        grid->addWidget(label, item.row - 1, (item.column - 1) * 2);
        boxes_[i] = box;
        const NormalRange* range = normal_range(*test_.investigation, QString::fromUtf8(item.caption));
        if (!range && !critical_limit(*test_.investigation, QString::fromUtf8(item.caption))) {
            grid->addWidget(box, item.row - 1, (item.column - 1) * 2 + 1);
            continue;
        }
        // A result outside its normal range is flagged beside its box as it is typed.
        auto* cell = new QHBoxLayout;
        cell->setSpacing(4);
        cell->addWidget(box, 1);
        auto* flag = new QLabel(frame);
        flag->setObjectName(QStringLiteral("Flag(%1)").arg(i));
        flag->setFixedWidth(22);
        flag->setAlignment(Qt::AlignCenter);
        flag->setStyleSheet(QStringLiteral("QLabel { color: #b42318; font-weight: bold; }"));
        flag->setAccessibleName(QStringLiteral("Flag for ") + QString::fromUtf8(item.caption).trimmed());
        cell->addWidget(flag);
        grid->addLayout(cell, item.row - 1, (item.column - 1) * 2 + 1);
        // A screen reader hears it too: the box's description says "high",
        // "low", "critically high" or "critically low", and the range read
        // against where it is not the caption's (a child's range, or why
        // nothing is flagged); the flag's tooltip shows that range.
        auto update = [this, caption = QString::fromUtf8(item.caption), box, flag] {
            const AppliedRange read_against =
                applied_range(*test_.investigation, caption, sex_->text(), age_->text());
            const QString mark = flag_against(*test_.investigation, caption, box_text(box), read_against);
            flag->setText(mark);
            const QString& applied = read_against.shown;
            QStringList heard{flag_description(mark)};
            if (!applied.isEmpty() && !box_text(box).trimmed().isEmpty())
                heard << QStringLiteral("range applied: ") + applied;
            heard.removeAll(QString());
            box->setAccessibleDescription(heard.join(QStringLiteral("; ")));
            flag->setAccessibleDescription(heard.join(QStringLiteral("; ")));
            flag->setToolTip(applied.isEmpty() ? QString() : QStringLiteral("Range applied: ") + applied);
        };
        on_text_changed(box, update);
        connect(sex_, &QLineEdit::textChanged, flag, update);
        connect(age_, &QLineEdit::textChanged, flag, update);
        update();
    }
    for (const SectionNote& note : test_.notes) {
        if (note.section != s) continue;
        auto* label = new QLabel(QString::fromUtf8(note.text), frame);
        label->setObjectName(QString::fromLatin1(note.name));
        label->setTextFormat(Qt::PlainText);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        grid->addWidget(label, note.row - 1, (note.column - 1) * 2, 1, 2, Qt::AlignCenter);
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnStretch(c * 2 + 1, 1);

    // The arrows below the boxes: template steps, or the page buttons.
    auto* arrows = new QHBoxLayout;
    arrows->addStretch();
    if (!test_.templates.empty()) {
        QPushButton* next = picture_button(QStyle::SP_ArrowDown, "Command1", "Next template", frame);
        QPushButton* previous = picture_button(QStyle::SP_ArrowUp, "Command2", "Previous template", frame);
        connect(next, &QPushButton::clicked, this, [this] { step_template(+1); });
        connect(previous, &QPushButton::clicked, this, [this] { step_template(-1); });
        arrows->addWidget(next);
        arrows->addWidget(previous);
    } else if (section.page == 1) {
        QPushButton* next = picture_button(QStyle::SP_ArrowDown, "Command1", "Next page", frame);
        connect(next, &QPushButton::clicked, this, [this] { show_page(2); });
        arrows->addWidget(next);
    } else if (section.page == 2) {
        QPushButton* previous = picture_button(QStyle::SP_ArrowUp, "Command2", "Previous page", frame);
        connect(previous, &QPushButton::clicked, this, [this] { show_page(1); });
        arrows->addWidget(previous);
    }
    arrows->addStretch();
    if (arrows->count() > 2)
        grid->addLayout(arrows, rows, 0, 1, columns * 2);
    else
        delete arrows; // no arrows on this part
    return frame;
}

QWidget* TestScreen::new_result_box(int index, QWidget* parent) {
    const ResultItem& item = test_.items[index];
    const QString name = QStringLiteral("%1(%2)").arg(QString::fromLatin1(test_.box_name)).arg(index);
    QWidget* box;
    if (test_.multi_line_boxes) {
        auto* rich = new QTextEdit(parent);
        rich->setAcceptRichText(false);
        rich->setTabChangesFocus(true);
        rich->setFixedHeight(58);
        rich->setMinimumWidth(560);
        box = rich;
    } else {
        auto* line = new QLineEdit(parent);
        line->setMinimumWidth(item.wide ? 300 : test_.sections[item.section].page > 0 ? 110 : 90);
        line->installEventFilter(new TypeBeforeUnit(line, [this, line] {
            return !line->text().isEmpty() && workflow_.result_is_empty(line->text());
        }));
        box = line;
    }
    box->setObjectName(name);
    const QString caption = QString::fromUtf8(item.caption).trimmed();
    box->setAccessibleName(caption.isEmpty() ? QStringLiteral("Extra result %1").arg(index) : caption);
    box->setEnabled(!item.disabled);
    set_box_text(box, QString::fromUtf8(item.initial_text));
    apply_length_rule(box, test_.max_length, QStringLiteral("Data is too long."));
    return box;
}

void TestScreen::build_buttons() {
    auto* row = new QHBoxLayout;
    for (const ButtonSpec& b : kButtons) {
        auto* button = new QPushButton(QString::fromLatin1(b.label), this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setAccessibleName(QString::fromLatin1(b.label).remove(u'&'));
        button->setMinimumWidth(90);
        connect(button, &QPushButton::clicked, this, b.action);
        row->addWidget(button);
    }
    // Who entered and who verified the report shown.
    sign_off_ = new QLabel(this);
    sign_off_->setObjectName(QStringLiteral("sign_off"));
    // A reader reads the line itself ("Entered by ..."), its caption as the description.
    sign_off_->setAccessibleDescription(QStringLiteral("Sign-off"));
    sign_off_->setTextFormat(Qt::PlainText);
    sign_off_->hide();
    static_cast<QVBoxLayout*>(layout())->addWidget(sign_off_);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    save_ = findChild<QPushButton*>(QStringLiteral("cmdAdd"));
    modify_ = findChild<QPushButton*>(QStringLiteral("cmdModify"));
    verify_ = findChild<QPushButton*>(QStringLiteral("cmdVerify"));
    verify_->setVisible(logged_in_may(Right::Verify));
    call_ = findChild<QPushButton*>(QStringLiteral("cmdCall"));
    call_->hide();
    analyzer_ = findChild<QPushButton*>(QStringLiteral("cmdAnalyzer"));
    analyzer_->hide();
    // The sample label of the report shown (Ctrl+L), its barcode the lab id;
    // Print itself prints the report, as always.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this), &QShortcut::activated, this,
            &TestScreen::print_label);
    findChild<QPushButton*>(QStringLiteral("cmdPrint"))
        ->setToolTip(QStringLiteral("Print the report (Ctrl+L: its sample's label)"));
}

#include "patient_history.h"

#include "trend_window.h"

#include "app_state.h"
#include "boxes.h"
#include "connection.h"
#include "core_tables.h"
#include "dates.h"
#include "failure_messages.h"
#include "investigations.h"
#include "list_panel.h"
#include "message_box.h"
#include "patient_search.h"
#include "prepared_report.h"
#include "report_engine.h"
#include "result_screen.h"
#include "screen_registry.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr const char* kDetailCaptions[] = {"Patient no.", "Name",       "Age / Sex", "Phone",
                                           "Mobile",      "Registered", "Address"};

const QStringList kHistoryHeadings = {QStringLiteral("Lab ID"),    QStringLiteral("Date"),
                                      QStringLiteral("Test"),      QStringLiteral("Referring doctor"),
                                      QStringLiteral("Temporary"), QStringLiteral("Verified by")};

} // namespace

PatientHistoryWindow::PatientHistoryWindow(QWidget* parent) : QWidget(parent), engine_(make_report_engine()) {
    setObjectName(QString::fromLatin1(kPatientHistoryScreen));
    setWindowTitle(QStringLiteral("Patient history"));
    apply_screen_look(this);
    resize(860, 520);

    // The patient's details: a caption and a value for each, in rows of three.
    auto* details = new QWidget(this);
    details->setObjectName(QStringLiteral("details"));
    auto* grid = new QGridLayout(details);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < int(std::size(kDetailCaptions)); ++i) {
        const QString caption = QString::fromLatin1(kDetailCaptions[i]);
        auto* key = new QLabel(caption, details);
        key->setStyleSheet(QStringLiteral("color: #4b5c68"));
        auto* value = new QLabel(details);
        value->setObjectName(QStringLiteral("detail_%1").arg(i));
        value->setTextFormat(Qt::PlainText);
        // A reader reads the value, with its caption as the description.
        value->setAccessibleDescription(caption);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        QFont bold = value->font();
        bold.setBold(true);
        value->setFont(bold);
        key->setBuddy(value);
        grid->addWidget(key, i / 3, (i % 3) * 2);
        grid->addWidget(value, i / 3, (i % 3) * 2 + 1);
        details_.insert(caption, value);
    }
    for (int c = 1; c < 6; c += 2)
        grid->setColumnStretch(c, 1);
    auto* area = new QWidget(this);
    list_ = new ListPanel(area, "reports", "report_list", "close_list");
    list_->cancel()->hide();
    list_->model()->set_headings(kHistoryHeadings);
    list_->grid()->setAccessibleName(QStringLiteral("Reports"));
    connect(list_->grid(), &QTableView::doubleClicked, this, &PatientHistoryWindow::open_selected);

    auto* print = named_button(this, "print", "&Print");
    auto* open = named_button(this, "open", "&Open");
    auto* cumulative = named_button(this, "cumulative", "C&umulative report");
    auto* trend = named_button(this, "trend", "&Trend");
    auto* close_button = named_button(this, "close", "&Close");
    connect(trend, &QPushButton::clicked, this, &PatientHistoryWindow::ask_trend);
    connect(print, &QPushButton::clicked, this, &PatientHistoryWindow::print_selected);
    connect(open, &QPushButton::clicked, this, &PatientHistoryWindow::open_selected);
    connect(cumulative, &QPushButton::clicked, this, &PatientHistoryWindow::ask_cumulative);
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {print, open, cumulative, trend})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(close_button);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(details);
    layout->addWidget(area, 1);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
}

PatientHistoryWindow::~PatientHistoryWindow() = default;

bool PatientHistoryWindow::show_patient(qint64 patient_id) {
    auto found = find_patient(patient_id);
    if (report_failure(found.error, QStringLiteral("Reading the patient"))) return false;
    if (!found.value) {
        show_message(QStringLiteral("Patient ID does not exist"));
        return false;
    }
    patient_id_ = patient_id;
    const Patient& p = *found.value;
    const QString values[] = {
        QString::number(patient_id), p.patient_name, p.age + " / " + p.sex, p.phone, p.mobile,
        display_date(p.reg_date),    p.address};
    static_assert(std::size(values) == std::size(kDetailCaptions));
    for (int i = 0; i < int(std::size(kDetailCaptions)); ++i)
        details_.value(QString::fromLatin1(kDetailCaptions[i]))->setText(values[i]);
    setWindowTitle(QStringLiteral("Patient history - %1").arg(p.patient_name));
    if (!list_->show_list(report_history(patient_id), QStringLiteral("Reading the reports"))) return false;
    list_->grid()->selectRow(0);
    return true;
}

const Investigation* PatientHistoryWindow::selected_test(int* row) const {
    *row = selected_row();
    if (*row < 0) return nullptr;
    const Investigation* test = catalogue::by_test(list_->model()->cell(*row, 2));
    if (!test) show_message(QStringLiteral("The test of this report is not one of the laboratory's tests."));
    return test;
}

int PatientHistoryWindow::selected_row() const {
    const QModelIndex current = list_->grid()->currentIndex();
    if (!current.isValid()) {
        show_message(QStringLiteral("Choose a report first."));
        return -1;
    }
    return current.row();
}

void PatientHistoryWindow::print_selected() {
    int row = -1;
    const Investigation* test = selected_test(&row);
    if (!test) return;
    print_report(*engine_, test_report_request(*test, list_->model()->key(row)));
}

void PatientHistoryWindow::open_selected() {
    int row = -1;
    const Investigation* test = selected_test(&row);
    if (!test) return;
    // As if the user had pressed Show on the test screen and typed the lab id.
    auto* screen = qobject_cast<TestScreen*>(screens::open(QString::fromLatin1(test->screen)));
    if (!screen) return;
    screen->look_up(list_->model()->key(row));
}

std::optional<TrendItem> PatientHistoryWindow::choose_trend_item() {
    auto items = trend_items(patient_id_);
    if (report_failure(items.error, QStringLiteral("Reading the patient's results"))) return std::nullopt;
    if (items.value.isEmpty()) {
        show_message(QStringLiteral("This patient has no results with a normal range to draw."));
        return std::nullopt;
    }
    QStringList names;
    for (const TrendItem& i : items.value)
        names << i.shown();
    bool chosen = false;
    const QString name = QInputDialog::getItem(this, QStringLiteral("Trend"), QStringLiteral("&Item"), names,
                                               0, false, &chosen);
    if (!chosen) return std::nullopt;
    return items.value.value(names.indexOf(name));
}

void PatientHistoryWindow::ask_trend() {
    if (const auto item = choose_trend_item()) show_trend(*item);
}

TrendWindow* PatientHistoryWindow::show_trend(const TrendItem& item) {
    auto drawn = trend(patient_id_, item);
    if (report_failure(drawn.error, QStringLiteral("Reading the patient's results"))) return nullptr;
    auto* window = new TrendWindow(drawn.value);
    window->show();
    window->activateWindow();
    return window;
}

void PatientHistoryWindow::ask_cumulative() {
    const int row = selected_row();
    if (row < 0) return;
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Cumulative report"));
    auto* from = new QDateEdit(today().addYears(-1), &dialog);
    auto* to = new QDateEdit(today(), &dialog);
    for (QDateEdit* d : {from, to})
        d->setCalendarPopup(true);
    from->setAccessibleName(QStringLiteral("From"));
    to->setAccessibleName(QStringLiteral("To"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("&From"), from);
    form->addRow(QStringLiteral("&To"), to);
    // A chart of one of the test's items below the tables, if wanted.
    auto* chart = new QComboBox(&dialog);
    chart->setAccessibleName(QStringLiteral("Chart"));
    chart->addItem(QStringLiteral("(no chart)"));
    QList<TrendItem> chartable;
    const Investigation* test = catalogue::by_test(list_->model()->cell(row, 2));
    if (auto items = trend_items(patient_id_); items.ok())
        for (const TrendItem& i : items.value)
            if (i.test == test) {
                chartable << i;
                chart->addItem(i.item);
            }
    form->addRow(QStringLiteral("C&hart"), chart);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(box);
    if (dialog.exec() != QDialog::Accepted) return;
    const int chosen = chart->currentIndex() - 1;
    cumulative(from->date(), to->date(),
               chosen >= 0 ? std::optional(chartable.value(chosen)) : std::optional<TrendItem>());
}

void PatientHistoryWindow::cumulative(const QDate& from, const QDate& to,
                                      const std::optional<TrendItem>& chart) {
    const int row = selected_row();
    if (row < 0) return;
    std::optional<Trend> drawn;
    if (chart) {
        auto read = trend(patient_id_, *chart);
        if (report_failure(read.error, QStringLiteral("Reading the patient's results"))) return;
        drawn = read.value;
    }
    auto filled =
        fill_cumulative(patient_id_, list_->model()->cell(row, 2), from, to, drawn ? &*drawn : nullptr);
    if (report_failure(filled.error, QStringLiteral("Building the cumulative report"))) return;
    // The report reads this connection's own scratch tables.
    ReportsReadSharedConnection own_tables;
    const char* file =
        app_state().print_with_header ? "\\h_cumulative_report.rpt" : "\\cumulative_report.rpt";
    print_report(*engine_, {program_folder() + QString::fromLatin1(file), std::nullopt});
}

#include "turnaround_window.h"

#include "boxes.h"
#include "dates.h"
#include "failure_messages.h"
#include "message_box.h"
#include "orders.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QStringList kHeadings = {QStringLiteral("Test"),
                               QStringLiteral("Resulted"),
                               QStringLiteral("Ordered to resulted, median (min)"),
                               QStringLiteral("90th percentile (min)"),
                               QStringLiteral("Verified"),
                               QStringLiteral("Resulted to verified, median (min)"),
                               QStringLiteral("90th percentile (min)")};

void fill(QTableWidget* t, const QList<Turnaround>& rows) {
    t->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const Turnaround& x = rows[r];
        const QStringList cells = {
            QString::fromUtf8(x.test->test),
            QString::number(x.resulted),
            QString::number(x.ordered_to_resulted_median, 'f', 0),
            QString::number(x.ordered_to_resulted_p90, 'f', 0),
            QString::number(x.verified),
            x.verified ? QString::number(x.resulted_to_verified_median, 'f', 0) : QString(),
            x.verified ? QString::number(x.resulted_to_verified_p90, 'f', 0) : QString()};
        for (int c = 0; c < cells.size(); ++c)
            t->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    t->resizeColumnsToContents();
}

} // namespace

TurnaroundWindow::TurnaroundWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kTurnaroundScreen));
    setWindowTitle(QStringLiteral("Turnaround"));
    apply_screen_look(this);
    resize(900, 520);
    from_ = new QDateEdit(today().addDays(-30), this);
    to_ = new QDateEdit(today(), this);
    for (auto [edit, name] : {std::pair{from_, "From"}, std::pair{to_, "To"}}) {
        edit->setObjectName(QString::fromLatin1(name).toLower());
        edit->setAccessibleName(QString::fromLatin1(name));
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("d MMM yyyy"));
    }
    auto* from_label = new QLabel(QStringLiteral("&From"), this);
    from_label->setBuddy(from_);
    auto* to_label = new QLabel(QStringLiteral("&To"), this);
    to_label->setBuddy(to_);
    auto* show = named_button(this, "show", "&Show");
    connect(show, &QPushButton::clicked, this, &TurnaroundWindow::show_period);
    auto* close_button = named_button(this, "close", "&Close");
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    all_ = read_only_table(this, "all_orders", QStringLiteral("All orders"), kHeadings);
    urgent_ = read_only_table(this, "urgent_orders", QStringLiteral("Urgent orders"), kHeadings);

    auto* period = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{from_label, from_, to_label, to_, show})
        period->addWidget(w);
    period->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(period);
    layout->addWidget(new QLabel(QStringLiteral("All orders"), this));
    layout->addWidget(all_, 2);
    layout->addWidget(new QLabel(QStringLiteral("Urgent orders"), this));
    layout->addWidget(urgent_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close_button);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    show_period();
    from_->setFocus();
}

void TurnaroundWindow::set_period(const QDate& from, const QDate& to) {
    from_->setDate(from);
    to_->setDate(to);
}

void TurnaroundWindow::show_period() {
    if (to_->date() < from_->date()) {
        show_message(QStringLiteral("The period ends before it begins."));
        return;
    }
    const QString action = QStringLiteral("Reading the turnaround");
    const auto all = turnaround(from_->date(), to_->date());
    if (report_failure(all.error, action)) return;
    const auto urgent = turnaround(from_->date(), to_->date(), true);
    if (report_failure(urgent.error, action)) return;
    fill(all_, all.value);
    fill(urgent_, urgent.value);
}

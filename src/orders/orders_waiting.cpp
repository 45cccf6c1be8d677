#include "orders_waiting.h"

#include "app_state.h"
#include "boxes.h"
#include "dates.h"
#include "failure_messages.h"
#include "label_printing.h"
#include "message_box.h"
#include "result_screen.h"
#include "screen_registry.h"
#include "turnaround_window.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

constexpr int kPage = 200; // rows read at a time

const QStringList kHeadings = {QStringLiteral("Accession"),     QStringLiteral("Priority"),
                               QStringLiteral("Patient"),       QStringLiteral("Sample"),
                               QStringLiteral("Tests waiting"), QStringLiteral("Ordered at"),
                               QStringLiteral("Collected"),     QStringLiteral("Received")};

} // namespace

OrdersWaitingWindow::OrdersWaitingWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1("orders_waiting"));
    setWindowTitle(QStringLiteral("Orders waiting"));
    apply_screen_look(this);
    resize(980, 480);

    scan_ = new QLineEdit(this);
    scan_->setObjectName(QStringLiteral("scan"));
    scan_->setAccessibleName(QStringLiteral("Scan or type an accession"));
    scan_->setPlaceholderText(QStringLiteral("A123"));
    scan_->setMaxLength(20);
    connect(scan_, &QLineEdit::returnPressed, this, &OrdersWaitingWindow::scanned);
    auto* scan_label = new QLabel(QStringLiteral("&Scan or type an accession"), this);
    scan_label->setBuddy(scan_);
    marks_received_ = new QCheckBox(QStringLiteral("Scanning marks &received"), this);
    marks_received_->setObjectName(QStringLiteral("marks_received"));
    marks_received_->setAccessibleName(QStringLiteral("Scanning marks received"));

    table_ = read_only_table(this, "orders", QStringLiteral("Orders waiting"), kHeadings);
    table_->installEventFilter(this);
    // The next page is read as the list is scrolled, or arrowed, to its end.
    connect(table_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value == table_->verticalScrollBar()->maximum()) read_more();
    });
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.row() == table_->rowCount() - 1) read_more();
            });
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("count"));
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { open_first_waiting(); });

    auto* open = named_button(this, "open", "&Open test");
    auto* collected = named_button(this, "collected", "Co&llected");
    auto* received = named_button(this, "received", "Recei&ved");
    auto* label = named_button(this, "label", "La&bel");
    auto* turnaround = named_button(this, "turnaround", "&Turnaround");
    turnaround->setToolTip(QStringLiteral("Turnaround (Ctrl+T)"));
    auto* close_button = named_button(this, "close", "&Close");
    connect(turnaround, &QPushButton::clicked, this,
            [] { screens::open(QString::fromLatin1(kTurnaroundScreen)); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this), &QShortcut::activated, turnaround,
            &QPushButton::click);
    connect(open, &QPushButton::clicked, this, &OrdersWaitingWindow::open_first_waiting);
    connect(collected, &QPushButton::clicked, this, [this] { mark(false); });
    connect(received, &QPushButton::clicked, this, [this] { mark(true); });
    connect(label, &QPushButton::clicked, this, &OrdersWaitingWindow::print_label);
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);

    auto* top = new QHBoxLayout;
    top->addWidget(scan_label);
    top->addWidget(scan_, 1);
    top->addWidget(marks_received_);
    top->addWidget(count_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {open, collected, received, label, turnaround, close_button})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    refresh();
    scan_->setFocus();
}

void OrdersWaitingWindow::refresh() {
    const qint64 was = selected() ? selected()->accession : 0; // kept selected
    auto total = waiting_count();
    if (report_failure(total.error, QStringLiteral("Reading the orders waiting"))) return;
    // As many rows as were read before, so that a refresh never takes the
    // rows the user scrolled to from under them.
    auto waiting = waiting_samples(int(std::max<qsizetype>(kPage, samples_.size())), 0);
    if (report_failure(waiting.error, QStringLiteral("Reading the orders waiting"))) return;
    total_ = total.value;
    samples_ = waiting.value;
    table_->setRowCount(0);
    show_rows(0);
    for (int r = 0; r < samples_.size(); ++r)
        if (samples_[r].accession == was) table_->selectRow(r);
    if (!selected() && !samples_.isEmpty()) table_->selectRow(0);
    table_->resizeColumnsToContents();
}

bool OrdersWaitingWindow::read_more() {
    if (samples_.size() >= total_) return false;
    auto more = waiting_samples(kPage, int(samples_.size()));
    if (report_failure(more.error, QStringLiteral("Reading the orders waiting"))) return false;
    if (more.value.isEmpty()) return false;
    const int from = int(samples_.size());
    samples_ << more.value;
    show_rows(from);
    return true;
}

void OrdersWaitingWindow::show_rows(int from) {
    table_->setRowCount(int(samples_.size()));
    for (int r = from; r < samples_.size(); ++r) {
        const OrderedSample& s = samples_[r];
        QStringList waiting_tests;
        for (const Investigation* t : s.waiting)
            waiting_tests << QString::fromUtf8(t->test);
        const QStringList cells = {accession_text(s.accession),
                                   s.urgent ? QStringLiteral("Urgent") : QStringLiteral("Routine"),
                                   QStringLiteral("%1 (ID %2)").arg(s.patient_name).arg(s.patient_id),
                                   catalogue::sample_name(s.sample),
                                   waiting_tests.join(QStringLiteral(", ")),
                                   display_date_time(s.ordered_at),
                                   display_date_time(s.collected_at),
                                   display_date_time(s.received_at)};
        for (int c = 0; c < cells.size(); ++c)
            table_->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    count_->setText(total_ == 1 ? QStringLiteral("1 accession waiting")
                                : QStringLiteral("%1 accessions waiting").arg(total_));
}

const OrderedSample* OrdersWaitingWindow::selected() const {
    const int row = table_ ? table_->currentRow() : -1;
    return row >= 0 && row < samples_.size() ? &samples_[row] : nullptr;
}

void OrdersWaitingWindow::scanned() {
    const QString typed = scan_->text();
    scan_->clear();
    const auto accession = accession_number(typed);
    if (!accession) {
        show_message(QStringLiteral("\"%1\" is not an accession: A and its number, as on the label.")
                         .arg(typed.left(20)));
        return;
    }
    if (marks_received_->isChecked()) {
        const DbError e = mark_received(current_actor(), *accession);
        if (e.kind == DbError::Kind::NotFound || e.kind == DbError::Kind::Forbidden)
            return (void)show_message(e.description);
        if (report_failure(e, QStringLiteral("Marking the sample received"))) return;
        refresh();
    }
    // A long list is read a page at a time; a scanned one still waiting may
    // lie further on (one that waits for nothing is told at once).
    const auto scanned_sample = ordered_sample(*accession);
    if (report_failure(scanned_sample.error, QStringLiteral("Reading the order"))) return;
    const bool waits = scanned_sample.value && !scanned_sample.value->waiting.isEmpty();
    do {
        for (int r = 0; r < samples_.size(); ++r)
            if (samples_[r].accession == *accession) {
                table_->selectRow(r);
                table_->setFocus();
                return;
            }
    } while (waits && read_more());
    show_message(QStringLiteral("%1 has no test waiting.").arg(accession_text(*accession)));
}

void OrdersWaitingWindow::mark(bool received) {
    const OrderedSample* s = selected();
    if (!s) return;
    const DbError e = received ? mark_received(current_actor(), s->accession)
                               : mark_collected(current_actor(), s->accession);
    if (e.kind == DbError::Kind::NotFound || e.kind == DbError::Kind::Forbidden)
        return (void)show_message(e.description);
    if (report_failure(e, QStringLiteral("Marking the sample"))) return;
    refresh();
}

void OrdersWaitingWindow::print_label() {
    if (const OrderedSample* s = selected()) print_labels({sample_label(*s)}, this);
}

void OrdersWaitingWindow::open_first_waiting() {
    const OrderedSample* s = selected();
    if (!s || s->waiting.isEmpty()) return;
    TestScreen::open_for_order(*s->waiting.first(), *s);
}

void OrdersWaitingWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (!isActiveWindow()) {
        left_ = true; // to a test screen, say
        return;
    }
    if (std::exchange(left_, false)) refresh();
}

bool OrdersWaitingWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            open_first_waiting();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

#include "qc_window.h"

#include "analyzer_results.h"
#include "boxes.h"
#include "failure_messages.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The newest this many are listed.
constexpr int kListed = 1000;

const QStringList kHeadings = {
    QStringLiteral("Received"), QStringLiteral("Analyzer"), QStringLiteral("Sample"),
    QStringLiteral("Code"),     QStringLiteral("Test ID"),  QStringLiteral("Value"),
    QStringLiteral("Units"),    QStringLiteral("Flag"),     QStringLiteral("Status")};

} // namespace

QcResultsWindow::QcResultsWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kQcResultsScreen));
    setWindowTitle(QStringLiteral("Quality control results"));
    apply_screen_look(this);
    resize(1100, 520);
    grid_ = new QTableWidget(0, int(kHeadings.size()), this);
    grid_->setObjectName(QStringLiteral("qc_list"));
    grid_->setAccessibleName(QStringLiteral("Quality control results"));
    grid_->setHorizontalHeaderLabels(kHeadings);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    grid_->setWordWrap(false);
    grid_->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("qc_count"));
    count_->setBuddy(grid_);
    auto* again = named_button(this, "refresh", "&Refresh");
    connect(again, &QPushButton::clicked, this, &QcResultsWindow::refresh);
    auto* close_button = named_button(this, "close", "&Close");
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(count_, 1);
    buttons->addWidget(again);
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    refresh();
}

void QcResultsWindow::refresh() {
    auto qc = latest_qc_results(kListed);
    if (report_failure(qc.error, QStringLiteral("Reading the quality control results"))) return;
    grid_->setRowCount(int(qc.value.size()));
    for (int row = 0; row < qc.value.size(); ++row) {
        const PendingResult& q = qc.value[row];
        const QStringList cells = {q.received_at.left(19).replace(u'T', u' '),
                                   q.analyzer,
                                   q.result.lab_id,
                                   q.result.code,
                                   q.result.test_id,
                                   q.result.value,
                                   q.result.units,
                                   q.result.flag,
                                   q.result.status};
        for (int c = 0; c < cells.size(); ++c)
            grid_->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
    count_->setText(qc.value.size() < kListed
                        ? QStringLiteral("%1 quality control result(s)").arg(qc.value.size())
                        : QStringLiteral("The latest %1 quality control results").arg(kListed));
    grid_->resizeColumnToContents(0); // the date and time on one line
    if (grid_->rowCount() > 0) grid_->selectRow(0);
}

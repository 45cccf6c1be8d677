#include "pending_window.h"

#include "app_state.h"

#include "orders.h"

#include "analyzer_results.h"
#include "boxes.h"
#include "failure_messages.h"
#include "investigations.h"
#include "message_box.h"
#include "qc_window.h"
#include "result_screen.h"
#include "screen_registry.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const QStringList kHeadings = {
    QStringLiteral("Status"), QStringLiteral("Lab ID"),   QStringLiteral("Test"),
    QStringLiteral("Item"),   QStringLiteral("Code"),     QStringLiteral("Value"),
    QStringLiteral("Flag"),   QStringLiteral("Analyzer"), QStringLiteral("Received")};

QString status_text(PendingLine::Kind kind) {
    switch (kind) {
    case PendingLine::Kind::Ready:
        return QStringLiteral("Ready");
    case PendingLine::Kind::Replaced:
        return QStringLiteral("Not used: a later result fills its box");
    case PendingLine::Kind::NoMapping:
        return QStringLiteral("No box for this code");
    case PendingLine::Kind::NoReport:
        return QStringLiteral("No report yet");
    }
    return {};
}

} // namespace

// The lines in memory, read once per refresh; cells are made as they are painted.
class PendingModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    // `ordered`: the patient of each accession among the sample ids.
    void set_lines(QList<PendingLine> lines, QHash<QString, QString> ordered = {}) {
        beginResetModel();
        lines_ = std::move(lines);
        ordered_ = std::move(ordered);
        endResetModel();
    }
    const QList<PendingLine>& lines() const { return lines_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(lines_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(kHeadings.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        const PendingLine& l = lines_[index.row()];
        const AnalyzerResult& r = l.pending.result;
        switch (index.column()) {
        case 0:
            return ordered_.contains(r.lab_id) && l.kind == PendingLine::Kind::NoReport
                       ? QStringLiteral("Ordered: waits for its report")
                       : status_text(l.kind);
        case 1:
            return ordered_.contains(r.lab_id)
                       ? QStringLiteral("%1 (%2)").arg(r.lab_id, ordered_.value(r.lab_id))
                       : r.lab_id;
        case 2:
            return l.test;
        case 3:
            return l.item;
        case 4:
            return r.code;
        case 5:
            return r.units.isEmpty() ? r.value : r.value + u' ' + r.units;
        case 6:
            return r.flag;
        case 7:
            return l.pending.analyzer;
        default:
            return l.pending.received_at.left(16).replace(u'T', u' ');
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
        return kHeadings.value(section);
    }

private:
    QList<PendingLine> lines_;
    QHash<QString, QString> ordered_;
};

PendingResultsWindow::PendingResultsWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kPendingResultsScreen));
    setWindowTitle(QStringLiteral("Pending analyzer results"));
    apply_screen_look(this);
    resize(1200, 560);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("pending_count"));
    model_ = new PendingModel(this);
    grid_ = new QTableView(this);
    grid_->setObjectName(QStringLiteral("pending_list"));
    grid_->setAccessibleName(QStringLiteral("Pending analyzer results"));
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    // Every column as wide as its texts usually are; the item's caption takes the rest.
    const int widths[] = {140, 70, 170, 0, 70, 120, 45, 90, 130};
    for (int c = 0; c < int(std::size(widths)); ++c)
        if (widths[c] > 0) grid_->setColumnWidth(c, widths[c]);
    grid_->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    grid_->installEventFilter(this);
    connect(grid_, &QTableView::doubleClicked, this, [this](const QModelIndex& i) { open_row(i.row()); });
    count_->setBuddy(grid_);
    auto* open = named_button(this, "open_report", "&Open report");
    connect(open, &QPushButton::clicked, this, [this] {
        const QModelIndex current = grid_->currentIndex();
        open_row(current.isValid() ? current.row() : 0);
    });
    auto* again = named_button(this, "refresh", "&Refresh");
    connect(again, &QPushButton::clicked, this, &PendingResultsWindow::refresh);
    // Control and calibrator samples' results are kept apart, in a window of their own.
    auto* qc = named_button(this, "quality_control", "&Quality control");
    connect(qc, &QPushButton::clicked, this, [] { screens::open(QString::fromLatin1(kQcResultsScreen)); });
    auto* close_button = named_button(this, "close", "&Close");
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(count_, 1);
    buttons->addWidget(open);
    buttons->addWidget(qc);
    buttons->addWidget(again);
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    refresh();
}

const QList<PendingLine>& PendingResultsWindow::lines() const {
    return model_->lines();
}

void PendingResultsWindow::refresh() {
    const QString action = QStringLiteral("Reading the pending analyzer results");
    auto pending = all_pending_results();
    if (report_failure(pending.error, action)) return;
    QStringList lab_ids;
    QString last;
    for (const PendingResult& p : pending.value)
        if (p.result.lab_id != last) lab_ids << (last = p.result.lab_id);
    auto tests = tests_of_reports(lab_ids);
    if (report_failure(tests.error, action)) return;
    // Sample ids that are accessions: their order's patient.
    QHash<QString, QString> ordered;
    for (const QString& id : lab_ids)
        if (const auto accession = accession_in_sample_id(id))
            if (const auto sample = ordered_sample(*accession); sample.ok() && sample.value)
                ordered.insert(id, QStringLiteral("%1, ID %2")
                                       .arg(sample.value->patient_name)
                                       .arg(sample.value->patient_id));
    model_->set_lines(
        pending_overview(pending.value, read_analyzer_codes(analyzer_codes_path()), tests.value), ordered);
    const qsizetype ready =
        std::count_if(model_->lines().begin(), model_->lines().end(),
                      [](const PendingLine& l) { return l.kind == PendingLine::Kind::Ready; });
    QString count =
        QStringLiteral("%1 result(s) waiting, %2 ready for their reports").arg(model_->rowCount()).arg(ready);
    // Messages the listener has answered and the database does not have yet
    // (it is busy or cannot be reached): their results come once it takes them.
    if (const int spooled = messages_in_spool(); spooled > 0)
        count +=
            QStringLiteral("; %1 message(s) from the analyzers wait in the listener's spool").arg(spooled);
    count_->setText(count);
    if (model_->rowCount() > 0) grid_->selectRow(0);
}

void PendingResultsWindow::open_row(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    const PendingLine& line = model_->lines()[row];
    const Investigation* test = catalogue::by_test(line.test);
    const QString& sample_id = line.pending.result.lab_id;
    if (const auto accession = accession_in_sample_id(sample_id);
        accession && line.kind == PendingLine::Kind::NoReport) {
        // An ordered sample: its test's screen, filled from the order, offers the results.
        const auto sample = ordered_sample(*accession);
        if (report_failure(sample.error, QStringLiteral("Reading the order"))) return;
        if (!sample.value || !test || !sample.value->waiting.contains(test)) {
            show_message(QStringLiteral("%1 has no %2 waiting for its result.")
                             .arg(sample_id, test ? QString::fromUtf8(test->test) : QStringLiteral("test")));
            return;
        }
        TestScreen::open_for_order(*test, *sample.value);
        return;
    }
    if (line.kind == PendingLine::Kind::NoReport || !test) {
        show_message(QStringLiteral("Lab ID %1 has no report yet. Save its report on the test screen; the "
                                    "analyzer's results wait for it.")
                         .arg(line.pending.result.lab_id));
        return;
    }
    if (auto* screen = qobject_cast<TestScreen*>(screens::open(QString::fromLatin1(test->screen))))
        screen->look_up(line.pending.result.lab_id.toLongLong());
}

bool PendingResultsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            open_row(grid_->currentIndex().row());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

#include "list_panel.h"

#include "boxes.h"
#include "csv_export.h"
#include "failure_messages.h"
#include "file_dialogs.h"

#include <QEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct KeysPart {
    DbResult<QList<qint64>> keys;
    bool more = false; // keys follow
};

// The next `part` keys of `list` after `cursor` (`read` of them read
// already, within the list's own limit), those put first in `front` left out.
KeysPart next_part(const ListQuery& list, ListCursor& cursor, const QList<qint64>& front, qsizetype read,
                   int part) {
    if (list.limit > 0) part = int(std::min<qsizetype>(part, list.limit - read));
    KeysPart out{next_list_keys(list, cursor, part)};
    out.more =
        out.keys.ok() && out.keys.value.size() == part && (list.limit == 0 || read + part < list.limit);
    if (out.keys.ok() && !front.isEmpty())
        out.keys.value.removeIf([&](qint64 k) { return front.contains(k); });
    return out;
}

} // namespace

DbError PagedListModel::set_list(const ListQuery& list, const QList<qint64>& first_keys,
                                 const QString& first_heading) {
    QList<qint64> front;
    for (qint64 k : first_keys)
        if (!front.contains(k)) front << k;
    ListCursor cursor;
    // A list of bounded length (a search) is read whole: one statement costs
    // less than running its search twice.
    auto [keys, more] = next_part(list, cursor, front, 0, list.limit > 0 ? list.limit : kPageRows);
    if (keys.ok()) keys.value = front + keys.value;
    DbResult<Table> first;
    if (keys.ok()) first = list_rows(list, keys.value.mid(0, kPageRows));
    const DbError e = keys.ok() ? first.error : keys.error;
    beginResetModel();
    ++generation_;
    pages_.clear();
    page_order_.clear();
    failure_reported_ = false;
    more_ = false;
    if (e.ok()) {
        list_ = list;
        keys_ = std::move(keys.value);
        front_ = std::move(front);
        cursor_ = cursor;
        next_part_ = kPageRows * 16;
        more_ = more;
        columns_ = std::move(first.value.columns);
        pages_.insert(0, std::move(first.value.rows));
        page_order_ << 0;
        first_rows_ = int(front_.size());
        first_heading_ = first_heading;
    } else {
        first_rows_ = 0;
        list_ = {};
        keys_ = {};
        front_ = {};
        columns_ = {};
    }
    endResetModel();
    if (more_)
        read_more_later();
    else if (e.ok())
        emit completed();
    return e;
}

void PagedListModel::read_more_later() {
    QTimer::singleShot(0, this, [this, generation = generation_] {
        if (generation == generation_ && more_ && read_more() && more_) read_more_later();
    });
}

bool PagedListModel::read_more() {
    // Parts grow fourfold: few statements for a long list, none of them long
    // enough to hold up a keystroke.
    auto [keys, more] = next_part(list_, cursor_, front_, keys_.size() - front_.size(), next_part_);
    next_part_ = std::min(next_part_ * 4, kMostKeysAtOnce);
    if (!keys.ok()) {
        more_ = false;
        if (!failure_reported_) {
            failure_reported_ = true;
            emit read_failed(keys.error);
        }
        return false;
    }
    more_ = more;
    if (!keys.value.isEmpty()) {
        beginInsertRows({}, int(keys_.size()), int(keys_.size() + keys.value.size() - 1));
        keys_ += keys.value;
        endInsertRows();
    }
    if (!more_) emit completed();
    return true;
}

bool PagedListModel::read_to_end() {
    ++generation_; // the parts due later are read now
    while (more_)
        if (!read_more()) return false;
    return true;
}

void PagedListModel::release() {
    beginResetModel();
    ++generation_;
    more_ = false;
    first_rows_ = 0;
    list_ = {};
    keys_ = QList<qint64>();
    front_ = {};
    columns_ = QStringList();
    pages_ = {};
    page_order_ = {};
    endResetModel();
}

const QList<QStringList>* PagedListModel::page(int index) const {
    auto it = pages_.find(index);
    if (it != pages_.end()) {
        page_order_.removeOne(index);
        page_order_ << index;
        return &*it;
    }
    auto rows = list_rows(list_, keys_.mid(qsizetype(index) * kPageRows, kPageRows));
    if (!rows.ok()) {
        if (!failure_reported_) {
            failure_reported_ = true;
            emit read_failed(rows.error);
        }
        return nullptr;
    }
    if (page_order_.size() >= kKeptPages) pages_.remove(page_order_.takeFirst());
    page_order_ << index;
    return &*pages_.insert(index, std::move(rows.value.rows));
}

QString PagedListModel::cell(int row, int column) const {
    if (row < 0 || row >= keys_.size()) return {};
    const auto* rows = page(row / kPageRows);
    return rows ? rows->value(row % kPageRows).value(column) : QString();
}

int PagedListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(keys_.size());
}

int PagedListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant PagedListModel::data(const QModelIndex& index, int role) const {
    if (index.isValid() && role == Qt::FontRole && index.row() < first_rows_) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    return cell(index.row(), index.column());
}

QVariant PagedListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return headings().value(section);
    if (section < first_rows_ && !first_heading_.isEmpty()) return first_heading_;
    return section + 1;
}

ListPanel::ListPanel(QWidget* screen, const char* frame_name, const char* grid_name, const char* cancel_name)
    : QFrame(screen) {
    setObjectName(QString::fromLatin1(frame_name));
    setAutoFillBackground(true);
    setFrameShape(QFrame::StyledPanel);

    grid_ = new QTableView(this);
    grid_->setObjectName(QString::fromLatin1(grid_name));
    grid_->setAccessibleName(QStringLiteral("List"));
    // Tab leaves the list for the next control; the arrow keys move inside it.
    grid_->setTabKeyNavigation(false);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(20);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->horizontalHeader()->setDefaultSectionSize(120);
    // Columns fit what the first screenful shows: never a read of the whole list.
    grid_->horizontalHeader()->setResizeContentsPrecision(0);
    model_ = new PagedListModel(grid_);
    grid_->setModel(model_);
    connect(grid_, &QTableView::clicked, this, [this](const QModelIndex& i) { emit row_clicked(i.row()); });
    connect(
        model_, &PagedListModel::read_failed, this,
        [](const DbError& e) { report_failure(e, QStringLiteral("Reading the list")); },
        Qt::QueuedConnection);

    cancel_ = named_button(this, cancel_name, "&Cancel");
    connect(cancel_, &QPushButton::clicked, this, &QWidget::hide);

    export_ = named_button(this, "export", "Save as CS&V");
    connect(export_, &QPushButton::clicked, this, [this] {
        const QString path = choose_save_file(QStringLiteral("Save as CSV"), QStringLiteral("list.csv"),
                                              QStringLiteral("CSV files (*.csv)"));
        if (!path.isEmpty()) export_list_csv(this, model_->list(), model_->headings(), path);
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(export_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("caption"));
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    caption_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption_);
    layout->addWidget(grid_);
    layout->addLayout(buttons);

    setGeometry(screen->rect());
    screen->installEventFilter(this);
    hide();
}

bool ListPanel::show_list(const ListQuery& list, const QString& action, const QList<qint64>& first,
                          const QString& first_heading) {
    if (report_failure(model_->set_list(list, first, first_heading), action)) return false;
    for (int c : hidden_columns_)
        grid_->setColumnHidden(c, true);
    setGeometry(parentWidget()->rect());
    show();
    raise();
    columns_to_fit_ = true;
    if (grid_->isVisible()) fit_columns();
    grid_->setFocus();
    return true;
}

void ListPanel::fit_columns() {
    columns_to_fit_ = false;
    grid_->resizeColumnsToContents();
    for (int c = 0; c < model_->columnCount(); ++c)
        grid_->setColumnWidth(c, std::min(grid_->columnWidth(c), 260));
}

void ListPanel::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    if (columns_to_fit_) fit_columns();
}

void ListPanel::hide_column(int position) {
    hidden_columns_ << position;
    grid_->setColumnHidden(position, true);
}

bool ListPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QFrame::eventFilter(watched, event);
}

void ListPanel::hideEvent(QHideEvent* event) {
    model_->release();
    QFrame::hideEvent(event);
}

void ListPanel::set_caption(const QString& caption) {
    caption_->setText(caption);
    caption_->setVisible(!caption.isEmpty());
}

QString ListPanel::caption() const {
    return caption_->text();
}

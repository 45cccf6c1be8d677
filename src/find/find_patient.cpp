#include "find_patient.h"
#include "pending_window.h"
#include "qc_window.h"

#include "app_state.h"
#include "boxes.h"
#include "failure_messages.h"
#include "list_panel.h"
#include "patient_history.h"
#include "patient_search.h"
#include "screen_registry.h"
#include "verify_list.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QStringList kFoundHeadings = {QStringLiteral("Patient no."), QStringLiteral("Name"),
                                    QStringLiteral("Age"),         QStringLiteral("Sex"),
                                    QStringLiteral("Phone"),       QStringLiteral("Mobile"),
                                    QStringLiteral("Registered")};

QString found_count_text(int rows, int exact, bool searched) {
    if (rows == 0) return QStringLiteral("No patient matches");
    QString text;
    if (!searched)
        text = QStringLiteral("%L1 patients, newest first").arg(rows);
    else if (rows - exact >= kMostFound)
        text = QStringLiteral("%L1 or more patients match: type on to narrow the list").arg(kMostFound);
    else
        text =
            rows == 1 ? QStringLiteral("1 patient matches") : QStringLiteral("%L1 patients match").arg(rows);
    if (exact == 1) text += QStringLiteral("; the exact match is listed first");
    if (exact > 1) text += QStringLiteral("; the %1 exact matches are listed first").arg(exact);
    return text;
}

} // namespace

FindPatientWindow::FindPatientWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kFindPatientScreen));
    setWindowTitle(QStringLiteral("Find patient"));
    apply_screen_look(this);
    resize(900, 560);

    auto* label = new QLabel(QStringLiteral("&Search (name, phone, patient no. or lab ID)"), this);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("search"));
    search_->setAccessibleName(QStringLiteral("Search"));
    search_->setClearButtonEnabled(true);
    // The box's clear button, named for screen readers.
    for (QAction* a : search_->findChildren<QAction*>())
        if (a->objectName() == QLatin1String("_q_qlineeditclearaction"))
            a->setText(QStringLiteral("Clear search"));
    for (QToolButton* b : search_->findChildren<QToolButton*>()) {
        b->setAccessibleName(QStringLiteral("Clear search"));
        b->setToolTip(QStringLiteral("Clear search"));
    }
    label->setBuddy(search_);
    search_->installEventFilter(this);
    connect(search_, &QLineEdit::textChanged, this, &FindPatientWindow::search);

    auto* area = new QWidget(this);
    list_ = new ListPanel(area, "found", "found_list", "close_list");
    list_->cancel()->hide();
    list_->model()->set_headings(kFoundHeadings);
    list_->grid()->setAccessibleName(QStringLiteral("Patients found"));
    list_->grid()->installEventFilter(this);
    connect(list_->model(), &PagedListModel::completed, this, &FindPatientWindow::show_count);
    list_->grid()->horizontalHeader()->setSortIndicatorShown(true);
    connect(list_->grid()->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &FindPatientWindow::sort_by);
    connect(list_->grid(), &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { open_history(i.row()); });

    auto* open = named_button(this, "open_history", "&Open history");
    connect(open, &QPushButton::clicked, this, [this] {
        const QModelIndex current = list_->grid()->currentIndex();
        open_history(current.isValid() ? current.row() : 0);
    });
    auto* close_button = named_button(this, "close", "&Close");
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(open);
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(search_);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("found_count"));
    layout->addWidget(count_);
    layout->addWidget(area, 1);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    search_->setFocus();
    // The window shows at once; the list follows, however many patients there are.
    QTimer::singleShot(0, this, [this] { search(search_->text()); });
}

void FindPatientWindow::search(const QString& text) {
    // A number typed is first of all the patient with that number, then the
    // patient of that lab ID: those come first, marked, and Enter opens them.
    const auto exact = exact_patients(text);
    if (report_failure(exact.error, QStringLiteral("Finding patients"))) return;
    if (!list_->show_list(patient_search(text, kFoundColumns.value(sort_column_), descending_),
                          QStringLiteral("Finding patients"), exact.value, QStringLiteral("Exact")))
        return;
    show_count();
    list_->grid()->horizontalHeader()->setSortIndicator(sort_column_, descending_ ? Qt::DescendingOrder
                                                                                  : Qt::AscendingOrder);
    search_->setFocus();
}

void FindPatientWindow::show_count() {
    // A long list is counted once its last part is read, after it is on screen.
    const PagedListModel* model = list_->model();
    count_->setText(model->complete() ? found_count_text(model->rowCount(), model->first_rows(),
                                                         !search_->text().trimmed().isEmpty())
                                      : QStringLiteral("Listing the patients…"));
    // A reader in the search box hears how many match without leaving it.
    search_->setAccessibleDescription(count_->text());
}

void FindPatientWindow::sort_by(int column) {
    descending_ = column == sort_column_ ? !descending_ : column == 6;
    sort_column_ = column;
    search(search_->text());
}

void FindPatientWindow::open_history(int row) {
    if (row < 0 || row >= list_->model()->rowCount()) return;
    const qint64 patient = list_->model()->key(row);
    auto* history =
        qobject_cast<PatientHistoryWindow*>(screens::open(QString::fromLatin1(kPatientHistoryScreen)));
    if (history) history->show_patient(patient);
}

bool FindPatientWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            const QModelIndex current = list_->grid()->currentIndex();
            open_history(watched == search_ || !current.isValid() ? 0 : current.row());
            return true;
        }
        if (watched == search_ && key == Qt::Key_Down) {
            list_->grid()->setFocus();
            list_->grid()->selectRow(0);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void register_find_screens() {
    screens::add(QString::fromLatin1(kFindPatientScreen), [] { return new FindPatientWindow; });
    screens::add(QString::fromLatin1(kPatientHistoryScreen), [] { return new PatientHistoryWindow; });
    screens::add(QString::fromLatin1(kVerifyListScreen), [] { return new VerifyListWindow; });
    screens::add(QString::fromLatin1(kPendingResultsScreen), [] { return new PendingResultsWindow; });
    screens::add(QString::fromLatin1(kQcResultsScreen), [] { return new QcResultsWindow; });
}

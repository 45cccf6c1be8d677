#include "verify_list.h"

#include "boxes.h"
#include "critical_calls.h"
#include "failure_messages.h"
#include "investigations.h"
#include "lab_reports.h"
#include "list_panel.h"
#include "message_box.h"
#include "result_screen.h"
#include "screen_registry.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

const QStringList kHeadings = {QStringLiteral("Lab ID"),
                               QStringLiteral("Date"),
                               QStringLiteral("Test"),
                               QStringLiteral("Patient ID"),
                               QStringLiteral("Referring doctor"),
                               QStringLiteral("Patient")};

} // namespace

VerifyListWindow::VerifyListWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kVerifyListScreen));
    setWindowTitle(QStringLiteral("Reports to verify"));
    apply_screen_look(this);
    resize(760, 480);
    auto* area = new QWidget(this);
    list_ = new ListPanel(area, "to_verify", "verify_list", "close_list");
    list_->cancel()->hide();
    list_->model()->set_headings(kHeadings);
    list_->grid()->setAccessibleName(QStringLiteral("Reports to verify"));
    list_->grid()->installEventFilter(this);
    connect(list_->grid(), &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { open_report(i.row()); });
    auto* open = named_button(this, "open_report", "&Open report");
    connect(open, &QPushButton::clicked, this, [this] {
        const QModelIndex current = list_->grid()->currentIndex();
        open_report(current.isValid() ? current.row() : 0);
    });
    auto* close_button = named_button(this, "close", "&Close");
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(open);
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(area, 1);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    refresh();
}

// Reports with critical results come first (those whose doctor was not
// called yet before the others), their rows headed "Critical"; then the rest,
// oldest first.
void VerifyListWindow::refresh() {
    const QString action = QStringLiteral("Reading the reports to verify");
    auto critical = critical_reports_to_verify();
    if (report_failure(critical.error, action)) return;
    if (list_->show_list(unverified_reports_list(), action, critical.value, QStringLiteral("Critical")))
        list_->grid()->selectRow(0);
}

void VerifyListWindow::open_report(int row) {
    if (row < 0 || row >= list_->model()->rowCount()) return;
    const Investigation* test = catalogue::by_test(list_->model()->cell(row, 2));
    if (!test) {
        show_message(QStringLiteral("The test of this report is not one of the laboratory's tests."));
        return;
    }
    if (auto* screen = qobject_cast<TestScreen*>(screens::open(QString::fromLatin1(test->screen))))
        screen->look_up(list_->model()->key(row));
}

void VerifyListWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (!isActiveWindow()) {
        left_ = true; // to a test screen, say
        return;
    }
    if (!std::exchange(left_, false)) return; // its first activation: read when it was made
    const int row = list_->grid()->currentIndex().row();
    refresh();
    if (row > 0) list_->grid()->selectRow(std::min(row, list_->model()->rowCount() - 1));
}

bool VerifyListWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->grid() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            open_report(list_->grid()->currentIndex().row());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Every window on a small screen: the program runs on a screen of 960 x 540
// free pixels (a 1920 x 1080 screen at a scale of 2), no window may reach past
// it, and every control lies inside its window or inside a scrolled page that
// reaches it. A window that fits keeps the place of every control.
#include "test_support.h"

#include "app_state.h"
#include "core_tables.h"
#include "definition.h"
#include "find_patient.h"
#include "lab_reports.h"
#include "patient_history.h"
#include "report_engine.h"
#include "screen_registry.h"
#include "start.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPrintPreviewDialog>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

namespace {

constexpr int kFreeWidth = 960, kFreeHeight = 540;

// The windows smaller than that: built as they are, never scrolled.
const QStringList kFitting{kMainMenu,     "patient_reg", "users",      "verify_list",
                           "order_tests", "RBC_indices", "widal_test", "prothrombin_time"};

// Whether every visible control of the window lies inside it, or inside a
// scrolled area that lets it be reached.
QString control_outside(QWidget* window) {
    for (QLabel* label : window->findChildren<QLabel*>()) {
        // A wrapped caption squeezed below its lines is cut off.
        if (label->isVisible() && label->wordWrap() &&
            label->height() < label->heightForWidth(label->width()))
            return "the caption \"" + label->text() + "\" of " + window->objectName();
    }
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || !(qobject_cast<QAbstractButton*>(w) || w->focusPolicy() != Qt::NoFocus))
            continue;
        // Inside a scrolled page: reached by scrolling when inside the page.
        QWidget* within = window;
        for (QWidget* p = w->parentWidget(); p && p != window && within == window; p = p->parentWidget()) {
            if (auto* area = qobject_cast<QScrollArea*>(p); area && area->widget()->isAncestorOf(w))
                within = area->widget();
            else if (qobject_cast<QAbstractScrollArea*>(p))
                within = nullptr; // a list's or a text's own cells
        }
        if (!within) continue;
        const QRect r(w->mapTo(within, QPoint(0, 0)), w->size());
        if (!within->rect().contains(r)) return w->objectName() + " of " + window->objectName();
    }
    return {};
}

} // namespace

class TestFit : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;

    void fits(QWidget* w) {
        show_active(w);
        const QRect free = w->screen()->availableGeometry();
        QCOMPARE(free.size(), QSize(kFreeWidth, kFreeHeight));
        const QRect frame = w->frameGeometry();
        QVERIFY2(
            frame.width() <= free.width() && frame.height() <= free.height(),
            qPrintable(QString("%1 is %2 x %3").arg(w->objectName()).arg(frame.width()).arg(frame.height())));
        const QString outside = control_outside(w);
        QVERIFY2(outside.isEmpty(), qPrintable(outside + " lies beyond the window's edge"));
    }

private slots:
    void initTestCase() { install_screens(); }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
        app_state() = {};
    }
    void cleanup() {
        close_screens();
        messages_.reset();
        folder_.reset();
    }

    void every_screen_fits_data() {
        QTest::addColumn<QString>("screen");
        for (const char* s :
             {kLoginScreen, kMainMenu, "patient_reg", "utility", kFindPatientScreen, "users", "verify_list",
              "pending_results", "order_tests", "orders_waiting", "turnaround"})
            QTest::newRow(s) << QString(s);
        for (const TestDefinition* t : test_catalogue())
            QTest::newRow(t->investigation->screen) << QString(t->investigation->screen);
    }
    void every_screen_fits() {
        QFETCH(QString, screen);
        app_state().register_on_save = true;
        QWidget* w = screens::open(screen);
        QVERIFY(w);
        fits(w);
        // Every control a reader or UI automation can reach is named.
        for (QWidget* c : w->findChildren<QWidget*>()) {
            if (!c->isVisible() || !(c->focusPolicy() & Qt::TabFocus) || qobject_cast<QScrollBar*>(c) ||
                (c->parentWidget() && qobject_cast<QAbstractSpinBox*>(c->parentWidget())) ||
                (c->parentWidget() && qobject_cast<QComboBox*>(c->parentWidget())))
                continue;
            const auto* b = qobject_cast<QAbstractButton*>(c);
            QVERIFY2(!c->accessibleName().isEmpty() || (b && !b->text().isEmpty()),
                     qPrintable(c->objectName() + " (" + c->metaObject()->className() + ")"));
        }
        QCOMPARE(w->findChild<QScrollArea*>("scrolled") == nullptr, kFitting.contains(screen));
    }

    void history_and_preview_fit() {
        QVERIFY(add_patient(kStaff, minimal_patient(1, "Asha D'Souza", "34", "F")).ok());
        QVERIFY(
            save_report(kStaff, {std::nullopt, {1, 1, "", "", "Serology", "", "N"}, "Serology", {}}).ok());
        auto* history = qobject_cast<PatientHistoryWindow*>(screens::open(kPatientHistoryScreen));
        QVERIFY(history->show_patient(1));
        fits(history);
        for (const char* file : {"Serology.rpt", "h_ serology.rpt", "letterhead.html", "letterhead_logo.png"})
            QFile::copy(QString(REPORT_FILES_DIR) + "/" + file, folder_->path() + "/" + file);
        PreviewEngine engine;
        QVERIFY(run_report(engine, test_report_request(catalogue::kSerology, 1)).isEmpty());
        QPrintPreviewDialog* preview = shown_preview();
        QVERIFY(preview);
        fits(preview);
        // Ctrl+P prints and Ctrl+S saves as PDF; Tab reaches both.
        QCOMPARE(preview->findChild<QAction*>("print")->shortcut(), QKeySequence(QKeySequence::Print));
        QCOMPARE(preview->findChild<QAction*>("save_as_pdf")->shortcut(), QKeySequence(QKeySequence::Save));
        for (QAbstractButton* b : preview->findChildren<QAbstractButton*>())
            if (b->isVisible()) {
                QVERIFY2(b->focusPolicy() & Qt::TabFocus, qPrintable(b->accessibleName()));
                QVERIFY2(!b->accessibleName().isEmpty() || !b->text().isEmpty(), qPrintable(b->objectName()));
            }
        preview->close();
    }
};

int main(int argc, char** argv) {
    // One screen with the free area of a laptop's at a scale of 2.
    QTemporaryDir dir;
    const QString config = dir.filePath("screens.json");
    QFile f(config);
    f.open(QIODevice::WriteOnly);
    f.write(QString(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": %1, "height": %2,
                        "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                .arg(kFreeWidth)
                .arg(kFreeHeight)
                .toUtf8());
    f.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestFit tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "test_fit.moc"

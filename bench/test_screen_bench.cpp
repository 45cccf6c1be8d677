// The test screens at ten years' scale (100,000 patients, 400,000 reports,
// about six million result rows): opening a screen, Save, the lab-id lookup
// and modify, and the lists (registration's Show all and Routine
// haemotology's, about 100,000 rows each): first rows, scrolling to the last
// row, and the memory a shown list takes.
//   test_screen_bench [--db FILE]     (default: /tmp/tavora-ten-year.mdb, made on first use)
//   test_screen_bench --shots FOLDER  also saves a picture of every screen

#include "app_state.h"
#include "bench_support.h"
#include "boxes.h"
#include "connection.h"
#include "list_panel.h"
#include "message_box.h"
#include "records.h"
#include "registration_screen.h"
#include "report_engine.h"
#include "result_screen.h"
#include "ten_year_database.h"
#include "workstations.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

struct SilentEngine : ReportEngine {
    QString run() override { return {}; }
};

double resident_mib() {
    QFile f("/proc/self/statm");
    f.open(QIODevice::ReadOnly);
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toDouble() * sysconf(_SC_PAGESIZE) / (1024.0 * 1024.0);
}

double elapsed_ms(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// Closes every print preview, letting it go.
void close_previews() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QPrintPreviewDialog*>(w)) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A list on first use: first rows painted, scroll to the last row, memory while shown.
void measure_list(Targets& targets, const char* what, QWidget* screen,
                  const std::function<void()>& show_all) {
    settle();
    const double before = resident_mib();
    const double first = elapsed_ms([&] {
        show_all();
        settle();
    });
    auto* grid = screen->findChild<QTableView*>();
    // The rest of the list is read while the event loop is free, after the
    // first rows are on screen: timed apart, then the scroll to its end.
    auto* model = qobject_cast<PagedListModel*>(grid->model());
    const double rest = elapsed_ms([&] {
        while (model && !model->complete())
            QCoreApplication::processEvents();
    });
    const double last = elapsed_ms([&] {
        grid->scrollToBottom();
        settle();
    });
    const double shown = resident_mib();
    std::printf("  %s, %d rows:\n", what, grid->model()->rowCount());
    targets.check("    first rows painted", first, 100);
    std::printf("    %-38s %8.1f ms (while the list is on screen)\n", "the rest of the list read", rest);
    targets.check("    scrolled to the last row", last, 50);
    const bool small = shown - before < 20;
    std::printf("    %-38s %8.1f MiB (target < 20 MiB)%s\n", "memory while shown", shown - before,
                small ? "" : "  MISSED");
    if (!small) targets.miss();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    const QStringList args = app.arguments();
    const QString shots = args.contains("--shots") ? args.value(args.indexOf("--shots") + 1) : QString();

    QTemporaryDir dir;
    if (!use_ten_year_program_folder(args, dir.path())) return 1;
    use_preview_engine(); // for the runs that show the preview
    set_report_engine_factory([] { return std::make_unique<SilentEngine>(); });
    app_state().register_on_save = true;

    Targets targets;
    std::printf("test screens on the ten-year database (medians, offscreen):\n");
    for (const char* name : {"Routine_haemotology", "Peripheral_blood_smear",
                             "culture_and_antibiotic_sensitivity_pattern", "biochemistry_report"}) {
        const TestDefinition& t = *test_for_screen(name);
        const double open_ms = median_ms(9, [&] {
            TestScreen s(t);
            s.show();
            settle();
        });
        // Save as the user sees it: the report stored, then its print
        // preview laid out and painted (the engine the program uses).
        std::vector<double> save, save_preview;
        for (bool preview : {false, true}) {
            if (preview) set_report_engine_factory(nullptr);
            for (int i = 0; i < 9; ++i) {
                TestScreen s(t);
                s.findChild<QLineEdit*>("p_name")->setText("Bench Patient");
                for (int k = 0; k < t.box_count; ++k)
                    if (s.result_box(k)->isEnabled())
                        set_box_text(s.result_box(k), "12 " + QString::number(k));
                (preview ? save_preview : save).push_back(elapsed_ms([&] {
                    s.save();
                    settle();
                }));
                close_previews();
            }
            set_report_engine_factory([] { return std::make_unique<SilentEngine>(); });
        }
        std::sort(save.begin(), save.end());
        std::sort(save_preview.begin(), save_preview.end());
        const qint64 own_report =
            select_first("select lab_id from test_main where test = ? order by lab_id desc limit 1",
                         {QString::fromUtf8(t.investigation->test)})
                .value->value(0)
                .toLongLong();
        TestScreen screen(t);
        screen.show();
        settle();
        int n = 0;
        const double lookup_ms = median_ms(21, [&] { screen.look_up(1 + (n++ * 7919) % 400000); });
        std::vector<double> modify;
        for (int i = 0; i < 21; ++i) {
            screen.look_up(own_report);
            modify.push_back(elapsed_ms([&] { screen.modify(); }));
        }
        std::sort(modify.begin(), modify.end());
        std::printf("  %s:\n", name);
        targets.check("    open", open_ms, 20);
        targets.check("    save", save[save.size() / 2], 20);
        targets.check("    save, its preview painted", save_preview[save_preview.size() / 2], 100);
        targets.check("    lab-id lookup", lookup_ms, 20);
        targets.check("    modify", modify[modify.size() / 2], 20);
        if (!shots.isEmpty()) {
            QDir().mkpath(shots);
            screen.grab().save(QDir(shots).filePath(QString(name) + ".png"));
        }
    }

    std::printf("lists on first use:\n");
    {
        RegistrationScreen reg;
        reg.show();
        measure_list(targets, "registration Show all", &reg, [&] { reg.show_all(); });
    }
    {
        TestScreen routine(*test_for_screen("Routine_haemotology"));
        routine.show();
        measure_list(targets, "Routine haemotology Show all", &routine, [&] { routine.show_all(); });
    }
    if (!shots.isEmpty())
        for (const TestDefinition* t : test_catalogue()) {
            TestScreen s(*t);
            s.show();
            settle();
            s.grab().save(QDir(shots).filePath(QString(t->investigation->screen) + ".png"));
        }
    return targets.exit_code();
}

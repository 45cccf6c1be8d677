// The utility screen at ten years' scale: the consolidated report of a patient
// with twelve reports today, from O.K. to the print preview on screen, and the
// backup of the whole ten-year database.
//   utility_bench [--db FILE]     (default: /tmp/tavora-ten-year.mdb, made on first use)

#include "backup.h"
#include "bench_support.h"
#include "boxes.h"
#include "connection.h"
#include "csv_export.h"
#include "dates.h"
#include "definition.h"
#include "lab_reports.h"
#include "message_box.h"
#include "records.h"
#include "report_engine.h"
#include "ten_year_database.h"
#include "utility_screen.h"
#include "workstations.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    use_preview_engine();        // and prints through the preview, as the program does
    const QStringList args = app.arguments();
    QTemporaryDir dir;
    if (!use_ten_year_program_folder(args, dir.path())) return 1;
    const QString db = ten_year_database(args);

    // A patient with one report of every test today (an earlier run's are removed first).
    const qint64 patient = 4242;
    for (const Row& r : select_rows("select lab_id from test_main where patient_id = ? and t_date = ?",
                                    {patient, today_iso()})
                            .value)
        delete_report(kStaff, r.value(0));
    qint64 lab = next_lab_id().value - 1; // ids of deleted reports are never used again
    for (const TestDefinition* t : test_catalogue()) {
        NewReport r;
        r.header = {++lab,           patient, "Dr. R. Menon", {}, QString::fromUtf8(t->investigation->test),
                    "Bench remarks", "N"};
        r.table = t->investigation->table;
        for (int i = 0; i < t->box_count; ++i)
            r.results << ResultRow{0, QString::fromUtf8(t->items[i].caption), QString("1%1").arg(i)};
        if (const DbError e = save_report(kStaff, r); !e.ok())
            std::printf("  the bench's report of %s was not stored: %s\n", t->investigation->test,
                        qPrintable(e.description));
    }

    UtilityScreen screen;
    screen.show();
    auto* ok = screen.findChild<QPushButton*>("Command4");
    auto* id = screen.findChild<QLineEdit*>("Text1");
    const double build_ms = median_ms(7, [&] {
        id->setText(QString::number(patient));
        ok->click(); // fills temp, prepares the report, shows the preview
    });
    const int rows = select_first("select count(*) from temp").value->value(0).toInt();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &screen) w->close();

    // The list of every report, saved as CSV.
    QTemporaryDir exports;
    QElapsedTimer exported;
    exported.start();
    const bool saved =
        export_list_csv(&screen, all_reports_list(),
                        {"lab_id", "patient_id", "ref_by", "t_date", "test", "remarks", "temp_patient"},
                        exports.filePath("all.csv"));
    const double export_s = exported.elapsed() / 1000.0;
    const qint64 export_bytes = QFileInfo(exports.filePath("all.csv")).size();
    // The floor: SQLite's own shell writing the same query as CSV (when it is installed).
    QElapsedTimer floor_timer;
    floor_timer.start();
    QProcess shell;
    shell.setStandardOutputFile(exports.filePath("floor.csv"));
    shell.start("sqlite3", {"-csv", "-header", db, "SELECT lab_id, * FROM test_main ORDER BY lab_id"});
    const bool floor_ran = shell.waitForFinished(120000) && shell.exitCode() == 0;
    const double floor_s = floor_timer.elapsed() / 1000.0;

    // The backup while another workstation saves (its own connection on
    // another thread, a save every 100 ms): how long its longest save waited.
    QTemporaryDir backups;
    std::atomic<bool> backing_up{true};
    std::atomic<int> saves{0}, failed_saves{0};
    double longest_save_ms = 0;
    std::thread writer([&] {
        sqlite3* w = nullptr;
        sqlite3_open(db.toUtf8().constData(), &w);
        sqlite3_busy_timeout(w, 5000);
        while (backing_up) {
            QElapsedTimer save;
            save.start();
            const bool stored =
                sqlite3_exec(w,
                             "BEGIN IMMEDIATE; INSERT INTO doctors (name) VALUES ('Dr. Bench'); "
                             "DELETE FROM doctors WHERE name = 'Dr. Bench'; COMMIT",
                             nullptr, nullptr, nullptr) == SQLITE_OK;
            if (!stored) {
                sqlite3_exec(w, "ROLLBACK", nullptr, nullptr, nullptr);
                ++failed_saves;
            }
            ++saves;
            longest_save_ms = std::max(longest_save_ms, save.nsecsElapsed() / 1e6);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        sqlite3_close(w);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QElapsedTimer t;
    t.start();
    const BackupResult b = back_up_database(backups.path());
    const double backup_s = t.elapsed() / 1000.0;
    backing_up = false;
    writer.join();
    std::printf("utility on the ten-year database (%.0f MiB):\n", QFileInfo(db).size() / 1048576.0);
    Targets targets;
    std::printf("  consolidated report, 12 reports today (%d rows):\n", rows);
    targets.check("  O.K. to preview", build_ms, 150);
    std::printf("  backup: %.1f s (%s) while another workstation saved %d times; its longest save waited "
                "%.0f ms (target < 1000 ms), %d failed\n",
                backup_s, qPrintable(backup_message(b)), saves.load(), longest_save_ms, failed_saves.load());
    std::printf("  all reports saved as CSV: %.2f s, %.0f MiB%s\n", export_s, export_bytes / 1048576.0,
                saved ? "" : " (failed)");
    if (floor_ran)
        std::printf(
            "  the same query by sqlite3 -csv: %.2f s (the export takes %.2fx; target within 1.5x)%s\n",
            floor_s, export_s / floor_s, export_s < 1.5 * floor_s ? "" : "  MISSED");
    if (longest_save_ms >= 1000 || failed_saves.load() > 0 || !saved ||
        (floor_ran && export_s >= 1.5 * floor_s))
        targets.miss();
    return targets.exit_code();
}

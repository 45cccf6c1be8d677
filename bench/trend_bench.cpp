// The trend chart of one item over 200 report dates opens in under 100 ms:
// the window built, laid out and painted once (offscreen), the points read
// from the database of a patient with 200 reports.
#include "bench_support.h"

#include "connection.h"
#include "core_tables.h"
#include "lab_reports.h"
#include "schema_setup.h"
#include "trend_window.h"
#include "workstations.h"

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    keep_workstation_registry();
    QTemporaryDir dir;
    set_program_folder(dir.path());
    if (const QString e = create_database(database_file_path()); !e.isEmpty()) {
        std::printf("cannot create the database: %s\n", qPrintable(e));
        return 2;
    }
    add_patient(kStaff, minimal_patient(1, "Trend Patient", "50", "M"));
    const QString glucose = QStringLiteral("Random blood glucose (N:60-140 mg/dl)");
    const QDate first(2020, 1, 1);
    for (int i = 0; i < 200; ++i) {
        save_report(kStaff, {std::nullopt,
                             {i + 1, 1, "", {}, "Biochemistry report", "", "N"},
                             "biochemistry_report",
                             {{0, glucose, QString::number(60 + (i * 37) % 120)}}});
        execute(QStringLiteral("UPDATE test_main SET t_date = ? WHERE lab_id = ?"),
                {first.addDays(i * 7).toString(Qt::ISODate), i + 1});
    }
    const TrendItem item{&catalogue::kBiochemistryReport, glucose};
    std::printf("trend of 200 report dates\n");
    Targets targets;
    const double ms = median_ms(9, [&] {
        const auto points = trend(1, item);
        auto* window = new TrendWindow(points.value);
        window->show();
        window->grab(); // laid out and painted once
        delete window;
    });
    targets.check("read, built, shown and painted", ms, 100);
    return targets.exit_code();
}

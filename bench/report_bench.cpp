// Report rendering: one test report and a 100-row consolidated report to PDF,
// in process (prepare + lay out + write) and as whole `tavora-lab-admin render` runs.

#include "bench_support.h"
#include "connection.h"
#include "core_tables.h"
#include "dates.h"
#include "lab_reports.h"
#include "prepared_report.h"
#include "records.h"
#include "report_engine.h"
#include "report_layout.h"
#include "schema_setup.h"
#include "workstations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

void seed() {
    add_patient(kStaff, minimal_patient(1, "Asha D'Souza", "34", "F"));
    const char* haem[] = {"Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ",
                          "WBC (N : 4000 to 10,000 / cumm)",
                          "Polymorphs",
                          "Lymphocytes",
                          "Eosinophills",
                          "Monocytes",
                          "Basophills",
                          "Blasts",
                          "Promyelocytes",
                          "Myelocytes"};
    for (int lab = 1; lab <= 10; ++lab) {
        add_row("test_main", {{"lab_id", lab},
                              {"patient_id", 1},
                              {"ref_by", "Dr. R. Menon"},
                              {"t_date", today_iso()},
                              {"test", "Routine haemotology"},
                              {"remarks", ""},
                              {"temp_patient", "N"}});
        for (const char* item : haem) {
            add_row("Routine_haemotology", {{"lab_id", lab}, {"item", item}, {"result", "12 gm/dl"}});
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    use_preview_engine();        // and prints through the preview, as the program does
    const QString program = QCoreApplication::applicationDirPath() + "/..";
    QTemporaryDir dir;
    const QString db = dir.filePath("tavora lab.mdb");
    create_database(db);
    set_program_folder(dir.path());
    seed();
    close_connection();

    const QString test_file = QDir(program).filePath("h_routine_haemotology.rpt");
    const QString cons_file = QDir(program).filePath("h_consolidated_report.rpt");
    const QString pdf = dir.filePath("out.pdf");
    // The consolidated report reads the rows its build put in this
    // connection's scratch table, as the program prints it.
    if (!fill_consolidated(1).ok()) {
        std::fprintf(stderr, "the consolidated report could not be built\n");
        return 1;
    }
    ReportsReadSharedConnection with_build;
    auto render = [&](const QString& file, std::optional<Selection> selection) {
        const Prepared p = prepare_report({file, selection}, db);
        if (!p.report || !write_pdf(*p.report, pdf).isEmpty()) {
            std::fprintf(stderr, "render failed: %s\n", qPrintable(p.error));
            std::exit(1);
        }
    };
    // Warm up (fonts, the first PDF) before anything is timed. Every result
    // is flagged against its normal range as the program prints it.
    render(test_file, lab_id_selection(3));
    render(cons_file, std::nullopt);
    const double test_ms = median_ms(21, [&] { render(test_file, lab_id_selection(3)); });
    const double cons_ms = median_ms(21, [&] { render(cons_file, std::nullopt); });
    auto whole = [&](const QStringList& args) {
        QProcess p;
        p.start(QDir(program).filePath("tavora-lab-admin"), args);
        p.waitForFinished(30000);
        if (p.exitCode() != 0) std::exit(1);
    };
    const double test_tool_ms = median_ms(5, [&] {
        whole({"render", test_file, "--db", db, "--formula", "{test_main.lab_ID} = 3", "--pdf", pdf});
    });

    std::printf("report rendering to PDF, results flagged (medians):\n");
    Targets targets;
    targets.check("test report, in process", test_ms, 50);
    targets.check("consolidated, 100 rows, in process", cons_ms, 150);
    std::printf("  test report, tavora-lab-admin render    %7.1f ms\n", test_tool_ms);
    return targets.exit_code();
}

// Report rendering: one test report and a 100-row consolidated report to PDF,
// in process (prepare + lay out + write) and as whole `tavora-lab-admin render` runs.

#include "bench_support.h"
#include "core_tables.h"
#include "prepared_report.h"
#include "records.h"
#include "report_layout.h"
#include "result_flags.h"
#include "schema_setup.h"
#include "tavora_module.h"

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
    add_patient(minimal_patient(1, "Asha D'Souza", "34", "F"));
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
                              {"t_date", "2026-12-09"},
                              {"test", "Routine haemotology"},
                              {"remarks", ""},
                              {"temp_patient", "N"}});
        for (const char* item : haem) {
            add_row("Routine_haemotology", {{"lab_id", lab}, {"item", item}, {"result", "12 gm/dl"}});
            add_row(
                "temp",
                {{"test_table", "Routine_haemotology"}, {"lab_id", lab}, {"item", item}, {"result", "12"}});
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
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
    auto render = [&](const QString& file, std::optional<QString> formula) {
        const Prepared p = prepare_report({file, formula}, db);
        if (!p.report || !write_pdf(*p.report, pdf).isEmpty()) {
            std::fprintf(stderr, "render failed: %s\n", qPrintable(p.error));
            std::exit(1);
        }
    };
    // Warm up (fonts, the first PDF) before anything is timed.
    render(test_file, QString("{test_main.lab_ID} = 3"));
    render(cons_file, std::nullopt);
    // Each report with and without high and low flags, taken in turns, so
    // that the machine's drift falls on both alike.
    std::vector<double> plain_test, flagged_test, plain_cons, flagged_cons;
    for (int i = 0; i < 21; ++i)
        for (bool flags : {false, true}) {
            set_result_flagger(flags ? ResultFlagger(stored_result_flag) : ResultFlagger());
            (flags ? flagged_test : plain_test).push_back(median_ms(1, [&] {
                render(test_file, QString("{test_main.lab_ID} = 3"));
            }));
            (flags ? flagged_cons : plain_cons).push_back(median_ms(1, [&] {
                render(cons_file, std::nullopt);
            }));
        }
    set_result_flagger(nullptr);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double test_ms = median(plain_test), flagged_test_ms = median(flagged_test);
    const double cons_ms = median(plain_cons), flagged_cons_ms = median(flagged_cons);
    auto whole = [&](const QStringList& args) {
        QProcess p;
        p.start(QDir(program).filePath("tavora-lab-admin"), args);
        p.waitForFinished(30000);
        if (p.exitCode() != 0) std::exit(1);
    };
    const double test_tool_ms = median_ms(5, [&] {
        whole({"render", test_file, "--db", db, "--formula", "{test_main.lab_ID} = 3", "--pdf", pdf});
    });
    const double cons_tool_ms = median_ms(5, [&] { whole({"render", cons_file, "--db", db, "--pdf", pdf}); });

    std::printf("report rendering to PDF (medians):\n");
    std::printf("  test report, in process                 %7.1f ms (target < 50 ms)\n", test_ms);
    std::printf("  consolidated, 100 rows, in process      %7.1f ms (target < 150 ms)\n", cons_ms);
    std::printf("  test report with flags                  %7.1f ms (%+.1f %%; target within 10 %%)\n",
                flagged_test_ms, 100 * (flagged_test_ms / test_ms - 1));
    std::printf("  consolidated with flags                 %7.1f ms (%+.1f %%)\n", flagged_cons_ms,
                100 * (flagged_cons_ms / cons_ms - 1));
    std::printf("  test report, tavora-lab-admin render    %7.1f ms\n", test_tool_ms);
    std::printf("  consolidated, tavora-lab-admin render   %7.1f ms\n", cons_tool_ms);
    return 0;
}

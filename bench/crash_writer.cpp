// A workstation that saves and saves, for the crash probe (crash_probe.sh):
// each save registers a new patient and stores a report of twenty results in
// one transaction, and prints "saved LAB" once it is confirmed.
//   crash_writer PROGRAM_FOLDER

#include "bench_support.h"
#include "connection.h"
#include "core_tables.h"
#include "lab_reports.h"
#include "workstations.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: crash_writer PROGRAM_FOLDER\n");
        return 2;
    }
    set_program_folder(app.arguments()[1]);
    for (;;) {
        const auto patient = next_patient_id();
        const auto lab = next_lab_id();
        if (!patient.ok() || !lab.ok()) return 1;
        NewReport r;
        r.patient =
            minimal_patient(patient.value, QStringLiteral("Crash Probe %1").arg(patient.value), "40", "F");
        r.header = {lab.value,
                    patient.value,
                    QStringLiteral("Dr. Probe"),
                    {},
                    QStringLiteral("Routine haemotology"),
                    QStringLiteral("crash probe"),
                    QStringLiteral("N")};
        r.table = QStringLiteral("Routine_haemotology");
        for (int i = 0; i < 20; ++i)
            r.results << ResultRow{0, QStringLiteral("Item %1").arg(i), QStringLiteral("%1 units").arg(i)};
        const DbError e = save_report(kStaff, r);
        if (e.ok()) {
            std::printf("saved %lld\n", static_cast<long long>(lab.value));
            std::fflush(stdout);
        } else if (!e.busy() && !e.duplicate()) {
            std::fprintf(stderr, "crash_writer: %s\n", qPrintable(e.description));
            return 1;
        }
    }
}

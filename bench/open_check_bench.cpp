// What checking the database file costs at ten years' scale: the checks made
// on every open (the file's marks, version and journal mode, read from its
// header: no scan of the file), and the full integrity check that
// `tavora-lab-admin check` runs for the server's scheduler.
//   open_check_bench [--db FILE]     (default: /tmp/tavora-ten-year.mdb, made on first use)

#include "bench_support.h"
#include "connection.h"
#include "database_copy.h"
#include "ten_year_database.h"
#include "workstations.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    const QStringList args = app.arguments();
    const QString db = ten_year_database(args);
    if (db.isEmpty()) return 1;
    int n = 0;
    const double open_ms = median_ms(21, [&] {
        const QString name = QString("bench-%1").arg(n++);
        {
            QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", name);
            const QString problem = open_database_file(c, db, false);
            if (!problem.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(problem));
            c.close();
        }
        QSqlDatabase::removeDatabase(name);
    });
    QElapsedTimer t;
    t.start();
    const QString problems = integrity_problems(db);
    std::printf("checks on the ten-year database (%.0f MiB):\n", QFileInfo(db).size() / 1048576.0);
    Targets targets;
    targets.check("open with its checks (median)", open_ms, 5);
    std::printf("  integrity check        %6.1f s (%s)\n", t.elapsed() / 1000.0,
                problems.isEmpty() ? "ok" : qPrintable(problems));
    if (!problems.isEmpty()) targets.miss();
    return targets.exit_code();
}

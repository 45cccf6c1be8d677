// Saves per second with 1, 4 and 16 workstations writing at once, on the
// database file and on a PostgreSQL server side by side. Each writer is a
// connection of its own that saves reports as the program does: the write
// lock, the next lab id, the report's row, five result rows and a journal
// row, one transaction each. Fresh databases (the ten-year one is not
// written to).
// Each save's wait is kept: the median, the 99th percentile and the longest,
// and the failed saves, against the targets for 16 writers (none failed, the
// 99th percentile under 1 s). --ten-year writes to a copy of the ten-year
// database instead of a fresh one; --seconds N runs each count N seconds.
//   writers_bench [--ten-year] [--seconds N] --server "host=/tmp/tavora-bench-pg user=tavora_test"
// (start the server with: tools/pg_test_cluster.sh start /tmp/tavora-bench-pg durable)

#include "bench_support.h"
#include "connection.h"
#include "postgres_database.h"
#include "schema_setup.h"
#include "ten_year_database.h"
#include "workstations.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

int kSeconds = 3;

struct Waits {
    std::mutex lock;
    std::vector<double> ms;
    void add(double wait) {
        std::lock_guard<std::mutex> held(lock);
        ms.push_back(wait);
    }
    double at(double share) {
        if (ms.empty()) return 0;
        std::sort(ms.begin(), ms.end());
        return ms[std::min(ms.size() - 1, size_t(share * double(ms.size())))];
    }
};

// One workstation saving for kSeconds; the number of saves stored.
int save_for_a_while(const QString& file, const QString& url, std::atomic<int>& failures, Waits& waits) {
    const QString name = QStringLiteral("writer-") + QUuid::createUuid().toString(QUuid::Id128);
    int saved = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(url.isEmpty() ? "QSQLITE" : "QPSQL", name);
        const QString failure = url.isEmpty() ? open_database_file(db, file, false) : open_server(db, url);
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(failure));
            return 0;
        }
        const QStringList begin = Database::of(db).begin_write();
        {
            QSqlQuery q(db);
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < kSeconds * 1000) {
                QElapsedTimer save;
                save.start();
                bool ok = true;
                for (const QString& s : begin)
                    ok = ok && q.exec(s);
                qint64 id = 0;
                ok = ok && q.exec("SELECT coalesce(max(lab_id), 0) + 1 FROM test_main") && q.next();
                if (ok) id = q.value(0).toLongLong();
                ok = ok &&
                     q.prepare(
                         "INSERT INTO test_main (lab_id, patient_id, ref_by, t_date, test) VALUES (?, 1, "
                         "'Dr. Rao', '2026-12-09', 'Biochemistry report')");
                q.addBindValue(id);
                ok = ok && q.exec();
                for (int i = 0; ok && i < 5; ++i) {
                    ok = q.prepare("INSERT INTO biochemistry_report (lab_id, item, result) VALUES (?, ?, ?)");
                    q.addBindValue(id);
                    q.addBindValue(QStringLiteral("Item %1").arg(i));
                    q.addBindValue(QStringLiteral("%1 mg/dl").arg(90 + i));
                    ok = ok && q.exec();
                }
                ok = ok &&
                     q.prepare("INSERT INTO change_log (changed_at, action, table_name, row_key, old_values) "
                               "VALUES ('2026-12-09T10:00:00', 'create', 'test_main', ?, '{}')");
                q.addBindValue(id);
                ok = ok && q.exec() && q.exec("COMMIT");
                waits.add(save.nsecsElapsed() / 1e6);
                if (ok) {
                    ++saved;
                } else {
                    ++failures;
                    q.exec("ROLLBACK");
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return saved;
}

double saves_per_second(const QString& file, const QString& url, int writers, int& failed, Waits& waits) {
    std::atomic<int> total{0}, failures{0};
    std::vector<QThread*> threads;
    for (int i = 0; i < writers; ++i)
        threads.push_back(QThread::create([&] { total += save_for_a_while(file, url, failures, waits); }));
    for (QThread* t : threads)
        t->start();
    for (QThread* t : threads) {
        t->wait();
        delete t;
    }
    failed = failures;
    return double(total) / kSeconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    const QStringList args = app.arguments();
    const int at = int(args.indexOf("--server"));
    const QString server = at >= 0 ? args.value(at + 1) : QString();
    if (args.contains("--seconds")) kSeconds = args.value(args.indexOf("--seconds") + 1).toInt();
    QTemporaryDir dir(QDir::tempPath() + "/tavora-writers-XXXXXX");
    const QString file = dir.filePath("tavora lab.mdb");
    if (args.contains("--ten-year")) {
        const QString ten_year = ten_year_database(args);
        if (ten_year.isEmpty() || !QFile::copy(ten_year, file)) return 1;
    } else if (const QString e = create_database(file); !e.isEmpty()) {
        return std::fprintf(stderr, "%s\n", qPrintable(e)), 1;
    }
    QString url;
    if (!server.isEmpty()) {
        const QString db = "writers_" + QUuid::createUuid().toString(QUuid::Id128);
        const QString made =
            with_server_connection(server + " dbname=postgres", false, [&](QSqlDatabase& admin) {
                return QSqlQuery(admin).exec("CREATE DATABASE " + db) ? QString()
                                                                      : QString("CREATE DATABASE failed");
            });
        if (!made.isEmpty())
            return std::fprintf(stderr, "cannot make a database on %s\n", qPrintable(server)), 1;
        url = server + " dbname=" + db;
        if (const QString e = create_server_database(url); !e.isEmpty())
            return std::fprintf(stderr, "%s\n", qPrintable(e)), 1;
    }
    std::printf("saves per second, %d s each (file: rollback journal, synchronous=FULL; server: %s):\n",
                kSeconds, url.isEmpty() ? "not given" : "fsync on");
    std::printf("  %-8s %12s %12s   waits on the file: median, 99th percentile, longest; failed\n", "writers",
                "file", "server");
    Targets targets;
    for (int writers : {1, 4, 16}) {
        int file_failed = 0, server_failed = 0;
        Waits file_waits, server_waits;
        const double on_file = saves_per_second(file, {}, writers, file_failed, file_waits);
        const double on_server =
            url.isEmpty() ? 0 : saves_per_second(file, url, writers, server_failed, server_waits);
        std::printf("  %-8d %12.0f %12.0f   %.1f / %.1f / %.1f ms; %d failed", writers, on_file, on_server,
                    file_waits.at(0.5), file_waits.at(0.99), file_waits.at(1.0), file_failed);
        if (!url.isEmpty())
            std::printf("   (server: %.1f / %.1f / %.1f ms; %d failed)", server_waits.at(0.5),
                        server_waits.at(0.99), server_waits.at(1.0), server_failed);
        std::printf("\n");
        if (writers == 16) {
            targets.check("16 writers on the file: 99th percentile wait", file_waits.at(0.99), 1000);
            if (file_failed + server_failed > 0) {
                std::printf("  16 writers: %d failed saves (target 0)  MISSED\n",
                            file_failed + server_failed);
                targets.miss();
            }
        }
    }
    return targets.exit_code();
}

// Workstations entering results at once, each a process of its own running a
// test screen's own flow: open (the screen is offered a lab id and a patient
// id, reserved for it), type a new patient's name and twenty-two results,
// Save, and the next screen (Clear offers fresh ids). Against them, the same
// workstations saving the same reports with the ids read inside the save's
// own lock (largest + 1 where nobody can take it meanwhile). With 1, 4 and 16
// workstations, on the database file and, given --server, on a PostgreSQL
// server: saves per second, saves told "ID already exists" and other failed
// saves. Targets: the screens' flow is told "ID already exists" never, fails
// never, and stores at least 1/1.5 of the saves per second of the ids read
// inside the lock.
//   flow_writers_bench [--seconds N] [--server "host=/tmp/tavora-bench-pg user=tavora_test"]
// (start the server with: tools/pg_test_cluster.sh start /tmp/tavora-bench-pg durable)

#include "bench_support.h"
#include "connection.h"
#include "critical_call.h"
#include "definition.h"
#include "lab_reports.h"
#include "message_box.h"
#include "postgres_database.h"
#include "report_engine.h"
#include "result_workflow.h"
#include "schema_setup.h"
#include "workstations.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct SilentEngine : ReportEngine {
    QString run() override { return {}; }
};

const TestDefinition& kTest = definition_of(catalogue::kRoutineHaemotology);

// One workstation for `seconds`: prints "saved S duplicate D failed F".
int writer(const QString& folder, int seconds, bool screens_flow) {
    set_program_folder(folder);
    QStringList told;
    set_message_handler([&](const ShownMessage& m) {
        told << m.text;
        return MessageAnswer::Ok;
    });
    set_report_engine_factory([] { return std::make_unique<SilentEngine>(); });
    set_critical_call_handler([](const CallQuestion&) { return std::optional<CallAnswer>(); });
    app_state().register_on_save = true;
    open_connection();
    if (!connection_is_open()) return 3;
    int saved = 0, duplicate = 0, failed = 0;
    QString first_failure;
    auto count = [&](bool stored, const QString& why) {
        if (stored) {
            ++saved;
            return;
        }
        if (why.contains(QLatin1String("ID already exists")))
            ++duplicate;
        else
            ++failed;
        if (first_failure.isEmpty()) first_failure = why;
    };
    const QString name = QStringLiteral("Flow %1").arg(QCoreApplication::applicationPid());
    QDeadlineTimer until(seconds * 1000);
    if (screens_flow) {
        ResultWorkflow screen(kTest, {}, [] { return kStaff; });
        screen.open();
        while (!until.hasExpired()) {
            ResultForm& form = screen.form();
            form.name = name;
            form.age = QStringLiteral("40");
            form.sex = QStringLiteral("F");
            form.doctor = QStringLiteral("Dr. Flow");
            for (int i = 0; i < kTest.box_count; ++i)
                form.results[i] = QStringLiteral("1%1").arg(i % 10);
            told.clear();
            screen.save();
            count(told.contains(QStringLiteral("New report added")), told.join(u' '));
            screen.clear();
        }
    } else {
        while (!until.hasExpired()) {
            NewReport r;
            r.header = {0,
                        0,
                        QStringLiteral("Dr. Flow"),
                        {},
                        QString::fromUtf8(kTest.investigation->test),
                        QStringLiteral(" "),
                        QStringLiteral("N")};
            r.table = QString::fromLatin1(kTest.investigation->table);
            for (int i = 0; i < kTest.box_count; ++i)
                r.results << ResultRow{0, QString::fromUtf8(kTest.items[i].caption),
                                       QStringLiteral("1%1").arg(i % 10)};
            const DbError e = in_transaction([&]() -> DbError {
                const auto patient = next_patient_id();
                const auto lab = next_lab_id();
                if (!patient.ok()) return patient.error;
                if (!lab.ok()) return lab.error;
                r.patient = minimal_patient(patient.value, name, QStringLiteral("40"), QStringLiteral("F"));
                r.header.lab_id = lab.value;
                r.header.patient_id = patient.value;
                return save_report(kStaff, r);
            });
            DbError doctor = e.ok() ? add_doctor_if_new(QStringLiteral("Dr. Flow")) : DbError{};
            count(e.ok() && doctor.ok(), e.ok() ? doctor.description : e.description);
        }
    }
    close_connection();
    std::printf("saved %d duplicate %d failed %d\n", saved, duplicate, failed);
    if (!first_failure.isEmpty()) std::fprintf(stderr, "  first failure: %s\n", qPrintable(first_failure));
    return 0;
}

struct Round {
    int saved = 0, duplicate = 0, failed = 0;
};

// `writers` workstations of their own, all started at once.
Round run_writers(const QString& folder, int writers, int seconds, bool screens_flow) {
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < writers; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(),
                 {"--writer", folder, QString::number(seconds), screens_flow ? "screens" : "inside-lock"});
        processes.push_back(std::move(p));
    }
    Round round;
    for (auto& p : processes) {
        p->waitForFinished(seconds * 1000 + 60000);
        const QStringList words = QString::fromLocal8Bit(p->readAllStandardOutput()).split(u' ');
        if (words.size() < 6 || p->exitCode() != 0) {
            ++round.failed; // a workstation that could not work counts against the target
            continue;
        }
        round.saved += words[1].toInt();
        round.duplicate += words[3].toInt();
        round.failed += words[5].toInt();
    }
    return round;
}

// A program folder with a new database of its own: a file, or on the server.
QString new_folder(const QTemporaryDir& dir, const QString& name, const QString& server) {
    const QString folder = dir.filePath(name);
    QDir().mkpath(folder);
    if (server.isEmpty()) {
        if (const QString e = create_database(QDir(folder).filePath("tavora lab.mdb")); !e.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(e));
        return folder;
    }
    const QString db = "flow_" + QUuid::createUuid().toString(QUuid::Id128);
    with_server_connection(server + " dbname=postgres", false, [&](QSqlDatabase& admin) {
        QSqlQuery(admin).exec("CREATE DATABASE " + db);
        return QString();
    });
    const QString url = server + " dbname=" + db;
    if (const QString e = create_server_database(url); !e.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(e));
    QFile ini(QDir(folder).filePath(QString::fromLatin1(kSettingsFileName)));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[database]\nurl=\"%1\"\n").arg(url).toUtf8());
    return folder;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    const QStringList args = app.arguments();
    if (args.value(1) == "--writer")
        return writer(args.value(2), args.value(3).toInt(), args.value(4) == "screens");
    const int seconds = args.contains("--seconds") ? args.value(args.indexOf("--seconds") + 1).toInt() : 5;
    const QString server = args.contains("--server") ? args.value(args.indexOf("--server") + 1) : QString();
    QTemporaryDir dir(QDir::tempPath() + "/tavora-flow-writers-XXXXXX");
    Targets targets;
    std::printf("workstations saving for %d s each, every one a process of its own:\n", seconds);
    for (const QString& where : server.isEmpty() ? QStringList{"file"} : QStringList{"file", "server"}) {
        std::printf("  on the %s:\n    %-13s %28s %28s\n", qPrintable(where), "workstations",
                    "screens' flow: saves/s", "ids inside the lock: saves/s");
        for (int writers : {1, 4, 16}) {
            const QString on = where == "server" ? server : QString();
            const QString tag = QStringLiteral("%1-%2").arg(where).arg(writers);
            const Round flow = run_writers(new_folder(dir, tag + "-flow", on), writers, seconds, true);
            const Round locked = run_writers(new_folder(dir, tag + "-locked", on), writers, seconds, false);
            const double flow_rate = double(flow.saved) / seconds,
                         locked_rate = double(locked.saved) / seconds;
            std::printf("    %-13d %14.1f (%d dup, %d failed) %14.1f (%d dup, %d failed)\n", writers,
                        flow_rate, flow.duplicate, flow.failed, locked_rate, locked.duplicate, locked.failed);
            const QByteArray name =
                QStringLiteral("%1 on the %2: inside-lock / flow").arg(writers).arg(where).toUtf8();
            targets.check_ratio(name.constData(), flow_rate > 0 ? locked_rate / flow_rate : 99, 1.5);
            if (flow.duplicate + flow.failed > 0) {
                std::printf("    %d: %d told \"ID already exists\", %d failed (target 0)  MISSED\n", writers,
                            flow.duplicate, flow.failed);
                targets.miss();
            }
        }
    }
    return targets.exit_code();
}

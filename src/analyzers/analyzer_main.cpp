// tavora-lab-analyzer --db DATABASE|URL [--config FILE] [--spool FOLDER]:
// receives the analyzers' results into the laboratory's database, as
// tavora-lab.ini's [analyzer NAME] sections say, until it is stopped, keeping
// each message in the spool folder (beside the program unless given) until the
// database has it. Its log goes to the standard output, one line per event.
#include "connection.h"
#include "listener.h"
#include "workstations.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    QTextStream err(stderr);
    QString db, config = QCoreApplication::applicationDirPath() + QStringLiteral("/tavora-lab.ini"),
                spool = default_spool_folder();
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--db") && i + 1 < args.size())
            db = args[++i];
        else if (args[i] == QLatin1String("--config") && i + 1 < args.size())
            config = args[++i];
        else if (args[i] == QLatin1String("--spool") && i + 1 < args.size())
            spool = args[++i];
        else {
            db.clear();
            break;
        }
    }
    if (db.isEmpty()) {
        err << "usage: tavora-lab-analyzer --db DATABASE|postgresql://HOST/DB [--config tavora-lab.ini] "
               "[--spool FOLDER]\n";
        return 2;
    }
    auto log = [](const QString& line) {
        QTextStream out(stdout);
        out << QDateTime::currentDateTime().toString(Qt::ISODate) << ' ' << line << Qt::endl;
    };
    const ChannelConfig channels = read_channel_config(config);
    for (const QString& p : channels.problems)
        log(QStringLiteral("not used: ") + p);
    if (channels.channels.isEmpty()) {
        err << "tavora-lab-analyzer: no analyzer to listen to in " << config << "\n";
        return 1;
    }
    use_database(db);
    if (const auto opened = database(); !opened.ok()) {
        err << "tavora-lab-analyzer: " << opened.error.description << "\n";
        return 1;
    }
    AnalyzerListener listener(channels.channels, log, spool);
    if (const QString why = listener.open_spool(); !why.isEmpty()) {
        err << "tavora-lab-analyzer: " << why << "\n";
        return 1;
    }
    const QStringList problems = listener.start();
    for (const QString& p : problems)
        log(QStringLiteral("not listening: ") + p);
    if (problems.size() == channels.channels.size()) return 1;
    return app.exec();
}

// tavora-lab-admin: small administration jobs that the program itself never does.
//
//   tavora-lab-admin init PATH
//       create a new, empty database file with the schema (an existing file is never touched)
//   tavora-lab-admin render FILE.rpt --db DATABASE [--formula "{test_main.lab_ID} = 12"] --pdf OUT.pdf
//       print a report file to a PDF through the program's own report engine, to check an
//       edited report file or letter-head without the program
//   tavora-lab-admin backup --db DATABASE [--to FOLDER]
//       the day's backup, as the utility screen takes it, for the server's scheduler
//   tavora-lab-admin restore BACKUP --db DATABASE
//       put a backup in place of the database (every workstation's program closed first)

#include "backup.h"
#include "database_copy.h"
#include "prepared_report.h"
#include "report_layout.h"
#include "schema_setup.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QTextStream>

namespace {

int usage(QTextStream& err) {
    err << "usage: tavora-lab-admin init PATH\n"
           "       tavora-lab-admin render FILE.rpt --db DATABASE [--formula \"{test_main.lab_ID} = 12\"] "
           "--pdf OUT.pdf\n"
           "       tavora-lab-admin backup --db DATABASE [--to FOLDER]\n"
           "       tavora-lab-admin restore BACKUP --db DATABASE\n";
    return 2;
}

int init(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QString failure = create_database(args[0]);
    if (!failure.isEmpty()) {
        err << "tavora-lab-admin: cannot create the database: " << failure << "\n";
        return 1;
    }
    out << "Created " << args[0] << "\n";
    return 0;
}

int render(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString file, db, pdf;
    std::optional<QString> formula;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool has_value = i + 1 < args.size();
        if (a == QLatin1String("--db") && has_value)
            db = args[++i];
        else if (a == QLatin1String("--pdf") && has_value)
            pdf = args[++i];
        else if (a == QLatin1String("--formula") && has_value)
            formula = args[++i];
        else if (!a.startsWith(QLatin1String("--")) && file.isEmpty())
            file = a;
        else
            return usage(err);
    }
    if (file.isEmpty() || db.isEmpty() || pdf.isEmpty()) return usage(err);
    if (!QFileInfo::exists(db)) {
        err << "tavora-lab-admin: the database file " << db << " does not exist\n";
        return 1;
    }
    const Prepared prepared = prepare_report({QFileInfo(file).absoluteFilePath(), formula}, db);
    if (!prepared.report) {
        err << "tavora-lab-admin: " << prepared.error << "\n";
        return 1;
    }
    const QString failure = write_pdf(*prepared.report, pdf);
    if (!failure.isEmpty()) {
        err << "tavora-lab-admin: " << failure << "\n";
        return 1;
    }
    out << "Wrote " << pdf << "\n";
    return 0;
}

// The options of a command: --name value pairs, and at most `plain` other words.
struct Options {
    QHash<QString, QString> named;
    QStringList plain;
};

std::optional<Options> options(const QStringList& args, const QStringList& names, int plain) {
    Options o;
    for (int i = 0; i < args.size(); ++i) {
        if (names.contains(args[i]) && i + 1 < args.size()) {
            o.named.insert(args[i], args[i + 1]);
            ++i;
        } else if (!args[i].startsWith(QLatin1String("--")) && o.plain.size() < plain)
            o.plain << args[i];
        else
            return std::nullopt;
    }
    return o;
}

int backup(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db"), QStringLiteral("--to")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const QString db = o->named.value(QStringLiteral("--db"));
    if (!QFileInfo::exists(db)) {
        err << "tavora-lab-admin: the database file " << db << " does not exist\n";
        return 1;
    }
    const BackupResult r =
        back_up_database(o->named.value(QStringLiteral("--to"), default_backup_folder()), db);
    if (r.outcome != BackupResult::Outcome::Done) {
        err << "tavora-lab-admin: " << backup_message(r) << " (" << r.detail << ")\n";
        return 1;
    }
    out << "Wrote " << r.file << "\n";
    return 0;
}

int restore(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db")}, 1);
    if (!o || o->plain.size() != 1 || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const QString failure = restore_database(o->plain[0], o->named.value(QStringLiteral("--db")));
    if (!failure.isEmpty()) {
        err << "tavora-lab-admin: nothing was restored: " << failure << "\n";
        return 1;
    }
    out << "Restored " << o->named.value(QStringLiteral("--db")) << " from " << o->plain[0]
        << "; the replaced file is " << o->named.value(QStringLiteral("--db")) << ".before-restore\n";
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Laying out text needs the GUI library's fonts; no window is ever shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("init")) return init(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("render")) return render(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("backup")) return backup(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("restore")) return restore(args.mid(1), out, err);
    return usage(err);
}

// tavora-lab-admin: small administration jobs that the program itself never does.
//
//   tavora-lab-admin init PATH | URL
//       create a new, empty database file with the schema (an existing file is never touched)
//   tavora-lab-admin render FILE.rpt --db DATABASE|URL [--formula "{test_main.lab_ID} = 12"] --pdf OUT.pdf
//       print a report file to a PDF through the program's own report engine, to check an
//       edited report file or letter-head without the program
//   tavora-lab-admin backup --db DATABASE [--to FOLDER]
//       the day's backup, as the utility screen takes it, for the server's scheduler
//   tavora-lab-admin restore BACKUP --db DATABASE [--force]
//       put a backup in place of the database (every workstation's program closed first;
//       --force restores while programs are open, and they are told)
//   tavora-lab-admin check --db DATABASE
//       PRAGMA integrity_check; exits non-zero when the file is damaged (for the server's scheduler)
//   tavora-lab-admin upgrade --db DATABASE
//       bring a database file of an older version up to this program's, in one transaction
//   tavora-lab-admin journal --db DATABASE [--patient N | --lab N] [--verify [--anchor "ROWS HASH"]]
//   tavora-lab-admin journal --anchor --db DATABASE
//       the journal of changes: every created, modified or deleted patient and report, with its
//       values; --verify walks its hash chain and names the first row that was edited or deleted,
//       and, given an anchor printed earlier, that no row up to it changed or went
//   tavora-lab-admin user add LOGIN --name "FULL NAME" --role ROLE [--qualification TEXT] --db DATABASE
//   tavora-lab-admin user passwd LOGIN --db DATABASE
//   tavora-lab-admin user disable|enable LOGIN --db DATABASE
//   tavora-lab-admin user role LOGIN ROLE --db DATABASE
//   tavora-lab-admin user list --db DATABASE
//   tavora-lab-admin settings set require-verification on|off --db DATABASE
//   tavora-lab-admin settings set self-verification on|off --db DATABASE
//       off: a pathologist may not verify a report they entered themselves
//       on: a report not verified by a pathologist prints as "Provisional report - not yet verified"
//       the people who log in (user ...); a password is read from the standard input (one line), never
//       from the command line; ROLE is reception, technician, senior-technician, pathologist or
//       administrator
//   tavora-lab-admin migrate --from FILE --to postgresql://HOST/DB
//       copies a database file into an empty server database, table by table, checked
//   tavora-lab-admin label --accession A123 --db DATABASE --pdf OUT.pdf
//       the label of an ordered sample, as the program prints it (for checking the label stock's
//       layout, and for label printers driven from scripts)
//   tavora-lab-admin tat --from YYYY-MM-DD --to YYYY-MM-DD --db DATABASE
//       per test, how many ordered tests were resulted, and the median and 90th percentile of the
//       minutes from ordered to resulted and from resulted to verified; the urgent orders apart
//   tavora-lab-admin mail --lab N --to ADDRESS --db DATABASE
//   tavora-lab-admin doctor --name NAME --email ADDRESS --db DATABASE   (or doctor --db DATABASE: the list)
//       e-mails a saved report's PDF as the print preview's E-mail does (for a scheduler), through the
//       [mail] server of tavora-lab.ini beside the database file; journalled
//   tavora-lab-admin check-codes [FILE]
//       names every line of the analyzers' codes file whose test or item no screen has

#include "accounts.h"
#include "analyzer_review.h"
#include "backup.h"
#include "connection.h"
#include "database.h"
#include "database_copy.h"
#include "journal.h"
#include "lab_reports.h"
#include "migration.h"
#include "number_value.h"
#include "prepared_report.h"
#include "report_layout.h"
#include "schema_setup.h"
#include "selection_formula.h"
#include "server_backup.h"
#include "workstations.h"

#include "admin_commands.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

int usage(QTextStream& err) {
    err << "usage: tavora-lab-admin init PATH | postgresql://HOST/DB\n"
           "       tavora-lab-admin render FILE.rpt --db DATABASE [--formula \"{test_main.lab_ID} = 12\"] "
           "--pdf OUT.pdf\n"
           "       tavora-lab-admin backup --db DATABASE [--to FOLDER]\n"
           "       tavora-lab-admin restore BACKUP --db DATABASE [--force]\n"
           "       tavora-lab-admin check --db DATABASE\n"
           "       tavora-lab-admin upgrade --db DATABASE\n"
           "       tavora-lab-admin journal --db DATABASE [--patient N | --lab N] [--verify [--anchor \"ROWS "
           "HASH\"]]\n"
           "       tavora-lab-admin journal --anchor --db DATABASE\n"
           "       tavora-lab-admin user add LOGIN --name \"FULL NAME\" --role ROLE [--qualification TEXT] "
           "--db DATABASE\n"
           "       tavora-lab-admin user passwd|disable|enable LOGIN --db DATABASE\n"
           "       tavora-lab-admin user role LOGIN ROLE --db DATABASE\n"
           "       tavora-lab-admin user list --db DATABASE\n"
           "       tavora-lab-admin migrate --from FILE --to postgresql://HOST/DB\n"
           "       tavora-lab-admin settings set require-verification|self-verification on|off --db "
           "DATABASE\n"
           "       tavora-lab-admin label --accession A123 --db DATABASE --pdf OUT.pdf\n"
           "       tavora-lab-admin tat --from YYYY-MM-DD --to YYYY-MM-DD --db DATABASE\n"
           "       tavora-lab-admin mail --lab N --to ADDRESS --db DATABASE\n"
           "       tavora-lab-admin doctor [--name NAME --email ADDRESS] --db DATABASE\n"
           "       tavora-lab-admin check-codes [FILE]   (default: analyzer_codes.tsv beside the program)\n";
    return 2;
}

QString driver_for(const QString& path) {
    return Database::named(path)->driver();
}

QString open_named_database(QSqlDatabase& db, const QString& path, bool read_only) {
    const auto named = Database::named(path);
    return named->exists() ? named->open(db, read_only) : QStringLiteral("it does not exist");
}

QString shown_database(const QString& path) {
    return Database::named(path)->location();
}

QString cannot_open_named(const QString& path, const QString& reason) {
    return Database::named(path)->cannot_open(reason);
}

// The options of a command: --name value pairs, and at most `plain` other words.
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

namespace {

int migrate(const QString& file, const QString& url, QTextStream& out, QTextStream& err) {
    const Migration m = migrate_to_server(file, url);
    if (m.not_a_server) {
        err << "tavora-lab-admin: " << url << " is not a server's URL (postgresql://HOST/DB)\n";
        return 2;
    }
    if (!m.error.isEmpty()) {
        err << "tavora-lab-admin: nothing was moved: " << m.error << "\n";
        return 1;
    }
    for (const TableCopy& t : m.tables)
        out << t.table << ": " << t.rows << " rows, checksum " << t.checksum << " (the server's the same)\n";
    out << "Moved " << file << " to " << Database::named(url)->location() << "\n";
    return 0;
}

int init(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto db = Database::named(args[0]);
    if (const QString failure = db->create(); !failure.isEmpty()) {
        err << "tavora-lab-admin: cannot create the database: " << failure << "\n";
        return 1;
    }
    out << "Created " << db->location() << "\n";
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
    // The database is read as the program reads its own for a report.
    use_database(db);
    if (!Database::named(db)->exists()) {
        err << "tavora-lab-admin: the database file " << db << " does not exist\n";
        return 1;
    }
    std::optional<Selection> selection;
    if (formula) {
        const ParsedSelection parsed = parse_selection_formula(*formula);
        if (!parsed.selection) {
            err << "tavora-lab-admin: " << parsed.error << "\n";
            return 1;
        }
        selection = parsed.selection;
    }
    const Prepared prepared = prepare_report({QFileInfo(file).absoluteFilePath(), selection}, db);
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

int backup(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db"), QStringLiteral("--to")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const BackupMade made = Database::named(o->named.value(QStringLiteral("--db")))
                                ->back_up(o->named.value(QStringLiteral("--to"), default_backup_folder()));
    if (!made.error.isEmpty()) {
        err << "tavora-lab-admin: " << made.error << "\n";
        return 1;
    }
    out << "Wrote " << made.file << "\n";
    return 0;
}

int restore(QStringList args, QTextStream& out, QTextStream& err) {
    const bool force = args.removeAll(QStringLiteral("--force")) > 0;
    const auto o = options(args, {QStringLiteral("--db")}, 1);
    if (!o || o->plain.size() != 1 || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const auto db = Database::named(o->named.value(QStringLiteral("--db")));
    const Restored r = db->restore(o->plain[0], force);
    if (!r.error.isEmpty()) {
        err << "tavora-lab-admin: nothing was restored: " << r.error << "\n";
        return 1;
    }
    if (!r.overridden.isEmpty())
        out << "Forced: the program was open on " << r.overridden.join(QStringLiteral("; "))
            << ". Work saved there since the backup is not in the restored file (it is in " << r.kept
            << "); each of those programs tells its user when it next touches the file.\n";
    out << "Restored " << db->location() << " from " << o->plain[0];
    if (!r.kept.isEmpty()) out << "; the replaced file is " << r.kept;
    out << "\n";
    return 0;
}

int check(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const auto db = Database::named(o->named.value(QStringLiteral("--db")));
    const Checked checked = db->check();
    if (!checked.problems.isEmpty()) {
        err << "tavora-lab-admin: " << db->location() << " " << checked.verdict << ": " << checked.problems
            << "\n";
        if (checked.damaged)
            err << "Every workstation now refuses to write to it; restore the last backup.\n";
        return 1;
    }
    out << db->location() << ": ok";
    if (!checked.remark.isEmpty()) out << " (" << checked.remark << ")";
    out << "\n";
    return 0;
}

int upgrade(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const auto db = Database::named(o->named.value(QStringLiteral("--db")));
    const Upgrade u = db->upgrade();
    if (!u.error.isEmpty()) {
        err << "tavora-lab-admin: " << db->location() << " was not changed: " << u.error << "\n";
        return 1;
    }
    out << db->location() << ": " << u.done << "\n";
    return 0;
}

int settings(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db")}, 3);
    if (!o || !o->named.contains(QStringLiteral("--db")) || o->plain.size() != 3 ||
        o->plain[0] != QLatin1String("set") ||
        (o->plain[1] != QLatin1String(kRequireVerification) &&
         o->plain[1] != QLatin1String(kSelfVerification)) ||
        !(o->plain[2] == QLatin1String("on") || o->plain[2] == QLatin1String("off")))
        return usage(err);
    const QString path = o->named.value(QStringLiteral("--db"));
    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver_for(path), QStringLiteral("settings"));
        const QString failure = open_named_database(db, path, false);
        const DbError e = failure.isEmpty() ? set_setting(db, o->plain[1], o->plain[2])
                                            : DbError::other(cannot_open_named(path, failure));
        if (e.ok()) {
            out << o->plain[1] << " is " << o->plain[2] << "\n";
        } else {
            err << "tavora-lab-admin: " << e.description << "\n";
            status = 1;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("settings"));
    return status;
}

// Names every line of the analyzers' codes file that no test screen can take.
int check_codes(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (args.size() > 1) return usage(err);
    const QString path = args.isEmpty() ? analyzer_codes_path() : args[0];
    const AnalyzerCodes codes = read_analyzer_codes(path);
    const QStringList problems = code_problems(codes);
    for (const QString& p : problems)
        err << path << ": " << p << "\n";
    if (!problems.isEmpty()) return 1;
    out << path << ": " << codes.mappings.size() << " codes, every one fills a box of a test screen\n";
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Laying out text needs the GUI library's fonts; no window is ever shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Run from a scheduler there is no desktop session and so no runtime
    // folder: give Qt a private one rather than a warning on every run.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtime =
            QDir::tempPath().toLocal8Bit() + "/tavora-lab-admin-" + QByteArray::number(getuid());
        if (::mkdir(runtime.constData(), 0700) == 0 || errno == EEXIST) qputenv("XDG_RUNTIME_DIR", runtime);
    }
    QGuiApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    QTextStream out(stdout), err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("init")) return init(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("render")) return render(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("backup")) return backup(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("restore")) return restore(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("check")) return check(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("upgrade")) return upgrade(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("check-codes")) return check_codes(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("journal")) return journal(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("user")) return user(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("settings")) return settings(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("label")) return label(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("tat")) return tat(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("mail")) return mail(args.mid(1), out, err);
    if (!args.isEmpty() && args[0] == QLatin1String("doctor")) return doctor(args.mid(1), out, err);
    if (args.size() == 5 && args[0] == QLatin1String("migrate") && args[1] == QLatin1String("--from") &&
        args[3] == QLatin1String("--to"))
        return migrate(args[2], args[4], out, err);
    return usage(err);
}

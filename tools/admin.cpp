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
//   tavora-lab-admin journal --db DATABASE [--patient N | --lab N] [--verify]
//       the journal of changes: every created, modified or deleted patient and report, with its
//       values; --verify walks its hash chain and names the first row that was edited or deleted
//   tavora-lab-admin user add LOGIN --name "FULL NAME" --role ROLE [--qualification TEXT] --db DATABASE
//   tavora-lab-admin user passwd LOGIN --db DATABASE
//   tavora-lab-admin user disable LOGIN --db DATABASE
//   tavora-lab-admin user list --db DATABASE
//   tavora-lab-admin settings set require-verification on|off --db DATABASE
//       on: a report not verified by a pathologist prints as "Provisional report - not yet verified"
//       the people who log in (user ...); a password is read from the standard input (one line), never
//       from the command line; ROLE is reception, technician, senior-technician, pathologist or
//       administrator
//   tavora-lab-admin migrate --from FILE --to postgresql://HOST/DB
//       copies a database file into an empty server database, table by table, checked
//   tavora-lab-admin check-codes [FILE]
//       names every line of the analyzers' codes file whose test or item no screen has

#include "accounts.h"
#include "analyzer_review.h"
#include "backup.h"
#include "database_copy.h"
#include "dialect.h"
#include "journal.h"
#include "lab_reports.h"
#include "migration.h"
#include "number_value.h"
#include "prepared_report.h"
#include "report_layout.h"
#include "schema_setup.h"
#include "selection_formula.h"
#include "server_backup.h"
#include "tavora_module.h"

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

namespace {

int usage(QTextStream& err) {
    err << "usage: tavora-lab-admin init PATH | postgresql://HOST/DB\n"
           "       tavora-lab-admin render FILE.rpt --db DATABASE [--formula \"{test_main.lab_ID} = 12\"] "
           "--pdf OUT.pdf\n"
           "       tavora-lab-admin backup --db DATABASE [--to FOLDER]\n"
           "       tavora-lab-admin restore BACKUP --db DATABASE [--force]\n"
           "       tavora-lab-admin check --db DATABASE\n"
           "       tavora-lab-admin upgrade --db DATABASE\n"
           "       tavora-lab-admin journal --db DATABASE [--patient N | --lab N] [--verify]\n"
           "       tavora-lab-admin user add LOGIN --name \"FULL NAME\" --role ROLE [--qualification TEXT] "
           "--db DATABASE\n"
           "       tavora-lab-admin user passwd|disable LOGIN --db DATABASE\n"
           "       tavora-lab-admin user list --db DATABASE\n"
           "       tavora-lab-admin migrate --from FILE --to postgresql://HOST/DB\n"
           "       tavora-lab-admin settings set require-verification on|off --db DATABASE\n"
           "       tavora-lab-admin check-codes [FILE]   (default: analyzer_codes.tsv beside the program)\n";
    return 2;
}

// The Qt driver of a database named on the command line: a server's URL, or a file.
QString driver_for(const QString& path) {
    return is_server_url(path) ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
}

// Opens `db` on a file (which must exist) or a server; an empty text, or the reason.
QString open_named_database(QSqlDatabase& db, const QString& path, bool read_only) {
    if (is_server_url(path)) return open_server(db, path);
    return QFileInfo::exists(path) ? open_database_file(db, path, read_only)
                                   : QStringLiteral("it does not exist");
}

int migrate(const QString& file, const QString& url, QTextStream& out, QTextStream& err) {
    if (!is_server_url(url)) {
        err << "tavora-lab-admin: " << url << " is not a server's URL (postgresql://HOST/DB)\n";
        return 2;
    }
    const Migration m = migrate_to_server(file, url);
    if (!m.error.isEmpty()) {
        err << "tavora-lab-admin: nothing was moved: " << m.error << "\n";
        return 1;
    }
    for (const TableCopy& t : m.tables)
        out << t.table << ": " << t.rows << " rows, checksum " << t.checksum << " (the server's the same)\n";
    out << "Moved " << file << " to " << shown_url(url) << "\n";
    return 0;
}

int init(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QString failure =
        is_server_url(args[0]) ? create_server_database(args[0]) : create_database(args[0]);
    if (!failure.isEmpty()) {
        err << "tavora-lab-admin: cannot create the database: " << failure << "\n";
        return 1;
    }
    out << "Created " << (is_server_url(args[0]) ? shown_url(args[0]) : args[0]) << "\n";
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
    // A server's database is read as the program reads it for a report.
    if (is_server_url(db)) use_database(db);
    if (!is_server_url(db) && !QFileInfo::exists(db)) {
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
    if (is_server_url(db)) {
        // The server's own dump, into the day's file (".dump" in place of ".mdb").
        const QString folder = o->named.value(QStringLiteral("--to"), default_backup_folder());
        QString file = QDir(folder).filePath(backup_file_name(QDate::currentDate()));
        file.replace(QRegularExpression(QStringLiteral("\\.mdb$")), QStringLiteral(".dump"));
        QDir().mkpath(folder);
        if (const QString e = dump_server_database(db, file); !e.isEmpty()) {
            err << "tavora-lab-admin: no backup was made of " << shown_url(db) << ": " << e << "\n";
            return 1;
        }
        out << "Wrote " << file << "\n";
        return 0;
    }
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

int restore(QStringList args, QTextStream& out, QTextStream& err) {
    const bool force = args.removeAll(QStringLiteral("--force")) > 0;
    const auto o = options(args, {QStringLiteral("--db")}, 1);
    if (!o || o->plain.size() != 1 || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const QString db = o->named.value(QStringLiteral("--db"));
    if (is_server_url(db)) {
        if (const QString e = restore_server_database(o->plain[0], db); !e.isEmpty()) {
            err << "tavora-lab-admin: nothing was restored: " << e << "\n";
            return 1;
        }
        out << "Restored " << shown_url(db) << " from " << o->plain[0] << "\n";
        return 0;
    }
    const bool existed = QFileInfo::exists(db);
    QStringList overridden;
    const QString failure = restore_database(o->plain[0], db, force, &overridden);
    if (!failure.isEmpty()) {
        err << "tavora-lab-admin: nothing was restored: " << failure << "\n";
        return 1;
    }
    if (!overridden.isEmpty())
        out << "Forced: the program was open on " << overridden.join(QStringLiteral("; "))
            << ". Work saved there since the backup is not in the restored file (it is in " << db
            << ".before-restore); each of those programs tells its user when it next touches the file.\n";
    out << "Restored " << db << " from " << o->plain[0];
    if (existed) out << "; the replaced file is " << db << ".before-restore";
    out << "\n";
    return 0;
}

int check(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const QString db = o->named.value(QStringLiteral("--db"));
    if (is_server_url(db)) {
        // The server looks after its own pages; what is checked here is that
        // it holds the laboratory's database and that the journal is intact.
        const QString problem =
            with_server_connection(db, true, [](QSqlDatabase& server) { return verify_journal(server); });
        if (!problem.isEmpty()) {
            err << "tavora-lab-admin: " << shown_url(db) << " is unusable: " << problem << "\n";
            return 1;
        }
        out << shown_url(db) << ": ok\n";
        return 0;
    }
    const FileCheck checked = check_by_copy(db);
    if (!checked.problems.isEmpty()) {
        // Every workstation refuses a damaged file from now on, until it is restored or checked clean.
        if (checked.damaged) write_damage_marker(db, checked.problems);
        err << "tavora-lab-admin: " << db << " is damaged or unusable: " << checked.problems << "\n";
        if (checked.damaged)
            err << "Every workstation now refuses to write to it; restore the last backup.\n";
        return 1;
    }
    if (damage_marked(db)) {
        remove_damage_marker(db);
        out << db << ": ok (it was marked damaged; the mark is removed)\n";
        return 0;
    }
    out << db << ": ok\n";
    return 0;
}

int upgrade(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const QString db = o->named.value(QStringLiteral("--db"));
    const Upgrade u = is_server_url(db) ? upgrade_server_database(db) : upgrade_database(db);
    const QString shown = is_server_url(db) ? shown_url(db) : db;
    if (!u.error.isEmpty()) {
        err << "tavora-lab-admin: " << shown << " was not changed: " << u.error << "\n";
        return 1;
    }
    out << shown << ": " << u.done << "\n";
    return 0;
}

int journal(QStringList args, QTextStream& out, QTextStream& err) {
    const bool verify = args.removeAll(QStringLiteral("--verify")) > 0;
    const auto o =
        options(args, {QStringLiteral("--db"), QStringLiteral("--patient"), QStringLiteral("--lab")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db")) ||
        (o->named.contains(QStringLiteral("--patient")) && o->named.contains(QStringLiteral("--lab"))))
        return usage(err);
    const QString path = o->named.value(QStringLiteral("--db"));
    // --patient N or --lab N: a whole number, read once.
    std::optional<qint64> number;
    for (const char* option : {"--patient", "--lab"}) {
        if (!o->named.contains(QLatin1String(option))) continue;
        number = whole_number(o->named.value(QLatin1String(option)));
        if (!number) {
            err << "tavora-lab-admin: " << option << " takes a whole number, not \""
                << o->named.value(QLatin1String(option)) << "\"\n";
            return 2;
        }
    }
    JournalFilter filter;
    (o->named.contains(QStringLiteral("--patient")) ? filter.patient : filter.lab_id) = number;
    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver_for(path), QStringLiteral("journal"));
        const QString failure = open_named_database(db, path, true);
        if (!failure.isEmpty()) {
            err << "tavora-lab-admin: " << cannot_open_message(path, failure) << "\n";
            status = 1;
        } else if (verify) {
            qint64 rows = 0;
            const QString broken = verify_journal(db, &rows);
            if (broken.isEmpty()) {
                out << path << ": the journal of changes is intact (" << rows << " rows)\n";
            } else {
                err << "tavora-lab-admin: " << path
                    << ": the journal of changes was tampered with: " << broken << "\n";
                status = 1;
            }
        } else {
            const QString listing = list_journal(db, filter, [&out](const QStringList& r) {
                out << r[0] << "  " << r[1] << "  " << r[2] << "  " << r[3] << " " << r[4] << " " << r[5]
                    << "  " << r[6] << "\n";
            });
            if (!listing.isEmpty()) {
                err << "tavora-lab-admin: " << listing << "\n";
                status = 1;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("journal"));
    return status;
}

int user(QStringList args, QTextStream& out, QTextStream& err) {
    if (args.isEmpty()) return usage(err);
    const QString what = args.takeFirst();
    const bool list = what == QLatin1String("list");
    const auto o = options(args,
                           {QStringLiteral("--db"), QStringLiteral("--name"), QStringLiteral("--role"),
                            QStringLiteral("--qualification")},
                           list ? 0 : 1);
    if (!o || !o->named.contains(QStringLiteral("--db")) || (!list && o->plain.size() != 1))
        return usage(err);
    if (what == QLatin1String("add") &&
        (!o->named.contains(QStringLiteral("--name")) || !o->named.contains(QStringLiteral("--role"))))
        return usage(err);
    const QString path = o->named.value(QStringLiteral("--db"));
    const QString login = list ? QString() : o->plain[0];
    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver_for(path), QStringLiteral("users"));
        const QString failure = open_named_database(db, path, list);
        // A password comes on the standard input, one line: never on the command line.
        auto read_password = [] {
            QTextStream in(stdin);
            return in.readLine();
        };
        DbError e;
        if (!failure.isEmpty()) {
            e = DbError::other(cannot_open_message(path, failure));
        } else if (list) {
            auto users = list_users(db);
            e = users.error;
            for (const Account& a : users.value)
                out << a.login << "\t" << role_name(a.role) << "\t" << a.full_name << "\t" << a.qualification
                    << "\t" << (a.disabled ? "disabled" : "active") << "\t"
                    << (a.last_login_at.isEmpty() ? QStringLiteral("never") : a.last_login_at) << "\n";
        } else if (what == QLatin1String("add")) {
            const auto role = role_named(o->named.value(QStringLiteral("--role")));
            if (!role) {
                err << "tavora-lab-admin: the role is reception, technician, senior-technician, pathologist "
                       "or "
                       "administrator\n";
                status = 2;
            } else {
                Account a;
                a.login = login;
                a.full_name = o->named.value(QStringLiteral("--name"));
                a.qualification = o->named.value(QStringLiteral("--qualification"));
                a.role = *role;
                a.must_change = true; // the person chooses their own at the first login
                e = add_user(db, a, read_password());
                if (e.ok()) out << "Added " << login << " (" << role_name(*role) << ")\n";
            }
        } else if (what == QLatin1String("passwd")) {
            e = set_password(db, login, read_password(), true); // changed again at the next login
            if (e.ok()) out << "The password of " << login << " is changed\n";
        } else if (what == QLatin1String("disable")) {
            e = disable_user(db, login);
            if (e.ok()) out << login << " can no longer log in\n";
        } else {
            status = usage(err);
        }
        if (!e.ok()) {
            err << "tavora-lab-admin: "
                << (e.duplicate() ? QStringLiteral("%1 exists already").arg(login) : e.description) << "\n";
            status = 1;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("users"));
    return status;
}

int settings(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o = options(args, {QStringLiteral("--db")}, 3);
    if (!o || !o->named.contains(QStringLiteral("--db")) || o->plain.size() != 3 ||
        o->plain[0] != QLatin1String("set") || o->plain[1] != QLatin1String(kRequireVerification) ||
        !(o->plain[2] == QLatin1String("on") || o->plain[2] == QLatin1String("off")))
        return usage(err);
    const QString path = o->named.value(QStringLiteral("--db"));
    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver_for(path), QStringLiteral("settings"));
        const QString failure = open_named_database(db, path, false);
        const DbError e = failure.isEmpty() ? set_setting(db, o->plain[1], o->plain[2])
                                            : DbError::other(cannot_open_message(path, failure));
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
    if (args.size() == 5 && args[0] == QLatin1String("migrate") && args[1] == QLatin1String("--from") &&
        args[3] == QLatin1String("--to"))
        return migrate(args[2], args[4], out, err);
    return usage(err);
}

// tavora-lab-admin's commands about the people who log in and about the
// journal of changes, which records what they did.

#include "accounts.h"
#include "connection.h"
#include "journal.h"
#include "number_value.h"

#include "admin_commands.h"

#include <QSqlDatabase>

#include <cstdio>
#include <pwd.h>
#include <termios.h>
#include <unistd.h>

Actor tool_actor() {
    const passwd* pw = ::getpwuid(::geteuid());
    const QString user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
    return {user + QStringLiteral(" (tavora-lab-admin)"), Role::Administrator};
}

namespace {

// One line of the standard input; nullopt at its end.
std::optional<QString> read_line() {
    QByteArray line;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n')
        line += char(c);
    if (c == EOF && line.isEmpty()) return std::nullopt;
    if (line.endsWith('\r')) line.chop(1);
    return QString::fromUtf8(line);
}

// While it lives, what is typed at the terminal is not shown. Echo goes off
// before the prompt is written, and nothing typed ahead is thrown away.
class NoEcho {
public:
    NoEcho() {
        if (::tcgetattr(STDIN_FILENO, &before_) != 0) return;
        termios quiet = before_;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    }
    ~NoEcho() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &before_);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    termios before_{};
    bool active_ = false;
};

// A password from the standard input, never from the command line. On a
// terminal it is asked for by name, not echoed, and asked twice; from a pipe
// it is one line. Nullopt, with the reason told, when there is none.
std::optional<QString> read_password(const QString& login, QTextStream& err) {
    if (!::isatty(STDIN_FILENO)) {
        auto line = read_line();
        if (!line) err << "tavora-lab-admin: no password was given on the standard input\n";
        return line;
    }
    std::optional<QString> first, second;
    {
        const NoEcho quiet;
        err << "Password for " << login << ": " << Qt::flush;
        first = read_line();
        err << "\n"; // the Enter that was not echoed
        if (first) {
            err << "Password for " << login << " (again): " << Qt::flush;
            second = read_line();
            err << "\n" << Qt::flush;
        }
    }
    if (!first) return std::nullopt;
    if (!second || *second != *first) {
        err << "tavora-lab-admin: the two passwords differ; nothing was changed\n";
        return std::nullopt;
    }
    return first;
}

// Runs `work` on a connection of its own to the database named by `path`.
int with_database(const QString& path, bool read_only, QTextStream& err,
                  const std::function<int(QSqlDatabase&)>& work) {
    int status = 0;
    const QString name = QStringLiteral("admin-people");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver_for(path), name);
        const QString failure = open_named_database(db, path, read_only);
        if (!failure.isEmpty()) {
            err << "tavora-lab-admin: " << cannot_open_named(path, failure) << "\n";
            status = 1;
        } else {
            status = work(db);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return status;
}

} // namespace

int journal(QStringList args, QTextStream& out, QTextStream& err) {
    const bool verify = args.removeAll(QStringLiteral("--verify")) > 0;
    // --anchor alone prints the anchor; --anchor "ROWS HASH" with --verify checks against one.
    const bool print_anchor = !verify && args.removeAll(QStringLiteral("--anchor")) > 0;
    const auto o = options(args,
                           {QStringLiteral("--db"), QStringLiteral("--patient"), QStringLiteral("--lab"),
                            QStringLiteral("--anchor")},
                           0);
    if (!o || !o->named.contains(QStringLiteral("--db")) ||
        (o->named.contains(QStringLiteral("--patient")) && o->named.contains(QStringLiteral("--lab"))) ||
        (print_anchor && o->named.size() != 1))
        return usage(err);
    const QString path = o->named.value(QStringLiteral("--db"));
    const QString shown = shown_database(path);
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
    std::optional<JournalAnchor> anchor;
    if (o->named.contains(QStringLiteral("--anchor"))) {
        anchor = JournalAnchor::parse(o->named.value(QStringLiteral("--anchor")));
        if (!anchor) {
            err << "tavora-lab-admin: an anchor is \"ROWS HASH\" as journal --anchor printed it\n";
            return 2;
        }
    }
    JournalFilter filter;
    (o->named.contains(QStringLiteral("--patient")) ? filter.patient : filter.lab_id) = number;
    return with_database(path, true, err, [&](QSqlDatabase& db) {
        if (print_anchor) {
            const auto a = journal_anchor(db);
            if (!a.ok()) {
                err << "tavora-lab-admin: " << a.error.description << "\n";
                return 1;
            }
            out << a.value.text() << "\n";
            return 0;
        }
        if (verify) {
            qint64 rows = 0;
            const QString broken = verify_journal(db, &rows, anchor);
            if (!broken.isEmpty()) {
                err << "tavora-lab-admin: " << shown
                    << ": the journal of changes was tampered with: " << broken << "\n";
                return 1;
            }
            out << shown << ": the journal of changes is intact (" << rows << " rows"
                << (anchor ? QStringLiteral(", the anchor's %1 among them").arg(anchor->rows) : QString())
                << ")\n";
            return 0;
        }
        const QString listing = list_journal(db, filter, [&out](const QStringList& r) {
            out << r[0] << "  " << r[1] << "  " << r[2] << "  " << r[3] << " " << r[4] << " " << r[5] << "  "
                << r[6] << "\n";
        });
        if (listing.isEmpty()) return 0;
        err << "tavora-lab-admin: " << listing << "\n";
        return 1;
    });
}

int user(QStringList args, QTextStream& out, QTextStream& err) {
    if (args.isEmpty()) return usage(err);
    const QString what = args.takeFirst();
    const bool list = what == QLatin1String("list");
    const bool role_change = what == QLatin1String("role");
    const auto o = options(args,
                           {QStringLiteral("--db"), QStringLiteral("--name"), QStringLiteral("--role"),
                            QStringLiteral("--qualification")},
                           list          ? 0
                           : role_change ? 2
                                         : 1);
    if (!o || !o->named.contains(QStringLiteral("--db")) ||
        (!list && o->plain.size() != (role_change ? 2 : 1)))
        return usage(err);
    if (what == QLatin1String("add") &&
        (!o->named.contains(QStringLiteral("--name")) || !o->named.contains(QStringLiteral("--role"))))
        return usage(err);
    const QString login = list ? QString() : o->plain[0];
    const QString role_text = role_change ? o->plain[1] : o->named.value(QStringLiteral("--role"));
    const auto role = role_named(role_text);
    if ((role_change || what == QLatin1String("add")) && !role) {
        err << "tavora-lab-admin: the role is reception, technician, senior-technician, pathologist or "
               "administrator\n";
        return 2;
    }
    // The texts are checked before any password is asked for.
    if (what == QLatin1String("add"))
        for (const QString& problem :
             {login_problem(login.trimmed()), full_name_problem(o->named.value(QStringLiteral("--name")))})
            if (!problem.isEmpty()) {
                err << "tavora-lab-admin: nothing was stored: " << problem << "\n";
                return 1;
            }
    const Actor who = tool_actor();
    set_journal_user(who.login);
    return with_database(o->named.value(QStringLiteral("--db")), list, err, [&](QSqlDatabase& db) {
        DbError e;
        if (list) {
            auto users = list_users(db);
            e = users.error;
            for (const Account& a : users.value)
                out << a.login << "\t" << role_name(a.role) << "\t" << a.full_name << "\t" << a.qualification
                    << "\t" << (a.disabled ? "disabled" : "active") << "\t"
                    << (a.last_login_at.isEmpty() ? QStringLiteral("never") : a.last_login_at) << "\n";
        } else if (what == QLatin1String("add")) {
            const auto password = read_password(login, err);
            if (!password) return 1;
            Account a;
            a.login = login;
            a.full_name = o->named.value(QStringLiteral("--name"));
            a.qualification = o->named.value(QStringLiteral("--qualification"));
            a.role = *role;
            a.must_change = true; // the person chooses their own at the first login
            e = add_user(db, who, a, *password);
            if (e.ok()) out << "Added " << login << " (" << role_name(*role) << ")\n";
        } else if (what == QLatin1String("passwd")) {
            const auto password = read_password(login, err);
            if (!password) return 1;
            e = set_password(db, who, login, *password, true); // changed again at the next login
            if (e.ok()) out << "The password of " << login << " is changed\n";
        } else if (what == QLatin1String("disable")) {
            e = disable_user(db, who, login);
            if (e.ok()) out << login << " can no longer log in\n";
        } else if (what == QLatin1String("enable")) {
            e = enable_user(db, who, login);
            if (e.ok()) out << login << " may log in again\n";
        } else if (role_change) {
            e = set_role(db, who, login, *role);
            if (e.ok()) out << login << " is now " << role_name(*role) << "\n";
        } else {
            return usage(err);
        }
        if (e.ok()) return 0;
        err << "tavora-lab-admin: "
            << (e.duplicate() ? QStringLiteral("%1 exists already").arg(login)
                              : QStringLiteral("nothing was stored: ") + e.description)
            << "\n";
        return 1;
    });
}

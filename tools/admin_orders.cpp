// The admin tool's commands about orders and delivery: a sample's label to a
// PDF, how long the ordered tests took, and a report sent by e-mail.
#include "admin_commands.h"

#include "connection.h"
#include "database.h"
#include "journal.h"
#include "lab_reports.h"
#include "label.h"
#include "mail.h"
#include "orders.h"
#include "report_mail.h"

#include <QFileInfo>

#include <QDate>

namespace {

// The database named by --db, as the program's own connection; false (and
// said so) when it does not exist.
bool open_for_command(const QString& db, QTextStream& err) {
    use_database(db);
    if (Database::named(db)->exists()) return true;
    err << "tavora-lab-admin: the database " << shown_database(db) << " does not exist\n";
    return false;
}

QString minutes(double m) {
    return QString::number(m, 'f', 0);
}

void print_turnaround(const QList<Turnaround>& rows, QTextStream& out) {
    out << qSetFieldWidth(44) << Qt::left << "test" << qSetFieldWidth(10) << Qt::right << "resulted"
        << "median"
        << "p90"
        << "verified"
        << "median"
        << "p90" << qSetFieldWidth(0) << "\n";
    for (const Turnaround& t : rows)
        out << qSetFieldWidth(44) << Qt::left << QString::fromUtf8(t.test->test) << qSetFieldWidth(10)
            << Qt::right << t.resulted << minutes(t.ordered_to_resulted_median)
            << minutes(t.ordered_to_resulted_p90) << t.verified << minutes(t.resulted_to_verified_median)
            << minutes(t.resulted_to_verified_p90) << qSetFieldWidth(0) << "\n";
    if (rows.isEmpty()) out << "(no ordered test was resulted)\n";
}

} // namespace

int label(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o =
        options(args, {QStringLiteral("--accession"), QStringLiteral("--db"), QStringLiteral("--pdf")}, 0);
    if (!o || o->named.size() != 3) return usage(err);
    const auto accession = accession_number(o->named.value(QStringLiteral("--accession")));
    if (!accession) {
        err << "tavora-lab-admin: " << o->named.value(QStringLiteral("--accession"))
            << " is not an accession (A and its number)\n";
        return 1;
    }
    if (!open_for_command(o->named.value(QStringLiteral("--db")), err)) return 1;
    const auto sample = ordered_sample(*accession);
    if (!sample.ok() || !sample.value) {
        err << "tavora-lab-admin: "
            << (sample.ok() ? QStringLiteral("there is no order %1").arg(accession_text(*accession))
                            : sample.error.description)
            << "\n";
        return 1;
    }
    const QString pdf = o->named.value(QStringLiteral("--pdf"));
    if (const QString e = write_labels_pdf({sample_label(*sample.value)}, label_size(), pdf); !e.isEmpty()) {
        err << "tavora-lab-admin: " << e << "\n";
        return 1;
    }
    out << "Wrote " << pdf << "\n";
    return 0;
}

int tat(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o =
        options(args, {QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--db")}, 0);
    if (!o || o->named.size() != 3) return usage(err);
    const QDate from = QDate::fromString(o->named.value(QStringLiteral("--from")), Qt::ISODate),
                to = QDate::fromString(o->named.value(QStringLiteral("--to")), Qt::ISODate);
    if (!from.isValid() || !to.isValid() || to < from) {
        err << "tavora-lab-admin: --from and --to are two dates, YYYY-MM-DD, the first not after the "
               "second\n";
        return 1;
    }
    if (!open_for_command(o->named.value(QStringLiteral("--db")), err)) return 1;
    out << "Orders placed " << from.toString(Qt::ISODate) << " to " << to.toString(Qt::ISODate)
        << ": minutes from ordered to resulted, and from resulted to verified\n";
    for (const auto& [title, urgent] :
         {std::pair<const char*, std::optional<bool>>{"All orders", std::nullopt}, {"Urgent orders", true}}) {
        const auto rows = turnaround(from, to, urgent);
        if (!rows.ok()) {
            err << "tavora-lab-admin: " << rows.error.description << "\n";
            return 1;
        }
        out << "\n" << title << "\n";
        print_turnaround(rows.value, out);
    }
    return 0;
}

int mail(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o =
        options(args, {QStringLiteral("--lab"), QStringLiteral("--to"), QStringLiteral("--db")}, 0);
    if (!o || o->named.size() != 3) return usage(err);
    bool number = false;
    const qint64 lab = o->named.value(QStringLiteral("--lab")).toLongLong(&number);
    if (!number || lab <= 0) {
        err << "tavora-lab-admin: --lab is a lab id\n";
        return 1;
    }
    const QString db = o->named.value(QStringLiteral("--db"));
    if (!open_for_command(db, err)) return 1;
    // The report files and the [mail] settings of the laboratory whose file
    // this is (they lie beside it), else those beside this tool.
    if (QFileInfo(db).isFile()) set_program_folder(QFileInfo(db).absolutePath());
    const QString to = o->named.value(QStringLiteral("--to"));
    const MailSettings settings = mail_settings();
    const ReportMail made = report_mail(lab, to, settings);
    if (!made.problem.isEmpty()) {
        err << "tavora-lab-admin: " << made.problem << "\n";
        return 1;
    }
    if (const QString failure = send_mail(settings, made.mail); !failure.isEmpty()) {
        err << "tavora-lab-admin: " << failure << "\n";
        return 1;
    }
    if (const DbError e = journal_mail(lab, to, made.mail.subject); !e.ok())
        err << "tavora-lab-admin: sent, but the journal did not take it: " << e.description << "\n";
    out << "Sent to " << to << "\n";
    return 0;
}

int doctor(const QStringList& args, QTextStream& out, QTextStream& err) {
    const auto o =
        options(args, {QStringLiteral("--name"), QStringLiteral("--email"), QStringLiteral("--db")}, 0);
    if (!o || !o->named.contains(QStringLiteral("--db"))) return usage(err);
    const bool listing = !o->named.contains(QStringLiteral("--name"));
    if (listing == o->named.contains(QStringLiteral("--email"))) return usage(err);
    const QString email = o->named.value(QStringLiteral("--email")).trimmed();
    if (!listing && !email.isEmpty())
        if (const QString problem = address_problem(email); !problem.isEmpty()) {
            err << "tavora-lab-admin: nothing was stored: " << problem << "\n";
            return 1;
        }
    if (!open_for_command(o->named.value(QStringLiteral("--db")), err)) return 1;
    if (listing) {
        auto names = doctor_names();
        for (const QString& name : names.value)
            out << name << "\t" << doctor_email(name).value << "\n";
        if (!names.ok()) err << "tavora-lab-admin: " << names.error.description << "\n";
        return names.ok() ? 0 : 1;
    }
    const Actor who = tool_actor();
    set_journal_user(who.login);
    const QString name = o->named.value(QStringLiteral("--name"));
    if (const DbError e = set_doctor_email(who, name, email); !e.ok()) {
        err << "tavora-lab-admin: " << e.description << "\n";
        return 1;
    }
    out << (email.isEmpty() ? QStringLiteral("%1 has no e-mail address now").arg(name)
                            : QStringLiteral("Reports of %1 may be e-mailed to %2").arg(name, email))
        << "\n";
    return 0;
}

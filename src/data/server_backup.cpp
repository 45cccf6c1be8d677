#include "server_backup.h"

#include "journal.h"

#include "postgres_database.h"
#include "schema_setup.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

namespace {

// Runs one of the server's tools to its end; empty, or what it said.
QString run_tool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return QStringLiteral("%1 cannot be started (is PostgreSQL's client installed?)").arg(program);
    p.waitForFinished(-1);
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return {};
    const QString said = QString::fromUtf8(p.readAllStandardError()).trimmed();
    return said.isEmpty() ? QStringLiteral("%1 failed").arg(program) : said;
}

// How many tables of its own the database at `url` holds (-1: unreachable, in `why`).
int own_tables(const QString& url, QString* why) {
    int count = -1;
    *why = with_server_connection(url, false, [&](QSqlDatabase& db) {
        count = own_table_count(db);
        return QString();
    });
    return count;
}

} // namespace

QString dump_server_database(const QString& url, const QString& file) {
    if (QString why; own_tables(url, &why) < 0) return why;
    // The journal's anchor, taken before the dump: the dump holds at least
    // its rows, so the anchor checks the dump once restored.
    const QString anchor_partial = file + QStringLiteral(".anchor.partial");
    if (QString e = with_server_connection(
            url, true, [&](QSqlDatabase& db) { return write_journal_anchor(db, anchor_partial); });
        !e.isEmpty())
        return QStringLiteral("the journal's anchor cannot be written: %1").arg(e);
    const QString partial = file + QStringLiteral(".partial");
    QFile::remove(partial);
    if (QString e =
            run_tool(QStringLiteral("pg_dump"), {QStringLiteral("-Fc"), QStringLiteral("--no-owner"),
                                                 QStringLiteral("-f"), partial, QStringLiteral("-d"), url});
        !e.isEmpty()) {
        QFile::remove(partial);
        QFile::remove(anchor_partial);
        return e;
    }
    QFile::remove(file);
    if (!QFile::rename(partial, file)) return QStringLiteral("%1 cannot be written").arg(file);
    QFile::remove(file + QStringLiteral(".anchor"));
    if (!QFile::rename(anchor_partial, file + QStringLiteral(".anchor")))
        return QStringLiteral("%1.anchor cannot be written").arg(file);
    return {};
}

QString restore_server_database(const QString& backup, const QString& url) {
    if (!QFileInfo(backup).isFile()) return QStringLiteral("%1 does not exist").arg(backup);
    QString why;
    const int tables = own_tables(url, &why);
    if (tables < 0) return why;
    if (tables > 0)
        return QStringLiteral("the server database holds tables; restore only into an empty database");
    // Only a dump pg_restore can read: nothing is touched otherwise.
    if (QString e = run_tool(QStringLiteral("pg_restore"), {QStringLiteral("--list"), backup}); !e.isEmpty())
        return QStringLiteral("%1 is not a backup of a server database (%2)").arg(backup, e);
    if (QString e = run_tool(QStringLiteral("pg_restore"),
                             {QStringLiteral("--single-transaction"), QStringLiteral("--no-owner"),
                              QStringLiteral("--no-privileges"), QStringLiteral("--exit-on-error"),
                              QStringLiteral("-d"), url, backup});
        !e.isEmpty())
        return e;
    if (QString e = grant_report_reading(url); !e.isEmpty()) return e;
    // The restored database is checked as every open checks it.
    const QString name = QStringLiteral("restored-") + QUuid::createUuid().toString(QUuid::Id128);
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        problem = open_server(db, url);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return problem.isEmpty() ? QString()
                             : QStringLiteral("the restored database is refused: %1").arg(problem);
}

#include "dialect.h"

#include "connection.h"
#include "records.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

Dialect dialect_of(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QPSQL") ? Dialect::PostgreSQL : Dialect::SQLite;
}

Dialect current_dialect() {
    if (connection_is_open()) return dialect_of(QSqlDatabase::database(kConnectionName, false));
    return on_server() ? Dialect::PostgreSQL : Dialect::SQLite;
}

bool is_server_url(const QString& text) {
    const QString t = text.trimmed();
    for (const char* start : {"postgresql://", "postgres://", "service=", "host=", "dbname="})
        if (t.startsWith(QLatin1String(start))) return true;
    return false;
}

QString configured_server_url() {
    if (const QString given = database_given(); !given.isEmpty())
        return is_server_url(given) ? given : QString();
    const QString path = program_folder() + u'/' + QLatin1String(kSettingsFileName);
    if (!QFile::exists(path)) return {};
    QSettings ini(path, QSettings::IniFormat);
    return ini.value(QStringLiteral("database/url")).toString().trimmed();
}

namespace {

// A conninfo value, quoted as libpq reads it.
QString quoted(const QString& value) {
    QString v = value;
    v.replace(u'\\', QLatin1String("\\\\")).replace(u'\'', QLatin1String("\\'"));
    return u'\'' + v + u'\'';
}

// The keyword=value form of a connection URL (libpq's URI syntax:
// postgresql://[user@][host][:port][/dbname][?keyword=value&...]); a keyword
// form is taken as it is.
QString conninfo(const QString& url) {
    const QString t = url.trimmed();
    const qsizetype scheme = t.indexOf(QLatin1String("://"));
    if (scheme < 0) return t;
    QString rest = t.mid(scheme + 3);
    QStringList parts;
    QString query;
    if (const qsizetype q = rest.indexOf(u'?'); q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    QString path;
    if (const qsizetype slash = rest.indexOf(u'/'); slash >= 0) {
        path = rest.mid(slash + 1);
        rest = rest.left(slash);
    }
    if (const qsizetype at = rest.lastIndexOf(u'@'); at >= 0) {
        const QString user_info = rest.left(at);
        rest = rest.mid(at + 1);
        const qsizetype colon = user_info.indexOf(u':');
        parts << QStringLiteral("user=") + quoted(QUrl::fromPercentEncoding(user_info.left(colon).toUtf8()));
        if (colon >= 0)
            parts << QStringLiteral("password=") +
                         quoted(QUrl::fromPercentEncoding(user_info.mid(colon + 1).toUtf8()));
    }
    if (!rest.isEmpty()) {
        QString host = rest, port;
        if (!host.startsWith(u'[') || host.contains(QLatin1String("]:"))) {
            if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0 && !host.endsWith(u']')) {
                port = host.mid(colon + 1);
                host = host.left(colon);
            }
        }
        host.remove(u'[').remove(u']');
        parts << QStringLiteral("host=") + quoted(QUrl::fromPercentEncoding(host.toUtf8()));
        if (!port.isEmpty()) parts << QStringLiteral("port=") + quoted(port);
    }
    if (!path.isEmpty())
        parts << QStringLiteral("dbname=") + quoted(QUrl::fromPercentEncoding(path.toUtf8()));
    for (const QString& pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        if (eq <= 0) continue;
        parts << QUrl::fromPercentEncoding(pair.left(eq).toUtf8()) + u'=' +
                     quoted(QUrl::fromPercentEncoding(pair.mid(eq + 1).toUtf8()));
    }
    return parts.join(u' ');
}

} // namespace

QString shown_url(const QString& url) {
    QString t = url.trimmed();
    const qsizetype scheme = t.indexOf(QLatin1String("://"));
    if (scheme >= 0) {
        const qsizetype at = t.indexOf(u'@', scheme);
        const qsizetype colon = t.indexOf(u':', scheme + 3);
        if (at > 0 && colon > 0 && colon < at) t.remove(colon, at - colon);
    }
    static const QRegularExpression password(QStringLiteral("password\\s*=\\s*('[^']*'|\\S+)"));
    t.replace(password, QStringLiteral("password=..."));
    return t;
}

QString connect_server(QSqlDatabase& db, const QString& url) {
    // Qt's driver adds the options to its connection string as they are.
    db.setDatabaseName(QString());
    db.setConnectOptions(conninfo(url) + QStringLiteral(" connect_timeout=10"));
    if (!db.open()) return db.lastError().databaseText().trimmed();
    return {};
}

QString open_server(QSqlDatabase& db, const QString& url) {
    if (QString failure = connect_server(db, url); !failure.isEmpty()) return failure;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT application_id, schema_version FROM tavora_meta")) || !q.next()) {
        q.finish();
        db.close();
        return QStringLiteral("it holds no Tavora Lab database; create one with \"tavora-lab-admin init\"");
    }
    const qint64 application = q.value(0).toLongLong();
    const int version = q.value(1).toInt();
    q.finish();
    QString problem;
    if (application != kApplicationId)
        problem = QStringLiteral("it is not a Tavora Lab database");
    else if (version > kSchemaVersion)
        problem =
            QStringLiteral("it was made by a newer version of the program (schema %1; this program knows %2)")
                .arg(version)
                .arg(kSchemaVersion);
    else if (version < kSchemaVersion)
        problem = QStringLiteral("it was made by an older version of the program; bring it up to date with "
                                 "\"tavora-lab-admin upgrade\" before using it");
    if (!problem.isEmpty()) db.close();
    return problem;
}

QString with_server_connection(const QString& url, bool laboratory,
                               const std::function<QString(QSqlDatabase&)>& work) {
    const QString name = QStringLiteral("server-") + QUuid::createUuid().toString(QUuid::Id128);
    QString outcome;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        outcome = laboratory ? open_server(db, url) : connect_server(db, url);
        if (outcome.isEmpty()) outcome = work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return outcome;
}

int own_table_count(QSqlDatabase& db) {
    QSqlQuery q(db);
    return q.exec(QStringLiteral("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname NOT IN "
                                 "('pg_catalog', 'information_schema')")) &&
                   q.next()
               ? q.value(0).toInt()
               : -1;
}

QStringList begin_write_statements(Dialect d) {
    if (d == Dialect::SQLite) return {QStringLiteral("BEGIN IMMEDIATE")};
    // Every writer takes the one transaction-scoped lock of the laboratory's
    // database first, and waits for it as a file's writer waits for the file:
    // the busy timeout ends the wait.
    return {QStringLiteral("BEGIN"), QStringLiteral("SET LOCAL lock_timeout = %1").arg(busy_timeout_ms()),
            QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kApplicationId)};
}

QString journal_field(Dialect d, const QString& key) {
    return d == Dialect::SQLite ? QStringLiteral("json_extract(old_values, '$.%1')").arg(key)
                                : QStringLiteral("(old_values::jsonb ->> '%1')").arg(key);
}

QString journal_patient_condition(Dialect d) {
    // The server's JSON text is compared with the bound number as text.
    return journal_field(d, QStringLiteral("patient_id")) +
           (d == Dialect::SQLite ? QStringLiteral(" = ?") : QStringLiteral(" = CAST(? AS text)"));
}

QString in_subquery(Dialect d, const QString& column, const QString& subquery) {
    return d == Dialect::SQLite ? QStringLiteral("%1 IN (%2)").arg(column, subquery)
                                : QStringLiteral("%1 = ANY(ARRAY(%2))").arg(column, subquery);
}

DbError let_reports_read_scratch(const QStringList& tables) {
    if (current_dialect() != Dialect::PostgreSQL) return {};
    return execute(QStringLiteral("DO $$ BEGIN IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = "
                                  "'tavora_report_reader') THEN GRANT SELECT ON %1 TO tavora_report_reader; "
                                  "END IF; END $$")
                       .arg(tables.join(QStringLiteral(", "))));
}

QString schema_resource(Dialect d) {
    return d == Dialect::SQLite ? QStringLiteral(":/tavora/schema.sql")
                                : QStringLiteral(":/tavora/schema_pg.sql");
}

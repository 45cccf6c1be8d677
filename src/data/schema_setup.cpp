#include "schema_setup.h"

#include "connection.h"
#include "postgres_database.h"
#include "schema.h"
#include "sqlite_database.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <sqlite3.h>

#include <span>

QStringList sql_statements(const QString& sql) {
    QString text = sql;
    text.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
    // A statement ends at a semicolon that completes it (not one inside a
    // trigger's body or a string): SQLite itself says when that is.
    QStringList out;
    QString current;
    for (const QString& piece : text.split(u';')) {
        current += piece + u';';
        if (sqlite3_complete(current.toUtf8().constData())) {
            if (!current.chopped(1).trimmed().isEmpty()) out << current.trimmed();
            current.clear();
        }
    }
    return out;
}

namespace {

constexpr char kReportReaderGrants[] =
    "DO $$ BEGIN "
    "  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'tavora_report_reader') THEN "
    "    BEGIN CREATE ROLE tavora_report_reader NOLOGIN; EXCEPTION WHEN insufficient_privilege OR "
    "    duplicate_object OR unique_violation THEN NULL; "
    "END; "
    "  END IF; "
    "  IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'tavora_report_reader') THEN "
    "    GRANT USAGE ON SCHEMA public TO tavora_report_reader; "
    "    GRANT SELECT ON ALL TABLES IN SCHEMA public TO tavora_report_reader; "
    "    REVOKE SELECT ON users FROM tavora_report_reader; "
    "    GRANT SELECT (login, full_name, qualification, role, disabled) ON users TO tavora_report_reader; "
    "    BEGIN GRANT tavora_report_reader TO CURRENT_USER; EXCEPTION WHEN insufficient_privilege THEN NULL; "
    "END; "
    "  END IF; "
    "END $$";

} // namespace

QString grant_report_reading(const QString& url) {
    return with_server_connection(url, false, [](QSqlDatabase& db) {
        QSqlQuery q(db);
        return q.exec(QString::fromLatin1(kReportReaderGrants)) ? QString()
                                                                : q.lastError().databaseText().trimmed();
    });
}

QString create_server_database(const QString& url) {
    // The role report queries read under: the laboratory's tables, never a
    // password hash, nothing outside them. Made once per server; a login
    // without the right to make roles goes on without it (reports then read
    // in a read-only transaction only).
    const QStringList statements = schema_statements(*server_database(url))
                                   << QString::fromLatin1(kReportReaderGrants);
    return with_server_connection(url, false, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        QString failure;
        // Of two inits at once, the second waits for the first and then
        // finds its tables.
        q.exec(QStringLiteral("BEGIN"));
        q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kApplicationId));
        if (own_table_count(db) != 0)
            failure = QStringLiteral("the database holds tables already; it was left untouched.");
        for (const QString& statement : statements) {
            if (!failure.isEmpty()) break;
            if (!q.exec(statement)) failure = q.lastError().databaseText().trimmed();
        }
        if (!q.exec(failure.isEmpty() ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")) &&
            failure.isEmpty())
            failure = q.lastError().databaseText().trimmed();
        return failure;
    });
}

QString create_database(const QString& path) {
    if (path.trimmed().isEmpty()) return QStringLiteral("no file name was given");
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return QStringLiteral("\"%1\" is a URI; give a plain file name").arg(path);
    {
        // Made exclusively: of two at once, one creates the file, the other is refused.
        // Patient data: the owner and the laboratory's group (who share the
        // folder) read and write it, nobody else reads it.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kSharedDatabaseMode))
            return QFileInfo::exists(path)
                       ? QStringLiteral("\"%1\" exists already; it was left untouched.").arg(path)
                       : QStringLiteral("\"%1\" cannot be created: %2").arg(path, file.errorString());
        file.setPermissions(kSharedDatabaseMode); // whatever the umask took away
    }

    const QString name = QStringLiteral("create-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            failure = db.lastError().text();
        } else {
            QSqlQuery q(db);
            const QStringList statements = schema_statements(*file_database(path));
            q.exec(QStringLiteral("PRAGMA journal_mode = DELETE"));
            q.exec(QStringLiteral("BEGIN IMMEDIATE"));
            for (const QString& s : statements) {
                if (s.trimmed().isEmpty()) continue;
                if (!q.exec(s)) {
                    failure = q.lastError().text();
                    break;
                }
            }
            q.exec(failure.isEmpty() ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty()) QFile::remove(path);
    return failure;
}

namespace {

// Runs `statements` on `q`'s connection, in its open transaction; an empty
// text, or the failure and its statement.
QString run(QSqlQuery& q, const QStringList& statements) {
    for (const QString& statement : statements)
        if (!q.exec(statement))
            return q.lastError().databaseText().trimmed() + QStringLiteral(" in: ") + statement;
    return {};
}

QString brought_up(int version) {
    return QStringLiteral("brought from version %1 to version %2").arg(version).arg(kSchemaVersion);
}

} // namespace

Upgrade upgrade_database(const QString& path) {
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
        return {{}, QStringLiteral("\"%1\" is not a database file").arg(path)};
    const QString name = QStringLiteral("upgrade-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    Upgrade out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(busy_timeout_option());
        QSqlQuery q(db);
        auto value = [&q](const QString& sql) { return q.exec(sql) && q.next() ? q.value(0).toInt() : -1; };
        if (!db.open()) {
            out.error = db.lastError().text();
        } else {
            const int application = value(QStringLiteral("PRAGMA application_id"));
            const int version = value(QStringLiteral("PRAGMA user_version"));
            const int tables =
                value(QStringLiteral("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND "
                                     "name IN ('registration', 'test_main')"));
            if (application != 0 && application != kApplicationId)
                out.error = QStringLiteral("it is not a Tavora Lab database");
            else if (tables != 2)
                out.error = QStringLiteral("it does not hold the laboratory's tables");
            else if (version > kSchemaVersion)
                out.error = QStringLiteral("it was made by a newer version of the program");
            else if (application != 0 && version == kSchemaVersion)
                out.done = QStringLiteral("already up to date (version %1)").arg(version);
            else if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
                out.error = q.lastError().text();
            else {
                out.error = run(q, upgrade_statements(*file_database(path), version));
                q.exec(out.error.isEmpty() ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
                if (out.error.isEmpty()) out.done = brought_up(version);
            }
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return out;
}

Upgrade upgrade_server_database(const QString& url) {
    Upgrade out;
    const QString failure = with_server_connection(url, false, [&out](QSqlDatabase& db) -> QString {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT application_id, schema_version FROM tavora_meta")) || !q.next())
            return QStringLiteral("it holds no Tavora Lab database");
        const qint64 application = q.value(0).toLongLong();
        const int version = q.value(1).toInt();
        q.finish();
        if (application != kApplicationId) return QStringLiteral("it is not a Tavora Lab database");
        if (version > kSchemaVersion) return QStringLiteral("it was made by a newer version of the program");
        if (version == kSchemaVersion) {
            out.done = QStringLiteral("already up to date (version %1)").arg(version);
            return {};
        }
        for (const QString& s : Database::of(db).begin_write())
            if (!q.exec(s)) return q.lastError().databaseText().trimmed();
        QString error = run(q, upgrade_statements(Database::of(db), version));
        if (error.isEmpty() && !q.exec(QString::fromLatin1(kReportReaderGrants)))
            error = q.lastError().databaseText().trimmed();
        q.exec(error.isEmpty() ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
        if (error.isEmpty()) out.done = brought_up(version);
        return error;
    });
    if (!failure.isEmpty()) out = {{}, failure};
    return out;
}

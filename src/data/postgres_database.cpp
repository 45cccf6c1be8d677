#include "postgres_database.h"

#include "backup.h"
#include "connection.h"
#include "journal.h"
#include "records.h"
#include "schema.h"
#include "schema_setup.h"
#include "server_backup.h"
#include "typed_text.h"

#include <QDate>
#include <QDir>

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

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

namespace {

class PostgresDatabase final : public Database {
public:
    explicit PostgresDatabase(QString url) : url_(std::move(url)) {}

    QString location() const override { return shown_url(url_); }
    QString driver() const override { return QStringLiteral("QPSQL"); }
    bool exists() const override { return true; }

    QString open(QSqlDatabase& db, bool, int*) const override { return open_server(db, url_); }
    QString cannot_open(const QString& reason) const override {
        return cannot_reach_message(location(), reason);
    }
    DbError open_failed(int, const QString& reason) const override {
        return {DbError::Kind::Unavailable, 0, cannot_open(reason)};
    }

    QString create() const override { return create_server_database(url_); }
    Upgrade upgrade() const override { return upgrade_server_database(url_); }

    BackupMade back_up(const QString& folder) const override {
        // The server's own dump, into the day's file (".dump" in place of ".mdb").
        QString file = QDir(folder).filePath(backup_file_name(QDate::currentDate()));
        file.replace(QRegularExpression(QStringLiteral("\\.mdb$")), QStringLiteral(".dump"));
        QDir().mkpath(folder);
        if (const QString e = dump_server_database(url_, file); !e.isEmpty())
            return {{}, QStringLiteral("no backup was made of %1: %2").arg(location(), e)};
        return {file, {}};
    }

    Restored restore(const QString& backup, bool) const override {
        // A server's database is restored into an empty one: nobody has it open.
        return {restore_server_database(backup, url_), {}, {}};
    }

    Checked check() const override {
        Checked c;
        c.problems = with_server_connection(url_, true, [](QSqlDatabase& db) { return verify_journal(db); });
        if (!c.problems.isEmpty()) c.verdict = QStringLiteral("is unusable");
        return c;
    }

    DbError classify(const QSqlError& error) const override { return DbError::from(error, true); }

    QStringList statements(const QString& sql) const override {
        QString text = sql;
        text.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
        // A statement ends with a semicolon at the end of its line (a
        // function's or a DO block's body keeps its own).
        QStringList out;
        for (const QString& s : text.split(QRegularExpression(QStringLiteral(";\\s*\n"))))
            if (!s.trimmed().isEmpty()) out << s.trimmed();
        return out;
    }

    QStringList begin_write() const override {
        // Every writer takes the one transaction-scoped lock of the
        // laboratory's database first, and waits for it as a file's writer
        // waits for the file: the busy timeout ends the wait.
        return {QStringLiteral("BEGIN"), QStringLiteral("SET LOCAL lock_timeout = %1").arg(busy_timeout_ms()),
                QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kApplicationId)};
    }

    QString journal_field(const QString& key) const override {
        return QStringLiteral("(old_values::jsonb ->> '%1')").arg(key);
    }
    QString journal_patient_condition() const override {
        // The JSON text is compared with the bound number as text.
        return journal_field(QStringLiteral("patient_id")) + QStringLiteral(" = CAST(? AS text)");
    }

    QString in_subquery(const QString& column, const QString& subquery) const override {
        // The server plans IN over a big table as a join that reads the whole
        // table; the array of the subquery's few values is looked up row by
        // row through the index.
        return QStringLiteral("%1 = ANY(ARRAY(%2))").arg(column, subquery);
    }

    SqlPart patients_holding(const QString& text, int limit) const override {
        // The trigram index (on the lower-case texts) answers LIKE.
        const QString pattern = u'%' + like_literal(text.toLower()) + u'%';
        return {QStringLiteral("SELECT patient_id FROM registration WHERE lower(patient_name::text) "
                               "LIKE ? OR lower(phone::text) LIKE ? OR lower(mobile::text) LIKE ? "
                               "ORDER BY patient_id DESC LIMIT %1")
                    .arg(limit),
                {pattern, pattern, pattern}};
    }

    SqlPart any_column_holds(const QStringList& columns, const QString& text) const override {
        // strpos in the lower-case texts: a good quarter faster than a
        // case-insensitive LIKE.
        SqlPart part;
        QStringList any;
        for (const QString& column : columns) {
            any << QStringLiteral("strpos(lower(%1::text), lower(?)) > 0").arg(column);
            part.binds << text;
        }
        part.sql = any.join(QLatin1String(" OR "));
        return part;
    }

    DbError let_reports_read_scratch(const QStringList& tables) const override {
        // Reports read under a role of their own.
        return execute(
            QStringLiteral("DO $$ BEGIN IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = "
                           "'tavora_report_reader') THEN GRANT SELECT ON %1 TO tavora_report_reader; "
                           "END IF; END $$")
                .arg(tables.join(QStringLiteral(", "))));
    }

    bool begin_reading(QSqlDatabase& db, bool shared, int max_milliseconds) const override {
        // A read-only transaction (a savepoint of the build's own, on the
        // shared connection) whose statements are cut off after the time
        // allowed: the server itself refuses every write.
        QSqlQuery q(db);
        const bool nested = shared && q.exec(QStringLiteral("SAVEPOINT report_reading"));
        if (nested)
            q.exec(QStringLiteral("SET LOCAL transaction_read_only = on"));
        else
            q.exec(QStringLiteral("BEGIN READ ONLY"));
        q.exec(QStringLiteral("SET LOCAL statement_timeout = %1").arg(max_milliseconds));
        // Under the role that reads the laboratory's tables and nothing else,
        // where the server has it.
        if (q.exec(QStringLiteral("SELECT pg_has_role('tavora_report_reader', 'MEMBER')")) && q.next() &&
            q.value(0).toBool())
            q.exec(QStringLiteral("SET LOCAL ROLE tavora_report_reader"));
        q.finish();
        return nested;
    }

    void end_reading(QSqlDatabase& db, bool, bool nested) const override {
        if (!db.isOpen()) return;
        QSqlQuery q(db);
        if (nested) {
            q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT report_reading"));
            q.exec(QStringLiteral("RELEASE SAVEPOINT report_reading"));
        } else {
            q.exec(QStringLiteral("ROLLBACK"));
        }
    }

    bool has_column(const QSqlDatabase& db, const QString& table, const QString& column) const override {
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("SELECT 1 FROM information_schema.columns WHERE table_schema = current_schema() "
                           "AND table_name = lower(?) AND column_name = lower(?)"));
        q.addBindValue(table);
        q.addBindValue(column);
        return q.exec() && q.next();
    }

    QStringList prelude() const override {
        // Text compares without regard to case (citext); the search is a
        // trigram index; the few functions of the file's SQL that the
        // laboratory's report files use and a server lacks.
        return {
            QStringLiteral("CREATE EXTENSION IF NOT EXISTS citext"),
            QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
            QStringLiteral("CREATE FUNCTION ifnull(anyelement, anyelement) RETURNS anyelement LANGUAGE sql "
                           "IMMUTABLE AS 'SELECT coalesce($1, $2)'"),
            QStringLiteral("CREATE FUNCTION group_concat_step(text, text, text) RETURNS text LANGUAGE sql "
                           "IMMUTABLE AS 'SELECT CASE WHEN $2 IS NULL THEN $1 WHEN $1 IS NULL THEN $2 ELSE "
                           "$1 || $3 || $2 END'"),
            QStringLiteral("CREATE AGGREGATE group_concat(text, text) (SFUNC = group_concat_step, STYPE = "
                           "text)")};
    }

    QString column_type(ColumnKind kind) const override {
        switch (kind) {
        case ColumnKind::Id:
            return QStringLiteral("bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
        case ColumnKind::Key:
            return QStringLiteral("bigint PRIMARY KEY");
        case ColumnKind::Number:
            return QStringLiteral("bigint NOT NULL");
        case ColumnKind::Words:
            return QStringLiteral("citext NOT NULL");
        // ISO dates compare as the texts they are.
        case ColumnKind::Date:
            return QStringLiteral("text COLLATE \"C\" NOT NULL");
        case ColumnKind::Text:
            return QStringLiteral("text NOT NULL");
        case ColumnKind::Bytes:
            return QStringLiteral("bytea NOT NULL");
        }
        return {};
    }

    QString create_table(const QString& table, const QStringList& columns, bool keyed) const override {
        // A table read in the order stored carries the rowid a file has
        // implicitly, as its last column (SELECT * reads the columns where
        // the file has them).
        QStringList all = columns;
        if (!keyed) all << QStringLiteral("rowid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
        return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n    %2\n)")
            .arg(table, all.join(QStringLiteral(",\n    ")));
    }

    QString add_column(const QString& table, const QString& column) const override {
        return QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS %2").arg(table, column);
    }

    QString index_columns(const IndexDef& index) const override {
        return QLatin1String(index.server_columns ? index.server_columns : index.columns);
    }

    QStringList search_statements(const TextSearch& s) const override {
        // pg_trgm's index on the lower-case texts answers LIKE. Whether a
        // typed text is rare (read through the index) or common (read the
        // newest patients until enough are found) is the planner's guess
        // from a sample of the texts: a finer sample makes that guess close.
        QStringList columns;
        for (const QString& c : s.columns)
            columns << QStringLiteral("(lower(%1::text)) gin_trgm_ops").arg(c);
        QStringList out = {
            QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 USING gin (%3)")
                .arg(QLatin1String(s.name), QLatin1String(s.table), columns.join(QStringLiteral(", ")))};
        for (qsizetype i = 1; i <= s.columns.size(); ++i)
            out << QStringLiteral("ALTER INDEX %1 ALTER COLUMN %2 SET STATISTICS 1000")
                       .arg(QLatin1String(s.name))
                       .arg(i);
        return out;
    }

    QStringList rebuild_search(const TextSearch&) const override { return {}; }
    QString own_upgrade(const SchemaStep& step) const override { return QString::fromLatin1(step.server); }
    QString now_text() const override {
        return QStringLiteral("to_char(localtimestamp(0), 'YYYY-MM-DD HH24:MI:SS')");
    }

    QStringList stamp(int version, bool new_database) const override {
        // Whose database it is and which version of the schema it holds.
        if (!new_database) return {QStringLiteral("UPDATE tavora_meta SET schema_version = %1").arg(version)};
        return {QStringLiteral("CREATE TABLE tavora_meta (application_id bigint NOT NULL, schema_version "
                               "bigint NOT NULL)"),
                QStringLiteral("INSERT INTO tavora_meta VALUES (%1, %2)").arg(kApplicationId).arg(version)};
    }

private:
    QString url_;
};

} // namespace

std::unique_ptr<Database> server_database(const QString& url) {
    return std::make_unique<PostgresDatabase>(url);
}

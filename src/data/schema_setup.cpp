#include "schema_setup.h"

#include "connection.h"
#include "postgres_database.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <sqlite3.h>

#include <span>

QString schema_sql() {
    QFile f(QStringLiteral(":/tavora/schema.sql"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

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
    QFile f(QStringLiteral(":/tavora/schema_pg.sql"));
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("the schema is missing from the program");
    QString sql = QString::fromUtf8(f.readAll());
    // The role report queries read under: the laboratory's tables, never a
    // password hash, nothing outside them. Made once per server; a login
    // without the right to make roles goes on without it (reports then read
    // in a read-only transaction only).
    sql += QStringLiteral(";\n") + QString::fromLatin1(kReportReaderGrants) + QStringLiteral(";\n");
    return with_server_connection(url, false, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        QString failure;
        // Of two inits at once, the second waits for the first and then
        // finds its tables.
        q.exec(QStringLiteral("BEGIN"));
        q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kApplicationId));
        if (own_table_count(db) != 0)
            failure = QStringLiteral("the database holds tables already; it was left untouched.");
        for (const QString& statement : Database::of(db).statements(sql)) {
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
    const QString sql = schema_sql();
    if (sql.isEmpty()) return QStringLiteral("the schema is missing from the program");
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
            const QStringList statements = sql_statements(sql);
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

// One step of the schema's history: what brings a file of version - 1 to version.
struct UpgradeStep {
    int version;
    const char* sql;
};

constexpr UpgradeStep kUpgradeSteps[] = {
    {1, "CREATE TABLE IF NOT EXISTS change_log ("
        " id INTEGER PRIMARY KEY, changed_at TEXT NOT NULL,"
        " host TEXT COLLATE NOCASE NOT NULL DEFAULT '', user_name TEXT COLLATE NOCASE NOT NULL DEFAULT '',"
        " action TEXT COLLATE NOCASE NOT NULL, table_name TEXT COLLATE NOCASE NOT NULL,"
        " row_key INTEGER NOT NULL, old_values TEXT NOT NULL) STRICT;"
        "CREATE INDEX IF NOT EXISTS change_log_row ON change_log (table_name, row_key)"},
    {2, "CREATE INDEX IF NOT EXISTS registration_reg_date ON registration (reg_date);"
        "CREATE VIRTUAL TABLE IF NOT EXISTS registration_search USING fts5(patient_name, phone, mobile,"
        " content = 'registration', content_rowid = 'patient_id', tokenize = 'trigram');"
        "CREATE TRIGGER IF NOT EXISTS registration_search_insert AFTER INSERT ON registration BEGIN"
        " INSERT INTO registration_search (rowid, patient_name, phone, mobile)"
        " VALUES (new.patient_id, new.patient_name, new.phone, new.mobile); END;"
        "CREATE TRIGGER IF NOT EXISTS registration_search_delete AFTER DELETE ON registration BEGIN"
        " INSERT INTO registration_search (registration_search, rowid, patient_name, phone, mobile)"
        " VALUES ('delete', old.patient_id, old.patient_name, old.phone, old.mobile); END;"
        "CREATE TRIGGER IF NOT EXISTS registration_search_update AFTER UPDATE ON registration BEGIN"
        " INSERT INTO registration_search (registration_search, rowid, patient_name, phone, mobile)"
        " VALUES ('delete', old.patient_id, old.patient_name, old.phone, old.mobile);"
        " INSERT INTO registration_search (rowid, patient_name, phone, mobile)"
        " VALUES (new.patient_id, new.patient_name, new.phone, new.mobile); END;"
        "INSERT INTO registration_search (registration_search) VALUES ('rebuild')"},
    {3, "CREATE TABLE IF NOT EXISTS workstations ("
        " id INTEGER PRIMARY KEY, host TEXT COLLATE NOCASE NOT NULL DEFAULT '', pid INTEGER NOT NULL,"
        " user_name TEXT COLLATE NOCASE NOT NULL DEFAULT '', started_at TEXT NOT NULL,"
        " seen_at INTEGER NOT NULL) STRICT;"
        "ALTER TABLE change_log ADD COLUMN row_hash TEXT NOT NULL DEFAULT ''"},
    {4,
     "CREATE TABLE IF NOT EXISTS users ( login TEXT COLLATE NOCASE NOT NULL PRIMARY KEY, full_name TEXT NOT "
     "NULL DEFAULT '', qualification TEXT NOT NULL DEFAULT '', role TEXT NOT NULL CHECK (role IN "
     "('reception', 'technician', 'senior-technician', 'pathologist', 'administrator')), password_hash TEXT "
     "NOT NULL, "
     "legacy_password INTEGER NOT NULL DEFAULT 0, disabled INTEGER NOT NULL DEFAULT 0, must_change INTEGER "
     "NOT NULL DEFAULT 0, created_at TEXT NOT NULL, last_login_at TEXT NOT NULL DEFAULT '' ) STRICT;"
     "CREATE TABLE IF NOT EXISTS report_signoff ( lab_id INTEGER PRIMARY KEY, entered_by TEXT COLLATE NOCASE "
     "NOT NULL DEFAULT '', entered_at TEXT NOT NULL DEFAULT '', verified_by TEXT COLLATE NOCASE NOT NULL "
     "DEFAULT '', verified_at TEXT NOT NULL DEFAULT '' ) STRICT;"
     "CREATE TABLE IF NOT EXISTS settings ( name TEXT COLLATE NOCASE NOT NULL PRIMARY KEY, value TEXT NOT "
     "NULL DEFAULT '' ) STRICT;"
     "INSERT OR IGNORE INTO users (login, role, password_hash, legacy_password, created_at) VALUES ('orbax', "
     "'senior-technician', "
     "'$argon2id$v=19$m=65536,t=2,p=1$0BTeNbR/uQfipB21M00zZw$5riMTF70hOcXHX1RjjzOY7+ZlDYLG/Vp2xj8vN0UCLg', "
     "1, datetime('now')), ('tamor', 'technician', "
     "'$argon2id$v=19$m=65536,t=2,p=1$9EbuV9eTvJYT12T/1bR+yw$Y5UQ6nNvzqPBDoMtttLFCB+1Ej48W8K211xqrb8gP6s', "
     "1, datetime('now')), ('quenta', 'technician', "
     "'$argon2id$v=19$m=65536,t=2,p=1$9EbuV9eTvJYT12T/1bR+yw$Y5UQ6nNvzqPBDoMtttLFCB+1Ej48W8K211xqrb8gP6s', "
     "1, datetime('now')), ('vidrel', 'senior-technician', "
     "'$argon2id$v=19$m=65536,t=2,p=1$0BTeNbR/uQfipB21M00zZw$5riMTF70hOcXHX1RjjzOY7+ZlDYLG/Vp2xj8vN0UCLg', "
     "1, datetime('now'))"},
    {5, "CREATE TABLE IF NOT EXISTS critical_calls ( lab_id INTEGER PRIMARY KEY, findings TEXT NOT NULL,"
        " raised_by TEXT COLLATE NOCASE NOT NULL DEFAULT '', raised_at TEXT NOT NULL,"
        " informed_by TEXT NOT NULL DEFAULT '', informed_whom TEXT NOT NULL DEFAULT '',"
        " called_at TEXT NOT NULL DEFAULT '', recorded_by TEXT COLLATE NOCASE NOT NULL DEFAULT '' ) STRICT"},
    {6,
     "CREATE TABLE IF NOT EXISTS analyzer_messages ( id INTEGER PRIMARY KEY, analyzer TEXT COLLATE NOCASE"
     " NOT NULL, protocol TEXT COLLATE NOCASE NOT NULL, received_at TEXT NOT NULL, raw BLOB NOT NULL,"
     " problem TEXT NOT NULL DEFAULT '' ) STRICT;"
     "CREATE TABLE IF NOT EXISTS pending_results ( id INTEGER PRIMARY KEY, message_id INTEGER NOT NULL,"
     " lab_id TEXT COLLATE NOCASE NOT NULL, code TEXT COLLATE NOCASE NOT NULL, value TEXT NOT NULL DEFAULT "
     "'',"
     " units TEXT NOT NULL DEFAULT '', flag TEXT NOT NULL DEFAULT '', taken_by TEXT COLLATE NOCASE NOT NULL"
     " DEFAULT '', taken_at TEXT NOT NULL DEFAULT '' ) STRICT;"
     "CREATE INDEX IF NOT EXISTS pending_results_waiting ON pending_results (lab_id) WHERE taken_at = ''"},
    {7, "CREATE TABLE IF NOT EXISTS login_failures ( login TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,"
        " in_a_row INTEGER NOT NULL DEFAULT 0, wait_until INTEGER NOT NULL DEFAULT 0 ) STRICT;"
        "CREATE TABLE IF NOT EXISTS id_reservations ( kind TEXT COLLATE NOCASE NOT NULL CHECK (kind IN"
        " ('lab', 'patient')), id INTEGER NOT NULL, workstation INTEGER NOT NULL, PRIMARY KEY (kind, id) )"
        " STRICT;"
        // The chain began at the first row with a hash (after the rows of an
        // older version), or with the next row to be written.
        "INSERT OR IGNORE INTO settings (name, value) SELECT 'journal-chain-from', CAST(coalesce("
        " (SELECT min(id) FROM change_log WHERE row_hash <> ''), (SELECT max(id) + 1 FROM change_log), 1)"
        " AS TEXT)"},
    {8, "ALTER TABLE analyzer_messages ADD COLUMN message_key TEXT NOT NULL DEFAULT '';"
        "CREATE INDEX IF NOT EXISTS analyzer_messages_key ON analyzer_messages (message_key)"
        " WHERE message_key <> ''"},
    {9, "ALTER TABLE pending_results ADD COLUMN test_id TEXT NOT NULL DEFAULT '';"
        "ALTER TABLE pending_results ADD COLUMN status TEXT NOT NULL DEFAULT '';"
        "CREATE TABLE IF NOT EXISTS analyzer_qc ( id INTEGER PRIMARY KEY, message_id INTEGER NOT NULL,"
        " sample_id TEXT NOT NULL, code TEXT COLLATE NOCASE NOT NULL, value TEXT NOT NULL DEFAULT '',"
        " units TEXT NOT NULL DEFAULT '', flag TEXT NOT NULL DEFAULT '', test_id TEXT NOT NULL DEFAULT '',"
        " status TEXT NOT NULL DEFAULT '' ) STRICT"},
    // The search index keyed by the patient's number negated (newest first
    // when read forwards), built again from the registrations.
    {10, "DROP TRIGGER IF EXISTS registration_search_insert;"
         "DROP TRIGGER IF EXISTS registration_search_delete;"
         "DROP TRIGGER IF EXISTS registration_search_update;"
         "DROP TABLE IF EXISTS registration_search;"
         "CREATE VIRTUAL TABLE registration_search USING fts5(patient_name, phone, mobile, content = '',"
         " tokenize = 'trigram');"
         "CREATE TRIGGER registration_search_insert AFTER INSERT ON registration BEGIN"
         " INSERT INTO registration_search (rowid, patient_name, phone, mobile)"
         " VALUES (-new.patient_id, new.patient_name, new.phone, new.mobile); END;"
         "CREATE TRIGGER registration_search_delete AFTER DELETE ON registration BEGIN"
         " INSERT INTO registration_search (registration_search, rowid, patient_name, phone, mobile)"
         " VALUES ('delete', -old.patient_id, old.patient_name, old.phone, old.mobile); END;"
         "CREATE TRIGGER registration_search_update AFTER UPDATE ON registration BEGIN"
         " INSERT INTO registration_search (registration_search, rowid, patient_name, phone, mobile)"
         " VALUES ('delete', -old.patient_id, old.patient_name, old.phone, old.mobile);"
         " INSERT INTO registration_search (rowid, patient_name, phone, mobile)"
         " VALUES (-new.patient_id, new.patient_name, new.phone, new.mobile); END;"
         "INSERT INTO registration_search (rowid, patient_name, phone, mobile)"
         " SELECT -patient_id, patient_name, phone, mobile FROM registration"},
};

// The same history on a server, from the first version a server held (5).
constexpr UpgradeStep kServerUpgradeSteps[] = {
    {6,
     "CREATE TABLE IF NOT EXISTS analyzer_messages ( id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
     " analyzer citext NOT NULL, protocol citext NOT NULL, received_at text NOT NULL, raw bytea NOT NULL,"
     " problem text NOT NULL DEFAULT '' );"
     "CREATE TABLE IF NOT EXISTS pending_results ( id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
     " message_id bigint NOT NULL, lab_id citext NOT NULL, code citext NOT NULL, value text NOT NULL"
     " DEFAULT '', units text NOT NULL DEFAULT '', flag text NOT NULL DEFAULT '', taken_by citext NOT NULL"
     " DEFAULT '', taken_at text NOT NULL DEFAULT '' );"
     "CREATE INDEX IF NOT EXISTS pending_results_waiting ON pending_results (lab_id) WHERE taken_at = '';"
     // Dates compare as the plain ISO texts they are: a case-insensitive
     // comparison costs every sort and range of dates for nothing.
     "ALTER TABLE registration ALTER COLUMN reg_date TYPE text COLLATE \"C\";"
     "ALTER TABLE test_main ALTER COLUMN t_date TYPE text COLLATE \"C\";"
     // A finer sample of the searched texts: the planner's guess of how many
     // patients a typed text finds chooses between the index and the newest first.
     "ALTER INDEX registration_search ALTER COLUMN 1 SET STATISTICS 1000;"
     "ALTER INDEX registration_search ALTER COLUMN 2 SET STATISTICS 1000;"
     "ALTER INDEX registration_search ALTER COLUMN 3 SET STATISTICS 1000;"
     "ANALYZE registration"},
    {7, "CREATE TABLE IF NOT EXISTS login_failures ( login citext NOT NULL PRIMARY KEY,"
        " in_a_row bigint NOT NULL DEFAULT 0, wait_until bigint NOT NULL DEFAULT 0 );"
        "CREATE TABLE IF NOT EXISTS id_reservations ( kind citext NOT NULL CHECK (kind IN ('lab',"
        " 'patient')), id bigint NOT NULL, workstation bigint NOT NULL, PRIMARY KEY (kind, id) );"
        "INSERT INTO settings (name, value) SELECT 'journal-chain-from', CAST(coalesce("
        " (SELECT min(id) FROM change_log WHERE row_hash <> ''), (SELECT max(id) + 1 FROM change_log), 1)"
        " AS text) ON CONFLICT (name) DO NOTHING"},
    {8, "ALTER TABLE analyzer_messages ADD COLUMN IF NOT EXISTS message_key text NOT NULL DEFAULT '';"
        "CREATE INDEX IF NOT EXISTS analyzer_messages_key ON analyzer_messages (message_key)"
        " WHERE message_key <> ''"},
    {9, "ALTER TABLE pending_results ADD COLUMN IF NOT EXISTS test_id text NOT NULL DEFAULT '';"
        "ALTER TABLE pending_results ADD COLUMN IF NOT EXISTS status text NOT NULL DEFAULT '';"
        "CREATE TABLE IF NOT EXISTS analyzer_qc ( id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
        " message_id bigint NOT NULL, sample_id text NOT NULL, code citext NOT NULL, value text NOT NULL"
        " DEFAULT '', units text NOT NULL DEFAULT '', flag text NOT NULL DEFAULT '', test_id text NOT NULL"
        " DEFAULT '', status text NOT NULL DEFAULT '' )"},
    // The file's search index changed; a server's (pg_trgm) did not.
    {10, "SELECT 1"},
};
static_assert(std::end(kServerUpgradeSteps)[-1].version == kSchemaVersion,
              "the server's history ends here too");

static_assert(std::size(kUpgradeSteps) == kSchemaVersion, "every schema version has its upgrade step");

// Runs every step after `version` on `q`'s connection, in its open
// transaction; an empty text, or the failure and its statement.
QString run_steps_after(QSqlQuery& q, std::span<const UpgradeStep> steps, int version) {
    for (const UpgradeStep& step : steps) {
        if (step.version <= version) continue;
        for (const QString& statement : sql_statements(QString::fromLatin1(step.sql)))
            if (!q.exec(statement))
                return q.lastError().databaseText().trimmed() + QStringLiteral(" in: ") + statement;
    }
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
            else if (version > int(std::size(kUpgradeSteps)))
                out.error = QStringLiteral("it was made by a newer version of the program");
            else if (application != 0 && version == int(std::size(kUpgradeSteps)))
                out.done = QStringLiteral("already up to date (version %1)").arg(version);
            else if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
                out.error = q.lastError().text();
            else {
                out.error = run_steps_after(q, kUpgradeSteps, version);
                if (out.error.isEmpty() &&
                    (!q.exec(QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId)) ||
                     !q.exec(QStringLiteral("PRAGMA user_version = %1").arg(std::size(kUpgradeSteps)))))
                    out.error = q.lastError().text();
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
        QString error = run_steps_after(q, kServerUpgradeSteps, version);
        if (error.isEmpty() &&
            !q.exec(QStringLiteral("UPDATE tavora_meta SET schema_version = %1").arg(kSchemaVersion)))
            error = q.lastError().databaseText().trimmed();
        if (error.isEmpty() && !q.exec(QString::fromLatin1(kReportReaderGrants)))
            error = q.lastError().databaseText().trimmed();
        q.exec(error.isEmpty() ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
        if (error.isEmpty()) out.done = brought_up(version);
        return error;
    });
    if (!failure.isEmpty()) out = {{}, failure};
    return out;
}

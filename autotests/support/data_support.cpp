#include "data_support.h"

#include "connection.h"
#include "postgres_database.h"
#include "records.h"
#include "schema_setup.h"
#include "workstations.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

bool testing_on_server() {
    return !qEnvironmentVariableIsEmpty("TAVORA_TEST_SERVER");
}

namespace {

// Runs statements on the server's maintenance database (creating and dropping
// the test databases).
void on_maintenance_db(const QStringList& statements) {
    const QString failure = with_server_connection(
        qEnvironmentVariable("TAVORA_TEST_SERVER") + QStringLiteral(" dbname=postgres"), false,
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            for (const QString& s : statements)
                if (!q.exec(s)) return s + QStringLiteral(": ") + q.lastError().text();
            return QString();
        });
    if (!failure.isEmpty()) qFatal("on the test server: %s", qPrintable(failure));
}

} // namespace

QString one_query_report(const QString& folder, const QString& sql) {
    const QString file = QDir(folder).filePath(QStringLiteral("evil.rpt"));
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(file));
    f.write(QStringLiteral("<report title=\"x\"><query name=\"q\"><![CDATA[%1]]></query>"
                           "<body><![CDATA[{{#q}}x{{/q}}]]></body></report>")
                .arg(sql)
                .toUtf8());
    return file;
}

QString journal_value(const char* key) {
    return Database::current().journal_field(QLatin1String(key));
}

DbError take_write_lock_at_once(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (db.driverName() == QLatin1String("QSQLITE")) // its busy timeout is 0
        return q.exec(QStringLiteral("BEGIN EXCLUSIVE")) ? DbError{} : DbError::from(q.lastError());
    for (const QString& s : {QStringLiteral("BEGIN"), QStringLiteral("SET LOCAL lock_timeout = 1"),
                             QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kApplicationId)}) {
        if (!q.exec(s)) {
            const DbError e = DbError::from(q.lastError());
            q.exec(QStringLiteral("ROLLBACK"));
            return e;
        }
    }
    return {};
}

namespace {

// One database made from the real schema per test process; each test's own
// database is made from it as a template (a copy of its files on the
// server) instead of running the whole schema again for every test.
QString g_server_template;

QString server_template() {
    if (!g_server_template.isEmpty()) return g_server_template;
    const QString name = QStringLiteral("template_") + QUuid::createUuid().toString(QUuid::Id128);
    on_maintenance_db({QStringLiteral("CREATE DATABASE %1").arg(name)});
    const QString failure = create_server_database(qEnvironmentVariable("TAVORA_TEST_SERVER") +
                                                   QStringLiteral(" dbname=") + name);
    if (!failure.isEmpty()) qFatal("cannot create the template database: %s", qPrintable(failure));
    g_server_template = name;
    qAddPostRoutine([] {
        on_maintenance_db({QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(g_server_template)});
    });
    return name;
}

} // namespace

QString empty_server_database() {
    const QString name = QStringLiteral("e_") + QUuid::createUuid().toString(QUuid::Id128);
    on_maintenance_db({QStringLiteral("CREATE DATABASE %1").arg(name)});
    return qEnvironmentVariable("TAVORA_TEST_SERVER") + QStringLiteral(" dbname=") + name;
}

ProgramFolder::ProgramFolder(bool with_database) {
    keep_workstation_registry();
    close_connection();
    if (with_database && testing_on_server()) {
        server_db_ = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128);
        server_url_ = qEnvironmentVariable("TAVORA_TEST_SERVER") + QStringLiteral(" dbname=") + server_db_;
        on_maintenance_db(
            {QStringLiteral("CREATE DATABASE %1 TEMPLATE %2").arg(server_db_, server_template())});
        QFile ini(dir_.filePath(QString::fromLatin1(kSettingsFileName)));
        if (!ini.open(QIODevice::WriteOnly)) qFatal("cannot write tavora-lab.ini");
        ini.write(QStringLiteral("[database]\nurl=\"%1\"\n").arg(server_url_).toUtf8());
    } else if (with_database) {
        const QString failure = create_database(database_path());
        if (!failure.isEmpty()) qFatal("cannot create the test database: %s", qPrintable(failure));
    }
    set_program_folder(dir_.path());
}

ProgramFolder::~ProgramFolder() {
    close_connection();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kConnectionName));
    for (const QString& name : extra_connections_) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    if (!server_db_.isEmpty())
        on_maintenance_db({QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(server_db_)});
    // Another folder may have taken over already (a test swapping folders).
    if (program_folder() == dir_.path()) set_program_folder(QString());
}

QString ProgramFolder::database_path() const {
    return dir_.path() + QStringLiteral("/tavora lab.mdb");
}

void ProgramFolder::server_stopped(bool stopped) {
    if (!stopped)
        return on_maintenance_db(
            {QStringLiteral("ALTER DATABASE %1 ALLOW_CONNECTIONS true").arg(server_db_)});
    on_maintenance_db(
        {QStringLiteral("ALTER DATABASE %1 ALLOW_CONNECTIONS false").arg(server_db_),
         QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '%1'")
             .arg(server_db_)});
}

QSqlDatabase ProgramFolder::other_workstation() {
    const QString name = QStringLiteral("other-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    extra_connections_ << name;
    if (!server_url_.isEmpty()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        if (!open_server(db, server_url_).isEmpty()) qFatal("cannot open a second connection");
        return db;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(database_path());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!db.open()) qFatal("cannot open a second connection");
    return db;
}

Run run_program(const QString& program, const QStringList& args, const QByteArray& input) {
    QProcess p;
    p.start(program, args);
    if (!input.isNull()) p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QString pdf_to_text(const QString& pdf, int page, bool layout) {
    QStringList args;
    if (layout) args << QStringLiteral("-layout");
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
             << QString::number(page);
    return run_program(QStringLiteral("pdftotext"), args << pdf << QStringLiteral("-")).out;
}

int number_of(const QString& sql, const QVariantList& binds) {
    return select_first(sql, binds).value->value(0).toInt();
}

#include "connection.h"

#include "database.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include <functional>

namespace {

QString& folder_override() {
    static QString folder;
    return folder;
}

bool& damaged_flag() {
    static bool damaged = false;
    return damaged;
}

QString& last_open_failure() {
    static QString text;
    return text;
}

// SQLite's result code of the last failed open of the file (0: none).
int& last_open_code() {
    static int code = 0;
    return code;
}

std::function<void()>& on_opened() {
    static std::function<void()> f;
    return f;
}

} // namespace

QString program_folder() {
    if (!folder_override().isEmpty()) return folder_override();
    return QCoreApplication::applicationDirPath();
}

void set_program_folder(const QString& folder) {
    damaged_flag() = false; // another folder, another file
    QString f = folder;
    while (f.size() > 1 && (f.endsWith(u'/') || f.endsWith(u'\\')))
        f.chop(1);
    folder_override() = f;
}

namespace {

QString& given_database() {
    static QString database;
    return database;
}

} // namespace

void use_database(const QString& file_or_url) {
    given_database() = file_or_url;
}

QString database_given() {
    return given_database();
}

bool connection_is_open() {
    return QSqlDatabase::contains(kConnectionName) && QSqlDatabase::database(kConnectionName, false).isOpen();
}

namespace {

// What is wrong with the open file, judged from its header alone (no scan of
// the file): an empty text when it is the laboratory's database.
QString header_problem(QSqlDatabase& db, int* code) {
    QSqlQuery q(db);
    auto pragma = [&q](const char* name) {
        return q.exec(QStringLiteral("PRAGMA %1").arg(QLatin1String(name))) && q.next() ? q.value(0)
                                                                                        : QVariant();
    };
    const QVariant application = pragma("application_id");
    const QVariant version = pragma("user_version");
    const QString journal = pragma("journal_mode").toString().toLower();
    q.finish();
    if (!application.isValid() || !version.isValid()) {
        if (code) *code = q.lastError().nativeErrorCode().toInt();
        return QStringLiteral("its header cannot be read: %1").arg(q.lastError().databaseText());
    }
    if (application.toInt() != kApplicationId) {
        QSqlQuery tables(db);
        const bool ours =
            tables.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND "
                                       "name IN ('registration', 'test_main')")) &&
            tables.next() && tables.value(0).toInt() == 2;
        if (application.toInt() == 0 && ours)
            return QStringLiteral("it was made by an older version of the program; bring it up to date with "
                                  "\"tavora-lab-admin upgrade\" before using it");
        return QStringLiteral("it is not a Tavora Lab database");
    }
    if (version.toInt() > kSchemaVersion)
        return QStringLiteral(
                   "it was made by a newer version of the program (schema %1; this program knows %2)")
            .arg(version.toInt())
            .arg(kSchemaVersion);
    if (version.toInt() < kSchemaVersion)
        return QStringLiteral("it was made by an older version of the program; bring it up to date with "
                              "\"tavora-lab-admin upgrade\" before using it");
    if (journal == QLatin1String("wal"))
        return QStringLiteral("it is in write-ahead-log mode, which is not safe on a shared folder; the "
                              "laboratory's database uses the rollback journal");
    return {};
}

} // namespace

QString damage_marker(const QString& path) {
    return path + QStringLiteral(".damaged");
}

bool damage_marked(const QString& path) {
    return QFileInfo::exists(damage_marker(path));
}

void write_damage_marker(const QString& path, const QString& reason) {
    QFile marker(damage_marker(path));
    if (marker.exists()) return;
    if (marker.open(QIODevice::WriteOnly))
        marker.write((QDateTime::currentDateTime().toString(Qt::ISODate) + u' ' + reason + u'\n').toUtf8());
}

void remove_damage_marker(const QString& path) {
    QFile::remove(damage_marker(path));
}

void mark_database_damaged() {
    damaged_flag() = true;
    // Every workstation refuses the file from now on, not only this one.
    write_damage_marker(database_file_path(), QStringLiteral("SQLite found the file damaged"));
}

bool database_damaged() {
    return damaged_flag();
}

QString damaged_message() {
    return QStringLiteral(
               "The database file \"%1\" is damaged. Nothing more is written to it; restore the "
               "last backup (see \"Backup and restore\" in the README) and start the program again.")
        .arg(QDir::toNativeSeparators(database_file_path()));
}

void roll_back_a_crashed_save(const QString& path) {
    if (!QFileInfo::exists(path + QStringLiteral("-journal"))) return;
    const QString name = QStringLiteral("recovery-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        open_database_file(db, path, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

namespace {
int busy_timeout_for_tests = 0;
} // namespace

int busy_timeout_ms() {
    return busy_timeout_for_tests > 0 ? busy_timeout_for_tests : 5000;
}

void set_busy_timeout_for_tests(int milliseconds) {
    busy_timeout_for_tests = milliseconds;
}

namespace {

int fair_busy_handler(void*, int tries) {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point since; // one wait at a time on a thread
    const Clock::time_point now = Clock::now();
    if (tries == 0) since = now;
    const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(now - since).count();
    if (waited >= qint64(busy_timeout_ms()) * 1000) return 0; // busy, as SQLite says it
    // The longer a save has waited, the more often it looks: a newcomer tries
    // every millisecond or two, one that has waited a tenth of a second every
    // few hundred microseconds, so the lock's short free moments go to the
    // oldest waiters, roughly in turn. The jitter keeps waiters from moving
    // in step.
    const qint64 base_us = std::clamp<qint64>(1500 - waited / 70, 150, 1500);
    std::this_thread::sleep_for(
        std::chrono::microseconds(base_us + QRandomGenerator::global()->bounded(int(base_us / 2) + 1)));
    return 1;
}

} // namespace

void use_fair_busy_wait(sqlite3* handle) {
    sqlite3_busy_handler(handle, fair_busy_handler, nullptr);
}

QString busy_timeout_option() {
    return QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busy_timeout_ms());
}

QString open_database_file(QSqlDatabase& db, const QString& path, bool read_only, int* code) {
    // An empty file would open as an empty database: it is nobody's database.
    if (QFileInfo(path).isFile() && QFileInfo(path).size() == 0) return QStringLiteral("the file is empty");
    if (read_only) roll_back_a_crashed_save(path);
    // mode=rw / mode=ro: a missing file is an error, never a new empty database.
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                       (read_only ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw")));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;") + busy_timeout_option());
    if (!db.open()) {
        if (code) *code = db.lastError().nativeErrorCode().toInt();
        return db.lastError().databaseText();
    }
    if (const QVariant handle = db.driver()->handle();
        handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        use_fair_busy_wait(*static_cast<sqlite3* const*>(handle.constData()));
    // SQLite opens lazily: reading the schema makes a file that is not a
    // database at all a failed open, not a later puzzling error.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
        !probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema"))) {
        const QString why = probe.lastError().databaseText();
        if (code) *code = probe.lastError().nativeErrorCode().toInt();
        probe.finish();
        db.close();
        return why;
    }
    probe.finish();
    if (const QString problem = header_problem(db, code); !problem.isEmpty()) {
        db.close();
        return problem;
    }
    return {};
}

QString cannot_open_message(const QString& path, const QString& reason) {
    return QStringLiteral("The database file \"%1\" cannot be opened (%2).")
        .arg(QDir::toNativeSeparators(path),
             reason.isEmpty() ? QStringLiteral("unable to open database file") : reason);
}

void forget_server_connection() {
    if (QSqlDatabase::contains(kConnectionName)) QSqlDatabase::database(kConnectionName, false).close();
}

QString cannot_reach_message(const QString& server, const QString& reason) {
    return QStringLiteral("The database server \"%1\" cannot be reached (%2).")
        .arg(server, reason.isEmpty() ? QStringLiteral("no answer") : reason);
}

void notice_damage_marker() {
    if (damaged_flag() || !damage_marked(database_file_path())) return;
    damaged_flag() = true;
    close_connection(); // writes nothing more: once repaired, the file is opened afresh
}

namespace {

// The shared connection, on the driver the database needs (a test may move
// the program from a file to a server and back).
QSqlDatabase shared_connection(const QString& driver) {
    if (QSqlDatabase::contains(kConnectionName)) {
        QSqlDatabase db = QSqlDatabase::database(kConnectionName, false);
        if (db.driverName() == driver) return db;
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(kConnectionName);
    }
    return QSqlDatabase::addDatabase(driver, kConnectionName);
}

} // namespace

QString database_location() {
    return Database::program()->location();
}

void open_connection() {
    if (connection_is_open()) return;
    notice_damage_marker();
    if (database_damaged()) return;
    const auto program = Database::program();
    QSqlDatabase db = shared_connection(program->driver());
    int code = 0;
    last_open_failure() = program->open(db, false, &code);
    last_open_code() = db.isOpen() ? 0 : code;
    if (!db.isOpen() && program->open_failed(code, {}).kind == DbError::Kind::Damaged)
        mark_database_damaged();
    if (db.isOpen()) {
        if (connection_watcher().opened) connection_watcher().opened();
        if (on_opened()) on_opened()();
    }
}

namespace {

ConnectionWatcher& watcher() {
    static ConnectionWatcher w;
    return w;
}

} // namespace

void set_connection_watcher(ConnectionWatcher w) {
    watcher() = std::move(w);
}

const ConnectionWatcher& connection_watcher() {
    return watcher();
}

void set_on_connection_opened(std::function<void()> opened) {
    on_opened() = std::move(opened);
}

DbError close_connection() {
    if (!QSqlDatabase::contains(kConnectionName)) return {};
    QSqlDatabase db = QSqlDatabase::database(kConnectionName, false);
    if (db.isOpen() && connection_watcher().closing) connection_watcher().closing();
    db.close();
    if (db.isOpen()) return error_of(db.lastError());
    return {};
}

QString database_path_without_extension() {
    if (!connection_is_open()) return {};
    const QFileInfo file(database_file_path());
    return file.absolutePath() + u'/' + file.completeBaseName();
}

DbResult<QSqlDatabase> database() {
    // Restored from a backup (or checked clean) since: the file takes work again.
    if (damaged_flag() && !damage_marked(database_file_path())) damaged_flag() = false;
    if (!database_damaged()) open_connection();
    if (database_damaged()) return {{}, {DbError::Kind::Damaged, 11, damaged_message()}};
    if (connection_is_open()) return {QSqlDatabase::database(kConnectionName, false), {}};
    return {{}, Database::program()->open_failed(last_open_code(), last_open_failure())};
}

DbError noticed(DbError error) {
    if (error.kind == DbError::Kind::Damaged) {
        mark_database_damaged();
        if (!error.description.startsWith(damaged_message()))
            error.description = damaged_message() + QStringLiteral(" (") + error.description + u')';
    } else if (error.kind == DbError::Kind::Unavailable && !error.state.isEmpty()) {
        forget_server_connection();
        error.description = cannot_reach_message(database_location(), error.description);
    }
    return error;
}

DbError error_of(const QSqlError& error) {
    // Classified by the engine of the open connection (the settings are read
    // only when none is open).
    return noticed(Database::current().classify(error));
}

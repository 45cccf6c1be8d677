#include "tavora_module.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace {

QString& folder_override() {
    static QString folder;
    return folder;
}

QString& last_open_failure() {
    static QString text;
    return text;
}

} // namespace

QString program_folder() {
    if (!folder_override().isEmpty()) return folder_override();
    return QCoreApplication::applicationDirPath();
}

void set_program_folder(const QString& folder) {
    QString f = folder;
    while (f.size() > 1 && (f.endsWith(u'/') || f.endsWith(u'\\')))
        f.chop(1);
    folder_override() = f;
}

QString database_file_path() {
    return program_folder() + u'/' + QLatin1String(kDatabaseFileName);
}

bool connection_is_open() {
    return QSqlDatabase::contains(kConnectionName) && QSqlDatabase::database(kConnectionName, false).isOpen();
}

QString open_database_file(QSqlDatabase& db, const QString& path, bool read_only) {
    // mode=rw / mode=ro: a missing file is an error, never a new empty database.
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                       (read_only ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw")));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) return db.lastError().databaseText();
    // SQLite opens lazily: reading the schema makes a file that is not a
    // database at all a failed open, not a later puzzling error.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
        !probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema"))) {
        const QString why = probe.lastError().databaseText();
        probe.finish();
        db.close();
        return why;
    }
    return {};
}

QString cannot_open_message(const QString& path, const QString& reason) {
    return QStringLiteral("The database file \"%1\" cannot be opened (%2).")
        .arg(QDir::toNativeSeparators(path),
             reason.isEmpty() ? QStringLiteral("unable to open database file") : reason);
}

void open_connection() {
    if (connection_is_open()) return;
    QSqlDatabase db = QSqlDatabase::contains(kConnectionName)
                          ? QSqlDatabase::database(kConnectionName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnectionName);
    last_open_failure() = open_database_file(db, database_file_path(), false);
}

DbError close_connection() {
    if (!QSqlDatabase::contains(kConnectionName)) return {};
    QSqlDatabase db = QSqlDatabase::database(kConnectionName, false);
    db.close();
    if (db.isOpen()) return DbError::from(db.lastError());
    return {};
}

QString database_path_without_extension() {
    if (!connection_is_open()) return {};
    const QFileInfo file(database_file_path());
    return file.absolutePath() + u'/' + file.completeBaseName();
}

DbResult<QSqlDatabase> database() {
    open_connection();
    if (connection_is_open()) return {QSqlDatabase::database(kConnectionName, false), {}};
    return {{},
            {DbError::Kind::Unavailable, 0, cannot_open_message(database_file_path(), last_open_failure())}};
}

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

void open_connection() {
    if (connection_is_open()) return;
    QSqlDatabase db = QSqlDatabase::contains(kConnectionName)
                          ? QSqlDatabase::database(kConnectionName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnectionName);
    const QString path = database_file_path();
    // mode=rw: a missing file is an error, never a new empty database.
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        last_open_failure() = db.lastError().databaseText();
        return;
    }
    // SQLite opens lazily: read the schema once so that a file which is not a
    // database at all counts as a failed open, not as a later puzzling error.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
        !probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema"))) {
        last_open_failure() = probe.lastError().databaseText();
        probe.finish();
        db.close();
        return;
    }
    probe.finish();
    last_open_failure().clear();
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
    QString why = last_open_failure();
    if (why.isEmpty()) why = QStringLiteral("unable to open database file");
    return {{},
            {DbError::Kind::Unavailable, 0,
             QStringLiteral("The database file \"%1\" cannot be opened (%2).")
                 .arg(QDir::toNativeSeparators(database_file_path()), why)}};
}

#include "database.h"

#include "connection.h"
#include "postgres_database.h"
#include "sqlite_database.h"

// The one place that tells the engines apart: by what names a database, or
// by the driver of an open connection.

std::unique_ptr<Database> Database::named(const QString& file_or_url) {
    return is_server_url(file_or_url) ? server_database(file_or_url) : file_database(file_or_url);
}

std::unique_ptr<Database> Database::program(const QString& file) {
    if (const QString url = configured_server_url(); !url.isEmpty()) return server_database(url);
    return file_database(file.isEmpty() ? database_file_path() : file);
}

namespace {

const Database& engine_of(const QString& driver) {
    static const std::unique_ptr<Database> file = file_database({});
    static const std::unique_ptr<Database> server = server_database({});
    return driver == server->driver() ? *server : *file;
}

} // namespace

const Database& Database::of(const QSqlDatabase& db) {
    return engine_of(db.driverName());
}

const Database& Database::current() {
    if (connection_is_open()) return of(QSqlDatabase::database(kConnectionName, false));
    return engine_of(program()->driver());
}

QString database_file_path() {
    // A database given on the command line that is not a server is a file.
    if (const QString given = database_given(); !given.isEmpty() && !is_server_url(given)) return given;
    return program_folder() + u'/' + QLatin1String(kDatabaseFileName);
}

#include "reading_connection.h"

#include "connection.h"
#include "database.h"
#include "records.h"

#include <QSqlQuery>

ReadingConnection::ReadingConnection(const QString& path, bool shared, int max_milliseconds) {
    if (shared) {
        auto connection = database();
        if (!connection.ok()) {
            error_ = connection.error.description;
            return;
        }
        shared_ = connection.value;
        nested_ = Database::of(shared_).begin_reading(shared_, true, max_milliseconds);
        return;
    }
    static int serial = 0;
    name_ = QStringLiteral("report_connection_%1").arg(++serial);
    const auto database = Database::program(path);
    QSqlDatabase db = QSqlDatabase::addDatabase(database->driver(), name_);
    error_ = database->open(db, true);
    if (error_.isEmpty()) database->begin_reading(db, false, max_milliseconds);
}

ReadingConnection::~ReadingConnection() {
    if (shared_.isValid()) {
        Database::of(shared_).end_reading(shared_, true, nested_);
        return;
    }
    if (name_.isEmpty()) return;
    if (QSqlDatabase db = QSqlDatabase::database(name_, false); db.isOpen()) {
        Database::of(db).end_reading(db, false, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

bool ReadingConnection::has_field(const QString& table, const QString& field) const {
    return Database::of(db()).has_column(db(), table, field);
}

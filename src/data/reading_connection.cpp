#include "reading_connection.h"

#include "records.h"
#include "tavora_module.h"

#include <QSqlQuery>

ReadingConnection::ReadingConnection(const QString& path, bool shared, int max_milliseconds) {
    if (shared) {
        auto connection = database();
        if (!connection.ok()) {
            error_ = connection.error.description;
            return;
        }
        shared_ = connection.value;
        QSqlQuery(shared_).exec(QStringLiteral("PRAGMA query_only = 1"));
        allow_only_reading(shared_, true);
        limit_statement_time(shared_, max_milliseconds);
        return;
    }
    static int serial = 0;
    name_ = QStringLiteral("report_connection_%1").arg(++serial);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    error_ = open_database_file(db, path, true);
    if (error_.isEmpty()) {
        allow_only_reading(db, true);
        limit_statement_time(db, max_milliseconds);
    }
}

ReadingConnection::~ReadingConnection() {
    if (shared_.isValid()) {
        limit_statement_time(shared_, 0);
        allow_only_reading(shared_, false);
        QSqlQuery(shared_).exec(QStringLiteral("PRAGMA query_only = 0"));
        return;
    }
    if (name_.isEmpty()) return;
    limit_statement_time(QSqlDatabase::database(name_, false), 0);
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
}

bool ReadingConnection::has_field(const QString& table, const QString& field) const {
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) return false;
    while (q.next())
        if (q.value(1).toString().compare(field, Qt::CaseInsensitive) == 0) return true;
    return false;
}

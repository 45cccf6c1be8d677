#include "reading_connection.h"

#include "connection.h"
#include "dialect.h"
#include "records.h"

#include <QSqlQuery>

namespace {

// On a server, a report reads in a read-only transaction (a savepoint of the
// build's own transaction, on the shared connection) whose statements are cut
// off after the time allowed: the server itself refuses every write.
// Returns whether the shared connection was inside a transaction already
// (a savepoint of it was taken) or not (a transaction of its own was begun).
bool begin_reading_on_server(QSqlDatabase& db, bool shared, int max_milliseconds) {
    QSqlQuery q(db);
    const bool inside = shared && q.exec(QStringLiteral("SAVEPOINT report_reading"));
    if (inside)
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
    return inside;
}

void end_reading_on_server(QSqlDatabase& db, bool inside) {
    QSqlQuery q(db);
    if (inside) {
        q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT report_reading"));
        q.exec(QStringLiteral("RELEASE SAVEPOINT report_reading"));
    } else {
        q.exec(QStringLiteral("ROLLBACK"));
    }
}

} // namespace

ReadingConnection::ReadingConnection(const QString& path, bool shared, int max_milliseconds) {
    if (shared) {
        auto connection = database();
        if (!connection.ok()) {
            error_ = connection.error.description;
            return;
        }
        shared_ = connection.value;
        if (dialect_of(shared_) == Dialect::PostgreSQL) {
            inside_transaction_ = begin_reading_on_server(shared_, true, max_milliseconds);
            return;
        }
        QSqlQuery(shared_).exec(QStringLiteral("PRAGMA query_only = 1"));
        allow_only_reading(shared_, true);
        limit_statement_time(shared_, max_milliseconds);
        return;
    }
    static int serial = 0;
    name_ = QStringLiteral("report_connection_%1").arg(++serial);
    if (const QString url = configured_server_url(); !url.isEmpty()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
        error_ = open_server(db, url);
        if (error_.isEmpty()) begin_reading_on_server(db, false, max_milliseconds);
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    error_ = open_database_file(db, path, true);
    if (error_.isEmpty()) {
        allow_only_reading(db, true);
        limit_statement_time(db, max_milliseconds);
    }
}

ReadingConnection::~ReadingConnection() {
    if (shared_.isValid() && dialect_of(shared_) == Dialect::PostgreSQL) {
        end_reading_on_server(shared_, inside_transaction_);
        return;
    }
    if (shared_.isValid()) {
        limit_statement_time(shared_, 0);
        allow_only_reading(shared_, false);
        QSqlQuery(shared_).exec(QStringLiteral("PRAGMA query_only = 0"));
        return;
    }
    if (name_.isEmpty()) return;
    if (QSqlDatabase db = QSqlDatabase::database(name_, false);
        db.isOpen() && dialect_of(db) == Dialect::PostgreSQL)
        end_reading_on_server(db, false);
    limit_statement_time(QSqlDatabase::database(name_, false), 0);
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
}

bool ReadingConnection::has_field(const QString& table, const QString& field) const {
    QSqlQuery q(db());
    if (dialect_of(db()) == Dialect::PostgreSQL) {
        q.prepare(
            QStringLiteral("SELECT 1 FROM information_schema.columns WHERE table_schema = current_schema() "
                           "AND table_name = lower(?) AND column_name = lower(?)"));
        q.addBindValue(table);
        q.addBindValue(field);
        return q.exec() && q.next();
    }
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) return false;
    while (q.next())
        if (q.value(1).toString().compare(field, Qt::CaseInsensitive) == 0) return true;
    return false;
}

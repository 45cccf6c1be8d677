#include "settings.h"

#include "connection.h"

#include <QSqlError>
#include <QSqlQuery>

QString setting(const QSqlDatabase& db, const QString& name) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT value FROM settings WHERE name = ?"));
    q.addBindValue(name);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

DbError set_setting(const QSqlDatabase& db, const QString& name, const QString& value) {
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("INSERT INTO settings (name, value) VALUES (?, ?) ON CONFLICT (name) DO UPDATE SET "
                       "value = excluded.value"));
    q.addBindValue(name);
    q.addBindValue(value);
    return q.exec() ? DbError{} : error_of(q.lastError());
}

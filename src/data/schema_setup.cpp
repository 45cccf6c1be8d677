#include "schema_setup.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

QString schema_sql() {
    QFile f(QStringLiteral(":/tavora/schema.sql"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

QString create_database(const QString& path) {
    if (QFileInfo::exists(path))
        return QStringLiteral("\"%1\" exists already; it was left untouched.").arg(path);
    const QString sql = schema_sql();
    if (sql.isEmpty()) return QStringLiteral("the schema is missing from the program");

    const QString name = QStringLiteral("create-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            failure = db.lastError().text();
        } else {
            QSqlQuery q(db);
            // Comments first, then one statement per semicolon: the schema has no triggers.
            QString text = sql;
            text.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
            const QStringList statements = text.split(u';', Qt::SkipEmptyParts);
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

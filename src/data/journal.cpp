#include "journal.h"

#include "records.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSysInfo>

namespace {

QString& journal_user() {
    static QString user;
    return user;
}

// An empty text, never a null one (which would bind as NULL).
QString text_of(const QString& s) {
    return s.isNull() ? QString::fromLatin1("") : s;
}

} // namespace

void set_journal_user(const QString& user_name) {
    journal_user() = user_name.trimmed();
}

QString journal_user_name() {
    return journal_user();
}

DbError journal_change(const QString& action, const QString& table, qint64 key,
                       const QJsonObject& old_values) {
    return add_row(QStringLiteral("change_log"),
                   {{QStringLiteral("changed_at"), QDateTime::currentDateTime().toString(Qt::ISODate)},
                    {QStringLiteral("host"), text_of(QSysInfo::machineHostName())},
                    {QStringLiteral("user_name"), text_of(journal_user())},
                    {QStringLiteral("action"), action},
                    {QStringLiteral("table_name"), table},
                    {QStringLiteral("row_key"), key},
                    {QStringLiteral("old_values"),
                     QString::fromUtf8(QJsonDocument(old_values).toJson(QJsonDocument::Compact))}});
}

DbResult<qint64> journal_mark() {
    auto last = select_first(QStringLiteral("SELECT ifnull(max(id), 0) FROM change_log"));
    if (!last.ok()) return {0, last.error};
    return {last.value ? last.value->value(0).toLongLong() : 0, {}};
}

DbResult<bool> changed_after(const QString& table, qint64 key, qint64 mark) {
    auto found = select_first(
        QStringLiteral("SELECT 1 FROM change_log WHERE table_name = ? AND row_key = ? AND id > ? LIMIT 1"),
        {table, key, mark});
    return {found.ok() && found.value.has_value(), found.error};
}

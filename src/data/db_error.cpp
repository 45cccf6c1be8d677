#include "db_error.h"

#include "tavora_module.h"

#include <QSqlError>

DbError DbError::from(const QSqlError& error) {
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric);
    return from_code(numeric ? code : 0,
                     error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

DbError DbError::from_code(int code, const QString& description) {
    DbError e{Kind::Other, code, description};
    const int primary = e.code & 0xff;
    if (primary == 11) { // SQLITE_CORRUPT and its extended forms
        mark_database_damaged();
        e.kind = Kind::Damaged;
        e.description = damaged_message() + QStringLiteral(" (") + description + u')';
    } else if (e.code == 1555 || e.code == 2067)
        e.kind = Kind::Duplicate;
    else if (primary == 5 || primary == 6)
        e.kind = Kind::Busy;
    return e;
}

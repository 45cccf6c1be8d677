#include "db_error.h"

#include <QSqlError>

DbError DbError::from(const QSqlError& error, bool server) {
    const QString native = error.nativeErrorCode();
    // A server's error is an SQLSTATE: five characters (SQLite's codes are
    // numbers of at most four digits). A server that stopped answering gives
    // none at all.
    if (native.size() == 5) return from_sqlstate(native, error.databaseText().trimmed());
    if (native.isEmpty() && server &&
        (error.type() == QSqlError::ConnectionError ||
         error.databaseText().contains(QLatin1String("connection"), Qt::CaseInsensitive)))
        return from_sqlstate(QStringLiteral("08006"), error.databaseText().trimmed()); // connection_failure
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric);
    return from_code(numeric ? code : 0,
                     error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

DbError DbError::from_code(int code, const QString& description) {
    DbError e{Kind::Other, code, description};
    const int primary = e.code & 0xff;
    if (primary == 11) // SQLITE_CORRUPT and its extended forms
        e.kind = Kind::Damaged;
    else if (e.code == 1555 || e.code == 2067)
        e.kind = Kind::Duplicate;
    else if (primary == 5 || primary == 6)
        e.kind = Kind::Busy;
    return e;
}

DbError DbError::from_sqlstate(const QString& state, const QString& description) {
    DbError e{Kind::Other, state.toInt(), description};
    if (state == QLatin1String("23505")) // unique_violation
        e.kind = Kind::Duplicate;
    else if (state == QLatin1String("55P03") || state == QLatin1String("40001") ||
             state == QLatin1String("40P01") || state == QLatin1String("57014")) // lock or statement timeout
        e.kind = Kind::Busy;
    else if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P"))) {
        // The connection is lost (or the server is shutting down).
        e.kind = Kind::Unavailable;
    }
    e.state = state;
    return e;
}

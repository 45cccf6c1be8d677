#include "workstations.h"

#include "connection.h"
#include "journal.h"
#include "records.h"
#include "settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTimer>
#include <QUuid>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace {

struct Registration {
    qint64 id = 0;        // 0: not registered
    QString restore_mark; // the file's restore mark when this program registered
    QTimer* heartbeat = nullptr;
    std::function<void()> tell;
    int heartbeat_ms = kHeartbeatSeconds * 1000;
};

Registration& me() {
    static Registration r;
    return r;
}

// The mark a restore leaves in the file (the setting restored-at): a
// program that finds its registration gone tells a restore from any other
// cause by it.
QString restore_mark(const QSqlDatabase& db) {
    return setting(db, QString::fromLatin1(kRestoredAt));
}

qint64 now_seconds() {
    return QDateTime::currentSecsSinceEpoch();
}

QSqlDatabase open_shared() {
    return QSqlDatabase::database(kConnectionName, false);
}

// Says this program is still there. False when its registration is gone:
// the file was replaced under it.
bool renew_registration() {
    QSqlQuery q(open_shared());
    q.prepare(QStringLiteral("UPDATE workstations SET seen_at = ? WHERE id = ?"));
    q.addBindValue(now_seconds());
    q.addBindValue(me().id);
    if (!q.exec()) return true; // busy: the next beat tries again
    return q.numRowsAffected() > 0;
}

void heartbeat() {
    if (!connection_is_open() || database_damaged()) return;
    if (me().id == 0) {
        register_workstation(); // the file was busy when the connection opened, or at its commit
    } else if (!renew_registration()) {
        // Told only when a restore took the row (the restore mark changed).
        const bool restored = restore_mark(open_shared()) != me().restore_mark;
        register_workstation();
        if (restored && me().tell) me().tell();
    }
}

void start_heartbeat() {
    if (!QCoreApplication::instance()) return;
    if (!me().heartbeat) {
        me().heartbeat = new QTimer(QCoreApplication::instance());
        QObject::connect(me().heartbeat, &QTimer::timeout, heartbeat);
    }
    me().heartbeat->start(me().heartbeat_ms);
}

} // namespace

qint64 registered_workstation() {
    return me().id;
}

bool process_may_live(const QString& host, qint64 pid) {
    // Another machine's processes cannot be seen from here.
    if (host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0) return true;
#ifdef Q_OS_UNIX
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
#else
    return pid > 0;
#endif
}

void register_workstation() {
    QSqlDatabase db = open_shared();
    if (!db.isOpen()) return;
    me().id = 0;
    // In a transaction of its own, and taken as registered only once it is
    // committed: an insert whose commit waits on another connection's
    // reader (a backup, a check) and then fails as busy registered nothing,
    // and the id it returned must not be taken for this program's. A file
    // kept busy at this moment is registered by the next heartbeat.
    qint64 id = 0;
    QString mark;
    const DbError e = in_transaction_on(db, [&]() -> DbError {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO workstations (host, pid, user_name, started_at, seen_at) "
                                 "VALUES (?, ?, ?, ?, ?) RETURNING id"));
        // Empty texts, never null ones (which would bind as NULL).
        q.addBindValue(QSysInfo::machineHostName() + QLatin1String(""));
        q.addBindValue(QCoreApplication::applicationPid());
        q.addBindValue(journal_user_name() + QLatin1String(""));
        q.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
        q.addBindValue(now_seconds());
        if (!q.exec() || !q.next()) return error_of(q.lastError());
        id = q.value(0).toLongLong();
        q.finish();
        mark = restore_mark(db);
        return {};
    });
    if (e.ok()) {
        me().id = id;
        me().restore_mark = mark;
    }
    start_heartbeat();
}

void unregister_workstation() {
    if (me().heartbeat) me().heartbeat->stop();
    if (me().id == 0) return;
    QSqlDatabase db = open_shared();
    if (db.isOpen() && !database_damaged()) { // nothing more is written to a damaged file
        // Its screens' reserved ids go with it.
        for (const char* sql :
             {"DELETE FROM id_reservations WHERE workstation = ?", "DELETE FROM workstations WHERE id = ?"})
            execute_on(db, QString::fromLatin1(sql), {me().id});
    }
    me().id = 0;
}

DbError check_still_registered() {
    if (me().id == 0) return {};
    auto found = select_first(QStringLiteral("SELECT 1 FROM workstations WHERE id = ?"), {me().id});
    if (!found.ok() || found.value) return found.error;
    // The row is gone. Only a restore changes the file's restore mark; a row
    // removed for any other reason is made again when the heartbeat next
    // beats, and nothing is refused.
    auto db = database();
    if (!db.ok()) return db.error;
    if (restore_mark(db.value) == me().restore_mark) {
        me().id = 0;
        return {};
    }
    me().id = 0;
    return {DbError::Kind::Replaced, 0,
            QStringLiteral("The database file %1 was restored from a backup while this program was running, "
                           "so nothing was stored. The program now works on the restored file: check what "
                           "the screen shows, then try again.")
                .arg(database_file_path())};
}

void set_on_file_replaced(std::function<void()> tell) {
    me().tell = std::move(tell);
}

void set_heartbeat_ms_for_tests(int ms) {
    me().heartbeat_ms = ms;
    if (me().heartbeat && me().heartbeat->isActive()) me().heartbeat->start(ms);
}

DbResult<QStringList> live_workstations(const QString& path) {
    const QString name = QStringLiteral("workstations-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    DbResult<QStringList> out;
    {
        roll_back_a_crashed_save(path);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;") + busy_timeout_option());
        if (!db.open()) {
            out.error = error_of(db.lastError());
        } else {
            QSqlQuery q(db);
            const bool has_registry =
                q.exec(QStringLiteral("SELECT 1 FROM sqlite_schema WHERE name = 'workstations'")) && q.next();
            q.finish();
            if (has_registry) {
                q.prepare(QStringLiteral("SELECT host, pid, user_name, started_at FROM workstations "
                                         "WHERE seen_at >= ? ORDER BY id"));
                q.addBindValue(now_seconds() - kWorkstationAliveSeconds);
                if (!q.exec()) out.error = error_of(q.lastError());
                while (q.next())
                    if (process_may_live(q.value(0).toString(), q.value(1).toLongLong()))
                        out.value << QStringLiteral("%1 (process %2%3, since %4)")
                                         .arg(q.value(0).toString(), q.value(1).toString(),
                                              q.value(2).toString().isEmpty()
                                                  ? QString()
                                                  : QStringLiteral(", user ") + q.value(2).toString(),
                                              q.value(3).toString());
                q.finish();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return out;
}

void keep_workstation_registry() {
    set_connection_watcher(
        {register_workstation, unregister_workstation, check_still_registered, register_workstation});
}

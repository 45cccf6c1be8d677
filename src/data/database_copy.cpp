#include "database_copy.h"

#include "connection.h"
#include "records.h"
#include "schema_setup.h"
#include "workstations.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

// Opens the file read-only on a connection of its own, runs `work` on it when
// it opened, and removes the connection. Returns why it did not open (with
// SQLite's code in `code`), or what `work` found.
QString on_own_connection(const QString& path, const std::function<QString(QSqlDatabase&)>& work,
                          int* code = nullptr) {
    const QString name = QStringLiteral("own-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString problems;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        problems = open_database_file(db, path, true, code);
        if (problems.isEmpty() && work) problems = work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return problems;
}

// How the stepwise copy goes: pages per step (4 MB at the file's 4 kB pages;
// writers wait at most one step's copy), how often a copy may start over
// because another workstation wrote meanwhile before the file is copied
// under one lock instead, and the pause between steps that lets a waiting
// writer in.
struct SnapshotPace {
    int pages_per_step = 1024;
    int restarts_before_locked_copy = 2;
    int pause_ms = 2;
    std::function<void()> between_steps;
};

SnapshotPace& pace() {
    static SnapshotPace p;
    return p;
}

// The file copied block by block as it stands, with no lock: a block may be
// caught half-way through another workstation's save, which the levelling
// under the lock puts right. Each block goes to the disk as it is written
// (all at once at the end, the copy would hold up every save's own sync on
// the same disk for as long as that takes).
constexpr qint64 kLevelBlock = 4 << 20;

QString copy_as_it_stands(int in, int out) {
    std::vector<char> block(kLevelBlock);
    for (qint64 at = 0;; at += kLevelBlock) {
        const ssize_t got = ::pread(in, block.data(), kLevelBlock, at);
        if (got < 0) return QStringLiteral("the file cannot be read");
        if (got == 0) return {};
        if (::pwrite(out, block.data(), size_t(got), at) != got)
            return QStringLiteral("the copy cannot be written");
        // This block starts on its way to the disk; the one before it is
        // waited for, so that little is ever left to write at once.
        ::sync_file_range(out, at, got, SYNC_FILE_RANGE_WRITE);
        if (at >= kLevelBlock && ::sync_file_range(out, at - kLevelBlock, kLevelBlock,
                                                   SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                                       SYNC_FILE_RANGE_WAIT_AFTER) != 0)
            return QStringLiteral("the copy cannot be written to the disk");
    }
}

// Under the lock: every block of the file that differs from the copy's is
// written again (compared in full: a block missed would be a backup that is
// not one moment's file), and the copy cut to the file's length.
QString level(int in, int out) {
    std::vector<char> block(kLevelBlock), copied(kLevelBlock);
    qint64 at = 0;
    for (;; at += kLevelBlock) {
        const ssize_t got = ::pread(in, block.data(), kLevelBlock, at);
        if (got < 0) return QStringLiteral("the file cannot be read");
        if (got == 0) break;
        if (::pread(out, copied.data(), size_t(got), at) == got &&
            std::memcmp(block.data(), copied.data(), size_t(got)) == 0)
            continue;
        if (::pwrite(out, block.data(), size_t(got), at) != got)
            return QStringLiteral("the copy cannot be written");
    }
    if (::ftruncate(out, at) != 0 || ::fdatasync(out) != 0)
        return QStringLiteral("the copy cannot be written to the disk");
    return {};
}

// A consistent copy for a laboratory that saves faster than the stepwise copy
// can get through: the file is copied as it stands, then levelled while a
// shared lock holds every writer off. The lock lasts one read of the file
// and of its copy, both in the system's cache.
DbError copy_under_shared_lock(const QString& path, const QString& file) {
    const int in = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out >= 0) QFile::setPermissions(file, kPatientCopyMode);
    auto close_both = [&] {
        if (in >= 0) ::close(in);
        if (out >= 0) ::close(out);
    };
    QString failure =
        in < 0 || out < 0 ? QStringLiteral("cannot open the file or its copy") : copy_as_it_stands(in, out);
    if (failure.isEmpty() && pace().between_steps) pace().between_steps(); // a save the levelling must take
    if (!failure.isEmpty()) {
        close_both();
        QFile::remove(file);
        return DbError::other(QStringLiteral("the copy %1: %2").arg(file, failure));
    }
    const QString name = QStringLiteral("snapshot-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    DbError e;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        int code = 0;
        const QString why = open_database_file(db, path, false, &code);
        if (!why.isEmpty()) {
            // Kept busy by other workstations past the busy timeout: that is its own message.
            e = (code & 0xff) == 5 || (code & 0xff) == 6
                    ? DbError::from_code(code, why)
                    : DbError{DbError::Kind::Unavailable, 0, cannot_open_message(path, why)};
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("BEGIN")) ||
                !q.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema")) || !q.next()) {
                e = error_of(q.lastError());
            } else {
                q.finish();
                if (const QString levelled = level(in, out); !levelled.isEmpty())
                    e = DbError::other(QStringLiteral("the copy %1: %2").arg(file, levelled));
            }
            q.exec(QStringLiteral("COMMIT"));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    close_both();
    if (!e.ok()) QFile::remove(file);
    return e;
}

} // namespace

void set_snapshot_steps_for_tests(int pages_per_step, std::function<void()> between_steps) {
    pace().pages_per_step = pages_per_step > 0 ? pages_per_step : SnapshotPace{}.pages_per_step;
    pace().between_steps = std::move(between_steps);
}

bool sync_to_disk(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

DbError snapshot_database(const QString& file, const QString& source, SnapshotStats* stats) {
    // SQLite's online backup, a step of pages at a time: the live file is read
    // under a shared lock only during a step, so another workstation's save
    // goes in between steps instead of waiting for the whole copy. A save
    // between steps makes the copy start over (it would not be one snapshot
    // otherwise); once it has twice, the laboratory saves faster than the copy goes,
    // and the file is copied as it stands and levelled under one shared lock
    // instead, so a busy laboratory still gets its backup.
    const QString path = source.isEmpty() ? database_file_path() : source;
    if (QFile::exists(file)) return DbError::other(QStringLiteral("%1 exists already").arg(file));
    // The same checks as every open (whose file, which version), and a
    // crashed save rolled back first.
    int code = 0;
    if (const QString why = on_own_connection(path, nullptr, &code); !why.isEmpty())
        return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED
                   ? DbError::from_code(code, why) // kept busy past the busy timeout: its own message
                   : DbError{DbError::Kind::Unavailable, 0, cannot_open_message(path, why)};
    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    auto close_both = [&] {
        sqlite3_close(from);
        sqlite3_close(to);
    };
    if (sqlite3_open_v2(path.toUtf8().constData(), &from, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const DbError e{DbError::Kind::Unavailable, 0,
                        cannot_open_message(path, QString::fromUtf8(sqlite3_errmsg(from)))};
        close_both();
        return e;
    }
    use_fair_busy_wait(from);
    if (sqlite3_open_v2(file.toUtf8().constData(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        const DbError e = DbError::other(QStringLiteral("the copy %1 cannot be written: %2")
                                             .arg(file, QString::fromUtf8(sqlite3_errmsg(to))));
        close_both();
        QFile::remove(file);
        return e;
    }
    QFile::setPermissions(file, kPatientCopyMode);
    // The copy is new and nobody else's: no journal and no sync of SQLite's
    // own (a copy cut short is removed, or after a crash found by its partial
    // name). Each step's pages go to the disk as the step ends: written all
    // at once at the end, they would hold up every save's own sync on the
    // same disk for as long as that takes.
    sqlite3_exec(to, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    const int written = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    sqlite3_backup* copy = sqlite3_backup_init(to, "main", from, "main");
    if (!copy) {
        const DbError e = DbError::other(QString::fromUtf8(sqlite3_errmsg(to)));
        close_both();
        QFile::remove(file);
        return e;
    }
    SnapshotStats seen;
    int rc = SQLITE_OK;
    int last_copied = 0;
    // A writer that holds the file past the busy timeout (the source's busy
    // handler waits it out within a step) ends the copy as busy.
    while (seen.restarts < pace().restarts_before_locked_copy) {
        rc = sqlite3_backup_step(copy, pace().pages_per_step);
        ++seen.steps;
        if (rc != SQLITE_OK) break;
        // Fewer pages copied than after the last step: the source changed and
        // the copy started over.
        const int copied = sqlite3_backup_pagecount(copy) - sqlite3_backup_remaining(copy);
        if (copied <= last_copied) ++seen.restarts;
        last_copied = copied;
        if (written >= 0) ::fdatasync(written);
        if (pace().between_steps) pace().between_steps();
        if (pace().pause_ms > 0) QThread::msleep(pace().pause_ms);
    }
    sqlite3_backup_finish(copy);
    const int finished = sqlite3_errcode(to);
    close_both();
    const bool synced = written >= 0 && ::fsync(written) == 0;
    if (written >= 0) ::close(written);
    if (stats) *stats = seen;
    if (seen.restarts >= pace().restarts_before_locked_copy) {
        // Saves keep coming between the steps: copied as the file stands and
        // levelled under one short lock (synced by the levelling).
        QFile::remove(file);
        if (stats) stats->one_locked_copy = true;
        return copy_under_shared_lock(path, file);
    }
    if (rc == SQLITE_DONE && (finished == SQLITE_OK || finished == SQLITE_DONE)) {
        if (synced) return {};
        QFile::remove(file);
        return DbError::other(QStringLiteral("%1 cannot be written to the disk").arg(file));
    }
    QFile::remove(file);
    return noticed(DbError::from_code(rc == SQLITE_DONE ? finished : rc,
                                      QString::fromUtf8(sqlite3_errstr(rc == SQLITE_DONE ? finished : rc))));
}

FileCheck check_by_copy(const QString& path) {
    if (!QFileInfo::exists(path)) return {QStringLiteral("it does not exist"), false};
    // What the open says (another program's file, another version, no
    // database at all) is told as it is; only a file SQLite finds corrupt or
    // unreadable as a database counts as damaged.
    int code = 0;
    if (const QString problems = on_own_connection(path, nullptr, &code); !problems.isEmpty())
        return {problems, (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB};
    const QString copy = QFileInfo(path).absoluteDir().filePath(
        QStringLiteral(".check-%1.mdb").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    const DbError e = snapshot_database(copy, path);
    const FileCheck found =
        e.ok() ? FileCheck{integrity_problems(copy), true} : FileCheck{e.description, false};
    QFile::remove(copy);
    return {found.problems, found.damaged && !found.problems.isEmpty()};
}

QString integrity_problems(const QString& path, bool quick) {
    return on_own_connection(path, [quick](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.exec(quick ? QStringLiteral("PRAGMA quick_check") : QStringLiteral("PRAGMA integrity_check")))
            return q.lastError().databaseText();
        QStringList found;
        while (q.next())
            if (q.value(0).toString() != QLatin1String("ok")) found << q.value(0).toString();
        return found.join(u"; ");
    });
}

namespace {

// A plain SQLite handle that closes itself.
struct Handle {
    sqlite3* db = nullptr;
    ~Handle() { sqlite3_close(db); }
    QString error() const { return QString::fromUtf8(sqlite3_errmsg(db)); }
};

} // namespace

QString restore_database(const QString& backup, const QString& target, bool force, QStringList* overridden) {
    if (const QString problems = integrity_problems(backup); !problems.isEmpty())
        return QStringLiteral("the backup %1 is damaged or unreadable: %2").arg(backup, problems);
    Handle source;
    if (sqlite3_open_v2(backup.toUtf8().constData(), &source.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return QStringLiteral("the backup %1 cannot be opened: %2").arg(backup, source.error());
    sqlite3_stmt* probe = nullptr;
    sqlite3_prepare_v2(source.db,
                       "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND "
                       "name IN ('registration', 'test_main', 'doctors', 'temp')",
                       -1, &probe, nullptr);
    const bool ours = probe && sqlite3_step(probe) == SQLITE_ROW && sqlite3_column_int(probe, 0) == 4;
    sqlite3_finalize(probe);
    if (!ours) return QStringLiteral("%1 is not a backup of the laboratory's database").arg(backup);

    const bool existed = QFile::exists(target);
    if (existed) {
        auto running = live_workstations(target);
        if (!running.ok())
            return QStringLiteral("the database %1 cannot be read: %2")
                .arg(target, running.error.description);
        if (!running.value.isEmpty() && !force)
            return QStringLiteral(
                       "the database %1 is in use: the program is open on %2; close the program on "
                       "every workstation first (--force restores all the same, and each of those "
                       "programs is told when it next touches the file)")
                .arg(target, running.value.join(QStringLiteral("; ")));
        if (overridden) *overridden = running.value;
    }

    Handle dest;
    const int flags = SQLITE_OPEN_READWRITE | (existed ? 0 : SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(target.toUtf8().constData(), &dest.db, flags, nullptr) != SQLITE_OK)
        return QStringLiteral("the database %1 cannot be opened: %2").arg(target, dest.error());
    // Nobody else may hold the file: take its exclusive lock, and keep a copy
    // of what is replaced while holding it.
    if (sqlite3_exec(dest.db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return QStringLiteral("the database %1 is in use by another program (%2); close the program on "
                              "every workstation first")
            .arg(target, dest.error());
    const QString kept = target + QStringLiteral(".before-restore");
    QFile::remove(kept);
    const bool copied = !existed || QFile::copy(target, kept);
    sqlite3_exec(dest.db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (!copied) return QStringLiteral("the database %1 cannot be kept as %2").arg(target, kept);

    sqlite3_backup* copy = sqlite3_backup_init(dest.db, "main", source.db, "main");
    if (!copy) return QStringLiteral("the restore cannot start: %1").arg(dest.error());
    const int rc = sqlite3_backup_step(copy, -1);
    sqlite3_backup_finish(copy);
    if (rc != SQLITE_DONE)
        return QStringLiteral("the restore failed (%1); the database is as it was")
            .arg(QString::fromUtf8(sqlite3_errstr(rc)));
    // The programs registered when the backup was taken are not running on
    // the restored file; a program still running finds its row gone.
    sqlite3_exec(dest.db, "DELETE FROM workstations", nullptr, nullptr, nullptr);
    // A new restore mark: a program that finds its registration gone knows
    // from it that the file was restored under it.
    sqlite3_stmt* mark = nullptr;
    if (sqlite3_prepare_v2(
            dest.db,
            "INSERT INTO settings (name, value) VALUES (?, ?) ON CONFLICT (name) DO UPDATE SET "
            "value = excluded.value",
            -1, &mark, nullptr) == SQLITE_OK) {
        const QByteArray at = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                              QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        sqlite3_bind_text(mark, 1, kRestoredAt, -1, SQLITE_STATIC);
        sqlite3_bind_text(mark, 2, at.constData(), int(at.size()), SQLITE_TRANSIENT);
        sqlite3_step(mark);
    }
    sqlite3_finalize(mark);
    remove_damage_marker(target); // the file is the sound backup now
    return {};
}

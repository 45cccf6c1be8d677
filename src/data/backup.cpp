#include "backup.h"

#include "database_copy.h"
#include "dates.h"
#include "journal.h"

#include <QDateTime>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QUuid>

#include <filesystem>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif
#include <system_error>

QString default_backup_folder() {
#ifdef Q_OS_WIN
    return QStringLiteral("c:/back_up");
#else
    return QDir::home().filePath(QStringLiteral("back_up"));
#endif
}

QString backup_file_name(const QDate& day) {
    return QStringLiteral("tavora lab") + day.toString(QStringLiteral("dd-MM-yyyy")) + QStringLiteral(".mdb");
}

namespace {

// An exclusive lock on a lock file, held while the object lives. The system
// releases it when the process ends, however it ends, so a lock that can be
// taken belongs to nobody. The lock file goes with the object that made it.
class HeldLock {
public:
    explicit HeldLock(const QString& path, bool create = true) : path_(path) {
#ifdef Q_OS_UNIX
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0640);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
#endif
    }
    ~HeldLock() {
#ifdef Q_OS_UNIX
        if (fd_ < 0) return;
        QFile::remove(path_);
        ::close(fd_);
#endif
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    bool held() const {
        return fd_ >= 0;
    }

private:
    QString path_;
    int fd_ = -1;
};

// Partial copies that an interrupted backup left behind (its process killed,
// the machine down) go before a backup makes its own. A backup holds the lock
// of "<copy>.lock" while it works: a copy whose lock can be taken is stale;
// one without a lock file (a backup that died before it took the lock, or
// one of an earlier version), once it is old enough.
void remove_stale_partials(const QDir& dir) {
    QSet<QString> copies;
    for (const QString& name :
         dir.entryList({QStringLiteral(".partial-*")}, QDir::Files | QDir::Hidden | QDir::System))
        copies << name.left(name.indexOf(QLatin1String(".mdb")) + 4);
    for (const QString& copy : copies) {
        const QString path = dir.filePath(copy);
        const QString lock_path = path + QStringLiteral(".lock");
        const QFileInfo info(path);
        std::optional<HeldLock> owner;
        if (QFileInfo::exists(lock_path)) {
            owner.emplace(lock_path, false);
            if (!owner->held()) continue; // a backup at work
        } else if (info.exists() &&
                   info.lastModified().secsTo(QDateTime::currentDateTime()) <= kStalePartialSeconds) {
            continue;
        }
        for (const QString& leftover :
             dir.entryList({copy + QStringLiteral("*")}, QDir::Files | QDir::Hidden | QDir::System))
            if (dir.filePath(leftover) != lock_path) QFile::remove(dir.filePath(leftover));
    }
}

} // namespace

BackupResult back_up_database(const QString& folder, const QString& source) {
    using Outcome = BackupResult::Outcome;
    if (!QDir().mkpath(folder)) return {Outcome::Denied, {}, QStringLiteral("cannot create %1").arg(folder)};
    const QDir dir(folder);
    const QString day_file = dir.filePath(backup_file_name(today()));
    remove_stale_partials(dir);
    const QString partial = dir.filePath(
        QStringLiteral(".partial-%1.mdb").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    const HeldLock working(partial + QStringLiteral(".lock")); // the system lets go if this process dies

    const DbError e = snapshot_database(partial, source);
    if (!e.ok()) {
        QFile::remove(partial);
        return {e.busy() ? Outcome::Busy : Outcome::Denied, {}, e.description};
    }
    // SQLite wrote the copy page by page from a consistent snapshot: the quick
    // check (pages and records, not every index against its table) is enough
    // here; tavora-lab-admin check runs the full one.
    if (const QString problems = integrity_problems(partial, true); !problems.isEmpty()) {
        QFile::remove(partial);
        return {Outcome::Denied, {}, QStringLiteral("the copy did not pass its check: %1").arg(problems)};
    }
    // The journal's anchor of the copy goes beside it: kept (or printed) away
    // from the database, it shows later whether the journal was rewritten.
    if (const QString anchor = write_journal_anchor_of_file(partial, day_file + QStringLiteral(".anchor"));
        !anchor.isEmpty()) {
        QFile::remove(partial);
        return {
            Outcome::Denied, {}, QStringLiteral("the journal's anchor cannot be written: %1").arg(anchor)};
    }
    // rename() replaces the day's file in one step.
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(partial.toStdU16String()),
                            std::filesystem::path(day_file.toStdU16String()), ec);
    if (ec) {
        QFile::remove(partial);
        return {Outcome::Denied, {}, QString::fromStdString(ec.message())};
    }
    // The rename is on the disk too before the backup is called made.
    if (!sync_to_disk(folder))
        return {Outcome::Denied, {}, QStringLiteral("%1 cannot be written to the disk").arg(folder)};
    return {Outcome::Done, day_file, {}};
}

QString backup_message(const BackupResult& result) {
    switch (result.outcome) {
    case BackupResult::Outcome::Done:
        return QStringLiteral("Backup successful!");
    case BackupResult::Outcome::Busy:
        return QStringLiteral("Close Tavora lab application on clients. Try 'Backup' on the server");
    case BackupResult::Outcome::Denied:
        break;
    }
    return QStringLiteral("Accesses denied.");
}

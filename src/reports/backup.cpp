#include "backup.h"

#include "database_copy.h"
#include "dates.h"
#include "schema_setup.h"

#include <QDateTime>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QUuid>

#include <filesystem>
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

BackupResult back_up_database(const QString& folder, const QString& source) {
    using Outcome = BackupResult::Outcome;
    if (!QDir().mkpath(folder)) return {Outcome::Denied, {}, QStringLiteral("cannot create %1").arg(folder)};
    const QDir dir(folder);
    const QString day_file = dir.filePath(backup_file_name(today()));
    // Partial copies that an interrupted backup left behind (its process
    // killed, the machine down) go first. A backup holds a lock file beside
    // its copy while it works: a copy whose lock can be taken (its owner is
    // gone) is stale; one without a lock file, once it is old enough.
    for (const QFileInfo& found :
         dir.entryInfoList({QStringLiteral(".partial-*.mdb")}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QString lock_path = found.filePath() + QStringLiteral(".lock");
        QLockFile owner(lock_path);
        const bool stale =
            QFileInfo::exists(lock_path)
                ? owner.tryLock(0)
                : found.lastModified().secsTo(QDateTime::currentDateTime()) > kStalePartialSeconds;
        if (!stale) continue;
        QFile::remove(found.filePath());
        QFile::remove(found.filePath() + QStringLiteral("-journal"));
    }
    for (const QFileInfo& orphan : dir.entryInfoList({QStringLiteral(".partial-*.mdb-journal")},
                                                     QDir::Files | QDir::Hidden | QDir::System))
        if (!QFileInfo::exists(orphan.filePath().chopped(8))) QFile::remove(orphan.filePath());
    // A lock file whose backup died before its copy began: taking it over
    // removes it when `owner` goes.
    for (const QFileInfo& orphan : dir.entryInfoList({QStringLiteral(".partial-*.mdb.lock")},
                                                     QDir::Files | QDir::Hidden | QDir::System)) {
        if (QFileInfo::exists(orphan.filePath().chopped(5))) continue;
        QLockFile owner(orphan.filePath());
        owner.tryLock(0);
    }
    const QString partial = dir.filePath(
        QStringLiteral(".partial-%1.mdb").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    QLockFile working(partial + QStringLiteral(".lock")); // released, and removed, on return
    working.tryLock(0);
    auto remove_partial = [&partial] {
        QFile::remove(partial);
        QFile::remove(partial + QStringLiteral("-journal"));
    };

    const DbError e = snapshot_database(partial, source);
    if (!e.ok()) {
        remove_partial();
        return {e.busy() ? Outcome::Busy : Outcome::Denied, {}, e.description};
    }
    QFile::setPermissions(partial, kPatientCopyMode);
    if (const QString problems = integrity_problems(partial); !problems.isEmpty()) {
        remove_partial();
        return {Outcome::Denied, {}, QStringLiteral("the copy did not pass its check: %1").arg(problems)};
    }
    // rename() replaces the day's file in one step.
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(partial.toStdU16String()),
                            std::filesystem::path(day_file.toStdU16String()), ec);
    if (ec) {
        remove_partial();
        return {Outcome::Denied, {}, QString::fromStdString(ec.message())};
    }
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

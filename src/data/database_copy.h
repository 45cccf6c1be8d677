#pragma once

#include "db_error.h"

#include <QString>

#include <functional>

// Copies of the whole database file, made through SQLite so that a copy is
// always a consistent snapshot, never a file caught half-way through another
// workstation's save.

// Writes a snapshot into `file`, which must not exist: of the program's
// database, or of the file at `source` when one is named. It is copied by
// SQLite's online backup a step of pages at a time, writers going on between
// steps; a copy that other workstations' writes made start over twice is made
// instead by the kernel as the file stands, then levelled with the file
// (only the blocks that differ rewritten) under one shared lock: the lock
// lasts a read of the two files. `stats`, when given, says how it went.
struct SnapshotStats {
    int steps = 0;
    int restarts = 0;
    bool one_locked_copy = false; // restarted: copied, then levelled under one shared lock
};
DbError snapshot_database(const QString& file, const QString& source = {}, SnapshotStats* stats = nullptr);
// Writes what the system holds of the file or folder at `path` to the disk
// (fsync); false when it cannot. A copy is durable before anyone is told it
// is made, and a rename once its folder is synced.
bool sync_to_disk(const QString& path);
// Tests: pages per step (0: the usual) and what runs between two steps (and
// between the copy as the file stands and its levelling).
void set_snapshot_steps_for_tests(int pages_per_step, std::function<void()> between_steps = {});

// The check of the file at `path`: what its open says is wrong (another
// program's file, another version), or what the integrity check finds on a
// snapshot beside it (so the live file is locked only for the copy). Empty
// problems when it is sound; `damaged` when SQLite finds it corrupt.
struct FileCheck {
    QString problems;
    bool damaged = false;
};
FileCheck check_by_copy(const QString& path);

// PRAGMA integrity_check of the file at `path` (quick_check when `quick`:
// no check of the indexes against their tables, for a backup's fresh copy),
// opened read-only: an empty text when it is sound, else what is wrong.
QString integrity_problems(const QString& path, bool quick = false);

// Puts the backup at `backup` in place of the database at `target`: the
// backup must pass its integrity check and hold the laboratory's tables; no
// program may have the target open (its registry of running programs, idle
// or not, unless `force`: the programs overridden are named in `overridden`,
// and each is told when it next touches the file), nor hold a lock on it. An
// existing target is kept beside itself as "<target>.before-restore". The
// copy goes through SQLite's backup interface, which holds the target's lock
// for the whole copy; the registry of the restored file starts empty.
// Returns an empty text, or why nothing was restored.
QString restore_database(const QString& backup, const QString& target, bool force = false,
                         QStringList* overridden = nullptr);

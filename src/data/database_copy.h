#pragma once

#include "db_error.h"

#include <QString>

// Copies of the whole database file, made through SQLite so that a copy is
// always a consistent snapshot, never a file caught half-way through another
// workstation's save.

// Writes a snapshot into `file`, which must not exist: of the program's
// database, or of the file at `source` when one is named. The file's bytes are
// copied under a shared lock, which holds writers off only for the copy.
DbError snapshot_database(const QString& file, const QString& source = {});

// The check of the file at `path`: what its open says is wrong (another
// program's file, another version), or what the integrity check finds on a
// snapshot beside it (so the live file is locked only for the copy). Empty
// problems when it is sound; `damaged` when SQLite finds it corrupt.
struct FileCheck {
    QString problems;
    bool damaged = false;
};
FileCheck check_by_copy(const QString& path);

// PRAGMA integrity_check of the file at `path`, opened read-only: an empty
// text when it is sound, else what is wrong.
QString integrity_problems(const QString& path);

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

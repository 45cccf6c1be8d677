#pragma once

#include <QDate>
#include <QString>

// The day's backup of the database: "tavora lab" + dd-mm-yyyy + ".mdb" in the
// backup folder, one file per day (a second backup on the same day replaces
// it). The copy is a snapshot taken through SQLite into a temporary file
// beside it, checked, and only then renamed over the day's file, so a failed
// backup never leaves a half-written day file.

// A partial copy untouched for this long was left by a backup that died.
inline constexpr int kStalePartialSeconds = 600;

// c:\back_up on Windows; the folder back_up in the user's home folder elsewhere.
QString default_backup_folder();

QString backup_file_name(const QDate& day);

struct BackupResult {
    enum class Outcome { Done, Busy, Denied };
    Outcome outcome = Outcome::Denied;
    QString file;   // the day's file, when done
    QString detail; // why it failed
};

// Backs up the open database (or the file at `source`) into `folder`.
BackupResult back_up_database(const QString& folder, const QString& source = {});

// What the utility screen tells the user.
QString backup_message(const BackupResult& result);

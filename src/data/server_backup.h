#pragma once

#include <QString>

// Backups of a laboratory's server database, through the server's own tools:
// pg_dump's custom format into the day's file, and pg_restore into an empty
// database. Both return an empty text, or why nothing was done.

// Writes the dump to `file` (beside it first, then renamed over it, so a
// failed dump never leaves half a file under the day's name).
QString dump_server_database(const QString& url, const QString& file);

// Restores the dump at `backup` into the database at `url`, which must hold
// no tables, in one transaction; the restored database must be the
// laboratory's, of this program's schema version.
QString restore_server_database(const QString& backup, const QString& url);

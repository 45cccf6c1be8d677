#pragma once

#include "db_error.h"

#include <QJsonObject>
#include <QString>

// The journal of changes: before a patient or a report is modified or
// deleted, its old values go into change_log, in the same transaction.

// Who is working at this workstation (the login user name), for the journal.
void set_journal_user(const QString& user_name);
QString journal_user_name();

// Writes one before-image; call it inside the transaction that changes the row.
DbError journal_change(const QString& action, const QString& table, qint64 key,
                       const QJsonObject& old_values);

// Where the journal stands now: the id of its latest row (0 when empty). A
// screen notes it before it reads a list, so that a later action can tell
// whether a row it shows was changed since, even where the list cannot show it.
DbResult<qint64> journal_mark();
// Whether the journal holds a change of `table`'s row `key` after `mark`.
DbResult<bool> changed_after(const QString& table, qint64 key, qint64 mark);

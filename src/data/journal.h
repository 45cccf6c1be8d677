#pragma once

#include "db_error.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The journal of changes: before a patient or a report is modified or
// deleted, its old values go into change_log, in the same transaction.

// Who is working at this workstation (the login user name), for the journal.
void set_journal_user(const QString& user_name);
QString journal_user_name();

class QSqlDatabase;

// Where the journal's chain stands: how many rows it has and the hash of the
// last one. Kept away from the database (printed, or beside each backup), it
// shows later whether rows were cut off the end or the chain was rewritten,
// which no walk of the chain alone can see.
struct JournalAnchor {
    qint64 rows = 0;
    QString hash; // empty for an empty journal
    // "ROWS HASH", as `tavora-lab-admin journal --anchor` prints it ("0 -" when empty).
    QString text() const;
    static std::optional<JournalAnchor> parse(const QString& text);
};
DbResult<JournalAnchor> journal_anchor(const QSqlDatabase& db);
// Writes the anchor of the journal on `db` into `file` (a backup's
// "<backup>.anchor"), whole or not at all; an empty text, or what went wrong.
QString write_journal_anchor(const QSqlDatabase& db, const QString& file);
// The same for the database file at `path`, read through a connection of its own.
QString write_journal_anchor_of_file(const QString& path, const QString& file);

// Walks the journal's chain on `db`: an empty text when every row matches its
// hash (rows from before the chain began excepted: the setting
// journal-chain-from says where it began), else which row is the first that
// does not. With an anchor, also that the journal still holds the anchor's
// rows, its last one unchanged. `rows` receives the number of rows read.
QString verify_journal(const QSqlDatabase& db, qint64* rows = nullptr,
                       const std::optional<JournalAnchor>& anchor = std::nullopt);

// Which rows of the journal a listing shows.
struct JournalFilter {
    std::optional<qint64> patient; // the patient's registration and reports
    std::optional<qint64> lab_id;  // one report
};

// Lists the journal on `db` in order, one row at a time to `row` (changed_at,
// host, user_name, action, table_name, row_key, old_values); an empty text, or
// what went wrong.
QString list_journal(const QSqlDatabase& db, const JournalFilter& filter,
                     const std::function<void(const QStringList& row)>& row);

// The chain hash of a journal row: SHA-256 over the hash of the row before it
// and the row's fields (changed_at, host, user_name, action, table_name,
// row_key, old_values), as hexadecimal text.
QString journal_row_hash(const QString& previous_hash, const QStringList& row);

// Writes one before-image (or, for a creation, the row as created) with its
// chain hash; call it inside the transaction that changes the row. The
// first form writes through the program's connection as the login at work;
// the second through `db`, as `user_name` (the admin tool's own connection).
DbError journal_change(const QString& action, const QString& table, qint64 key,
                       const QJsonObject& old_values);
DbError journal_change_on(const QSqlDatabase& db, const QString& user_name, const QString& action,
                          const QString& table, qint64 key, const QJsonObject& old_values);

// The name of the setting that holds the id of the journal's first chained
// row (rows before it were written before the journal was chained).
inline constexpr char kJournalChainFrom[] = "journal-chain-from";

// Where the journal stands now: the id of its latest row (0 when empty). A
// screen notes it before it reads a list, so that a later action can tell
// whether a row it shows was changed since, even where the list cannot show it.
DbResult<qint64> journal_mark();
// Whether the journal holds a change of `table`'s row `key` after `mark`.
DbResult<bool> changed_after(const QString& table, qint64 key, qint64 mark);

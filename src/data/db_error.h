#pragma once

#include <QString>

class QSqlError;

// A failed database action, as a value, of one of a few kinds the program
// answers differently: a duplicate key (the "ID already exists" messages), a
// database kept busy by other workstations, a file that cannot be opened, a
// row that is not there, a row changed since it was looked up, a damaged or a
// replaced file; everything else is "other", told in the engine's words.
struct DbError {
    // Changed: the row is no longer what the screen looked up (another
    // workstation stored something in between); nothing was written.
    // Damaged: the file is corrupt; the run writes nothing more to it.
    // Replaced: the file was restored from a backup under the running program.
    // Forbidden: the person logged in may not do this; the description says
    // what they may do and whose account the action needs. Nothing was written.
    enum class Kind {
        None,
        Duplicate,
        Busy,
        Unavailable,
        NotFound,
        Changed,
        Damaged,
        Replaced,
        Forbidden,
        Other
    };

    Kind kind = Kind::None;
    int code = 0; // the engine's (extended) result code; a server's SQLSTATE as a number when it is one
    QString description; // the engine's own words, or ours for an unavailable file
    QString state = {};  // a server's SQLSTATE ("23505"); empty for the file

    bool ok() const { return kind == Kind::None; }
    bool duplicate() const { return kind == Kind::Duplicate; }
    bool busy() const { return kind == Kind::Busy; }
    bool changed() const { return kind == Kind::Changed; }
    bool forbidden() const { return kind == Kind::Forbidden; }

    // The classifiers only name the kind: they change nothing. The owner of
    // the connection reacts to what an error says (error_of and noticed in
    // connection.h: a damaged file is marked, a lost server forgotten).
    // `server`: the error came from a server's connection (one that stopped
    // answering gives no SQLSTATE).
    static DbError from(const QSqlError& error, bool server = false);
    // Classifies SQLite's (extended) result code: 1555 and 2067 are duplicate
    // keys, 5 and 6 and their extended forms a busy or locked database, 11 a
    // damaged file.
    static DbError from_code(int code, const QString& description);
    // Classifies a PostgreSQL SQLSTATE: 23505 is a duplicate key; a lock
    // timeout, a serialization failure or a deadlock is busy; a lost
    // connection makes the server unavailable.
    static DbError from_sqlstate(const QString& state, const QString& description);
    static DbError other(const QString& description) { return {Kind::Other, 0, description}; }
};

template <typename T> struct DbResult {
    T value{};
    DbError error;
    bool ok() const { return error.ok(); }
};

#pragma once

#include <QString>

class QSqlError;

// A failed database statement, as a value. The screens tell a duplicate key
// apart (their "ID already exists" messages) and a database kept busy by other
// workstations; everything else is "other".
struct DbError {
    // Changed: the row is no longer what the screen looked up (another
    // workstation stored something in between); nothing was written.
    // Damaged: the file is corrupt; the run writes nothing more to it.
    // Replaced: the file was restored from a backup under the running program.
    enum class Kind { None, Duplicate, Busy, Unavailable, NotFound, Changed, Damaged, Replaced, Other };

    Kind kind = Kind::None;
    int code = 0;        // the engine's (extended) result code
    QString description; // the engine's own words, or ours for an unavailable file

    bool ok() const { return kind == Kind::None; }
    bool duplicate() const { return kind == Kind::Duplicate; }
    bool busy() const { return kind == Kind::Busy; }
    bool changed() const { return kind == Kind::Changed; }

    static DbError from(const QSqlError& error);
    // Classifies SQLite's (extended) result code: 1555 and 2067 are duplicate
    // keys, 5 and 6 and their extended forms a busy or locked database.
    static DbError from_code(int code, const QString& description);
    static DbError other(const QString& description) { return {Kind::Other, 0, description}; }
};

template <typename T> struct DbResult {
    T value{};
    DbError error;
    bool ok() const { return error.ok(); }
};

#pragma once

#include <QSqlDatabase>
#include <QString>

// A connection that can only read, for the queries of a report file: a
// read-only connection of its own to the file at `path`, closed and removed
// again when it goes; or, with `shared` set, the shared connection made
// read-only for as long as this lives (a build reading its own uncommitted
// rows back). Every statement on it is cut off after `max_milliseconds`.
class ReadingConnection {
public:
    ReadingConnection(const QString& path, bool shared, int max_milliseconds);
    ~ReadingConnection();
    ReadingConnection(const ReadingConnection&) = delete;
    ReadingConnection& operator=(const ReadingConnection&) = delete;

    QSqlDatabase db() const { return shared_.isValid() ? shared_ : QSqlDatabase::database(name_, false); }
    // Why it could not be opened; empty when it is open.
    const QString& error() const { return error_; }
    // Whether `table` (spelt as the schema spells it) has a field of this name, in any letter case.
    bool has_field(const QString& table, const QString& field) const;

private:
    QSqlDatabase shared_;
    QString name_;
    QString error_;
    bool nested_ = false; // reading in a savepoint of the build's transaction (on a server)
};

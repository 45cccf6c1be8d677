#pragma once

#include "analyzer_results.h"

#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

// The listener's own durable store: every complete message is written here,
// one file each, before its analyzer is answered, and taken into the database
// from here in the order it came. So a database that is busy or a server that
// is down for a while costs a wait, never a result: the analyzer's answer does
// not depend on it. A file is written under a temporary name, synced, renamed
// and its folder synced; it is removed only once the database has committed
// it. A message taken twice (the listener stopped between the commit and the
// removal) is recognised by its key and stored once.
//
// One listener uses a spool folder at a time (it holds a lock on it).
class Spool {
public:
    explicit Spool(QString folder);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Creates the folder if needed, takes its lock and clears what a write
    // cut short left; an empty text, or why the spool cannot be used.
    QString open();
    const QString& folder() const { return folder_; }

    // Writes the message durably; an empty text, or why it could not be (the
    // analyzer is then told it was not taken). Safe from any thread.
    QString put(ReceivedMessage message);

    // The spooled messages' files, oldest first.
    QStringList waiting() const;
    // A spooled message; nothing when the file cannot be read as one.
    static std::optional<ReceivedMessage> read(const QString& path);
    // Removes a file whose message the database has committed (or one that
    // cannot be read, moved aside into "unreadable").
    void remove(const QString& path) const;
    void set_aside(const QString& path) const;

private:
    QString folder_;
    int lock_fd_ = -1;
    QMutex mutex_;
    quint64 next_ = 1;
};

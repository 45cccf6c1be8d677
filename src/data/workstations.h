#pragma once

#include "db_error.h"

#include <QString>
#include <QStringList>

#include <functional>

// Every running program registers itself in the database it opens and says
// every half minute that it is still there; it removes its row when it ends
// (the exit icon, its last window closed, or a stop signal). A restore refuses while any
// program is registered and alive (idle at the menu or not), and a program
// whose file was replaced under it (a forced restore) finds its registration
// gone: it is told, and registers afresh on the restored file.

// A registration not renewed for this long belongs to a workstation that
// stopped without saying so (a crash, a power cut).
inline constexpr int kWorkstationAliveSeconds = 120;
inline constexpr int kHeartbeatSeconds = 30;

// This program's registration (workstations.id), 0 while it has none.
qint64 registered_workstation();

// Makes the registry the shared connection's watcher (connection.h): every
// program calls it where it starts, and the test fixtures where they make a
// program folder.
void keep_workstation_registry();

// The watcher's parts: registering when the connection opens, leaving before
// it closes, and, inside a write transaction, a Replaced error when this
// program's registration is gone from the file (the transaction is rolled
// back and the program registers afresh). The heartbeat finds it too, and
// tells the user.
void register_workstation();
void unregister_workstation();
DbError check_still_registered();

// What the program does when it finds its file replaced (the shell tells the user).
void set_on_file_replaced(std::function<void()> tell);

// The setting a restore writes (a new mark each time): a program whose
// registration is gone was restored under only when the mark changed.
inline constexpr char kRestoredAt[] = "restored-at";

// Whether the process `pid` of `host` may still be running: a process of
// this machine that no longer exists is not (whatever its row says).
bool process_may_live(const QString& host, qint64 pid);

// The programs that have the database file at `path` open now ("host, pid N,
// user, since ..."), read through a connection of its own; empty when none.
// A file without the registry (an older version) counts as unused.
DbResult<QStringList> live_workstations(const QString& path);

// Tests: the heartbeat's period in milliseconds.
void set_heartbeat_ms_for_tests(int ms);

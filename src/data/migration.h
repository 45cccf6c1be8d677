#pragma once

#include <QList>
#include <QString>

// Moving a laboratory from its database file to a PostgreSQL server: every
// table of the file copied into a server database that holds no laboratory
// data yet (made by "tavora-lab-admin init URL"; the built-in logins it was
// seeded with are replaced by the file's), in one transaction that commits
// only when every table's row count and checksum read back from the server
// equal the file's.

struct TableCopy {
    QString table;
    qint64 rows = 0;
    QString checksum; // of the file's rows; the server's matched it
};

struct Migration {
    QList<TableCopy> tables;
    QString error;             // empty when everything was copied and checked
    bool not_a_server = false; // the target named is not a server's URL: nothing was tried
};

Migration migrate_to_server(const QString& file, const QString& url);

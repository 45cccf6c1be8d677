#pragma once

// What the admin tool's commands share (admin.cpp), and the commands about
// people and the journal (admin_people.cpp), and about orders (admin_orders.cpp).

#include "accounts.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

int usage(QTextStream& err);

// Who the admin tool acts for: the system user who runs it, with every
// right (whoever may run it on the database may change it anyway).
Actor tool_actor();

// The options of a command: --name value pairs, and at most `plain` other words.
struct Options {
    QHash<QString, QString> named;
    QStringList plain;
};
std::optional<Options> options(const QStringList& args, const QStringList& names, int plain);

// The Qt driver of a database named on the command line: a server's URL, or a file.
QString driver_for(const QString& path);
// Opens `db` on a file (which must exist) or a server; an empty text, or the reason.
QString open_named_database(QSqlDatabase& db, const QString& path, bool read_only);
// A database as messages name it: a file's path, or a server's URL without its password.
QString shown_database(const QString& path);
// What is said when the database named on the command line cannot be opened (no password shown).
QString cannot_open_named(const QString& path, const QString& reason);

int journal(QStringList args, QTextStream& out, QTextStream& err);
int user(QStringList args, QTextStream& out, QTextStream& err);
int label(const QStringList& args, QTextStream& out, QTextStream& err);
int tat(const QStringList& args, QTextStream& out, QTextStream& err);
int mail(const QStringList& args, QTextStream& out, QTextStream& err);
int doctor(const QStringList& args, QTextStream& out, QTextStream& err);

#pragma once

#include "db_error.h"

#include <QSqlDatabase>
#include <QString>

// The laboratory's settings (the settings table), read through `db`; a
// setting never set reads as empty. require-verification: "on" or "off".
inline constexpr char kRequireVerification[] = "require-verification";
QString setting(const QSqlDatabase& db, const QString& name);
DbError set_setting(const QSqlDatabase& db, const QString& name, const QString& value);

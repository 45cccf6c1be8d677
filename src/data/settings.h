#pragma once

#include "db_error.h"

#include <QSqlDatabase>
#include <QString>

// The laboratory's settings (the settings table), read through `db`; a
// setting never set reads as empty. require-verification: "on" or "off"
// (off when unset). self-verification: "off" when a pathologist may not
// verify a report they entered themselves (on when unset).
inline constexpr char kRequireVerification[] = "require-verification";
inline constexpr char kSelfVerification[] = "self-verification";
QString setting(const QSqlDatabase& db, const QString& name);
DbError set_setting(const QSqlDatabase& db, const QString& name, const QString& value);

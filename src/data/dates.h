#pragma once

#include <QDate>
#include <QString>

// Dates are stored as ISO text (YYYY-MM-DD) and shown in the system's short form.
QString today_iso();
QString display_date(const QString& iso);
QString display_date(const QDate& date);

#pragma once

#include <QDate>
#include <QString>

// Dates are stored as ISO text (YYYY-MM-DD) and shown in the system's short form.
QString today_iso();
QString display_date(const QString& iso);
QString display_date(const QDate& date);

// Whether a column holds a date (its name ends in "date": reg_date, t_date),
// so lists and reports show it in the short form.
bool is_date_column(const QString& column);

#pragma once

#include <QDate>
#include <QString>

// Dates are stored as ISO text (YYYY-MM-DD) and shown in the system's short form.

// The one clock of the program: every "today" it writes or shows comes from
// here, so a test can move the date (saved yesterday, modified today; backups
// on two days) and nothing depends on the wall clock crossing midnight.
QDate today();
// Tests only: a fixed date for today(); an invalid date restores the real clock.
void set_today_for_tests(const QDate& date);

QString today_iso();
QString display_date(const QString& iso);
QString display_date(const QDate& date);
// An ISO date and time as the screens and reports show it: the date as
// above, then HH:mm; a text that is no date and time comes back as it is.
QString display_date_time(const QString& iso);
// Now, as the records keep it: ISO date and time to the second.
QString now_iso();

// Whether a column holds a date (its name ends in "date": reg_date, t_date),
// so lists and reports show it in the short form.
bool is_date_column(const QString& column);

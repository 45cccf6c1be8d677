#include "dates.h"

#include <QDateTime>
#include <QLocale>

namespace {

QDate& fixed_today() {
    static QDate date;
    return date;
}

} // namespace

QDate today() {
    return fixed_today().isValid() ? fixed_today() : QDate::currentDate();
}

void set_today_for_tests(const QDate& date) {
    fixed_today() = date;
}

QString today_iso() {
    return today().toString(Qt::ISODate);
}

QString display_date(const QDate& date) {
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString display_date(const QString& iso) {
    const QDate date = QDate::fromString(iso, Qt::ISODate);
    return date.isValid() ? display_date(date) : iso;
}

QString display_date_time(const QString& iso) {
    // Read as a date and a time of day, never through the time zone (which
    // costs a look at the zone's file per value in a long list).
    const QDate date = QDate::fromString(iso.left(10), Qt::ISODate);
    const QTime time =
        iso.size() > 11 && iso[10] == u'T' ? QTime::fromString(iso.mid(11, 8), Qt::ISODate) : QTime();
    return date.isValid() && time.isValid()
               ? display_date(date) + u' ' + time.toString(QStringLiteral("HH:mm"))
               : iso;
}

QString now_iso() {
    return QDateTime::currentDateTime().toString(Qt::ISODate);
}

bool is_date_column(const QString& column) {
    return column.endsWith(QLatin1String("date"), Qt::CaseInsensitive);
}

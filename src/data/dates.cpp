#include "dates.h"

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

bool is_date_column(const QString& column) {
    return column.endsWith(QLatin1String("date"), Qt::CaseInsensitive);
}

#include "dates.h"

#include <QLocale>

QString today_iso() {
    return QDate::currentDate().toString(Qt::ISODate);
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

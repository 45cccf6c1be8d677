#include "investigations.h"

namespace catalogue {

const Investigation* by_table(const QString& table) {
    for (const Investigation* t : kAll)
        if (table.compare(QLatin1String(t->table), Qt::CaseInsensitive) == 0) return t;
    return nullptr;
}

const Investigation* by_test(const QString& test) {
    for (const Investigation* t : kAll)
        if (test.compare(QString::fromUtf8(t->test), Qt::CaseInsensitive) == 0 ||
            test.compare(QLatin1String(t->consolidated_name), Qt::CaseInsensitive) == 0)
            return t;
    return nullptr;
}

const Investigation* by_screen(const QString& screen) {
    for (const Investigation* t : kAll)
        if (screen == QLatin1String(t->screen)) return t;
    return nullptr;
}

} // namespace catalogue

#include "trends.h"

#include "records.h"

#include <algorithm>

QString TrendItem::shown() const {
    return QStringLiteral("%1: %2").arg(QString::fromUtf8(test->test), item.simplified());
}

DbResult<QList<TrendItem>> trend_items(qint64 patient_id) {
    // The items of every test table, in one statement.
    QStringList parts;
    QVariantList binds;
    for (const Investigation* test : catalogue::kAll) {
        parts << QStringLiteral("SELECT DISTINCT '%1', r.item FROM test_main AS m JOIN %1 AS r ON r.lab_id = "
                                "m.lab_id WHERE m.patient_id = ?")
                     .arg(QString::fromLatin1(test->table));
        binds << patient_id;
    }
    auto rows = select_rows(parts.join(QStringLiteral(" UNION ALL ")), binds);
    if (!rows.ok()) return {{}, rows.error};
    QList<TrendItem> out;
    for (const Investigation* test : catalogue::kAll) {
        QStringList items;
        for (const Row& r : rows.value)
            if (catalogue::by_table(r.text(0)) == test)
                if (const NormalRange* range = normal_range(*test, r.text(1)); range && range->any())
                    items << r.text(1);
        std::sort(items.begin(), items.end());
        for (const QString& item : items)
            out << TrendItem{test, item};
    }
    return {out, {}};
}

DbResult<Trend> trend(qint64 patient_id, const TrendItem& item) {
    Trend t{item, {}, std::nullopt};
    auto rows = select_rows(
        QStringLiteral("SELECT m.lab_id, m.t_date, r.result FROM test_main AS m JOIN %1 AS r ON r.lab_id = "
                       "m.lab_id WHERE m.patient_id = ? AND r.item = ? ORDER BY m.t_date, m.lab_id")
            .arg(QString::fromLatin1(item.test->table)),
        {patient_id, item.item});
    if (!rows.ok()) return {t, rows.error};
    // One patient: one sex and age, one range for every point.
    auto patient =
        select_first(QStringLiteral("SELECT sex, age FROM registration WHERE patient_id = ?"), {patient_id});
    if (!patient.ok()) return {t, patient.error};
    const QString sex = patient.value ? patient.value->text(0) : QString(),
                  age = patient.value ? patient.value->text(1) : QString();
    const AppliedRange applied = applied_range(*item.test, item.item, sex, age);
    for (const Row& r : rows.value) {
        const auto value = leading_number(r.text(2));
        if (!value) continue;
        t.points << TrendPoint{QDate::fromString(r.text(1), Qt::ISODate), r.value(0).toLongLong(), *value,
                               r.text(2), flag_against(*item.test, item.item, r.text(2), applied)};
    }
    t.normal = applied.bounds;
    return {t, {}};
}

#include "patient_search.h"

#include "database.h"
#include "investigations.h"
#include "number_value.h"

ListQuery patient_search(const QString& typed, const QString& order, bool descending) {
    ListQuery q;
    q.table = QStringLiteral("registration");
    q.key = QStringLiteral("patient_id");
    q.columns = kFoundColumns;
    q.order = kFoundColumns.contains(order) ? order : QStringLiteral("reg_date");
    q.descending = descending;
    const QString text = typed.trimmed();
    if (text.isEmpty()) return q;
    q.limit = kMostFound;
    const Database& engine = Database::current();
    const QStringList searched = {QStringLiteral("patient_name"), QStringLiteral("phone"),
                                  QStringLiteral("mobile")};
    SqlPart found;
    if (text.size() >= 3) {
        found = engine.patients_holding(text, kMostFound);
    } else {
        // One or two characters look among the most recent registrations
        // only, newest first, so that every keystroke answers at once. A
        // patient's number is the largest + 1 when registered, so the latest
        // registrations are the largest numbers: read in the table's own
        // order, without a look-up per row through the date's index.
        const SqlPart holds = engine.any_column_holds(searched, text);
        found = {QStringLiteral("SELECT patient_id FROM registration WHERE patient_id >= "
                                "coalesce((SELECT patient_id FROM registration ORDER BY patient_id DESC "
                                "LIMIT 1 OFFSET %1), 0) AND (%2) ORDER BY patient_id DESC LIMIT %3")
                     .arg(kRecentlyRegistered - 1)
                     .arg(holds.sql)
                     .arg(kMostFound),
                 holds.binds};
    }
    QStringList any = {engine.in_subquery(QStringLiteral("patient_id"), found.sql)};
    q.binds << found.binds;
    bool digits = false;
    const qint64 number = text.toLongLong(&digits);
    if (digits && number >= 0) {
        any << QStringLiteral("patient_id = ?")
            << engine.in_subquery(QStringLiteral("patient_id"),
                                  QStringLiteral("SELECT patient_id FROM test_main WHERE lab_id = ?"));
        q.binds << number << number;
    }
    q.where = any.join(QLatin1String(" OR "));
    return q;
}

DbResult<QList<qint64>> exact_patients(const QString& typed) {
    DbResult<QList<qint64>> out;
    const auto number = whole_number(typed);
    if (!number) return out;
    for (const char* sql : {"SELECT patient_id FROM registration WHERE patient_id = ?",
                            "SELECT registration.patient_id FROM test_main JOIN registration "
                            "ON registration.patient_id = test_main.patient_id WHERE test_main.lab_id = ?"}) {
        auto found = select_first(QString::fromLatin1(sql), {*number});
        if (!found.ok()) return {{}, found.error};
        if (found.value && !out.value.contains(found.value->value(0).toLongLong()))
            out.value << found.value->value(0).toLongLong();
    }
    return out;
}

ListQuery report_history(qint64 patient_id) {
    ListQuery q;
    q.table = QStringLiteral("test_main");
    q.key = QStringLiteral("lab_id");
    q.where = QStringLiteral("patient_id = ?");
    q.binds = {patient_id};
    q.columns = kHistoryColumns;
    // Who verified each report (empty while nobody has).
    q.looked_up = {{QStringLiteral("verified_by"), QStringLiteral("report_signoff"),
                    QStringLiteral("verified_by"), QStringLiteral("lab_id"), QStringLiteral("lab_id")}};
    q.order = QStringLiteral("t_date");
    q.descending = true;
    return q;
}

DbResult<int> fill_cumulative(qint64 patient_id, const QString& test, const QDate& from, const QDate& to,
                              const Trend* chart) {
    const Investigation* table = catalogue::by_test(test);
    if (!table) return {0, DbError::other(QStringLiteral("\"%1\" is not one of the tests").arg(test))};
    // Scratch tables of this connection alone: no other workstation sees them.
    for (const char* sql :
         {"CREATE TEMP TABLE IF NOT EXISTS cumulative_about (patient_id INTEGER, test TEXT, from_date TEXT, "
          "to_date TEXT)",
          "CREATE TEMP TABLE IF NOT EXISTS cumulative_grid (item_order INTEGER, item TEXT, col INTEGER, "
          "lab_id INTEGER, t_date TEXT, result TEXT, test_table TEXT, block INTEGER)",
          "CREATE TEMP TABLE IF NOT EXISTS cumulative_chart (t_date TEXT, lab_id INTEGER, value TEXT, flag "
          "TEXT, "
          "low TEXT, high TEXT, item TEXT)",
          "DELETE FROM cumulative_about", "DELETE FROM cumulative_grid", "DELETE FROM cumulative_chart"})
        if (DbError e = execute(QString::fromLatin1(sql)); !e.ok()) return {0, e};
    if (DbError e = Database::current().let_reports_read_scratch({QStringLiteral("cumulative_about"),
                                                                  QStringLiteral("cumulative_grid"),
                                                                  QStringLiteral("cumulative_chart")});
        !e.ok())
        return {0, e};
    if (chart) {
        const auto bound = [](bool has, double v) { return has ? QString::number(v) : QString(); };
        const QString low = chart->normal ? bound(chart->normal->has_low, chart->normal->low) : QString();
        const QString high = chart->normal ? bound(chart->normal->has_high, chart->normal->high) : QString();
        for (const TrendPoint& point : chart->points) {
            if (point.date < from || point.date > to) continue;
            if (DbError e =
                    execute(QStringLiteral("INSERT INTO cumulative_chart VALUES (?, ?, ?, ?, ?, ?, ?)"),
                            {point.date.toString(Qt::ISODate), point.lab_id, QString::number(point.value),
                             point.flag, low, high, chart->item.shown()});
                !e.ok())
                return {0, e};
        }
    }
    const QString first = from.toString(Qt::ISODate), last = to.toString(Qt::ISODate);
    if (DbError e = execute(QStringLiteral("INSERT INTO cumulative_about VALUES (?, ?, ?, ?)"),
                            {patient_id, QString::fromUtf8(table->test), first, last});
        !e.ok())
        return {0, e};
    const DbError e =
        execute(QStringLiteral(
                    "WITH cols AS (SELECT row_number() OVER (ORDER BY t_date, lab_id) AS col, lab_id, "
                    "t_date FROM test_main "
                    "              WHERE patient_id = ? AND test = ? AND t_date BETWEEN ? AND ?), "
                    "     items AS (SELECT r.item, row_number() OVER (ORDER BY min(r.rowid)) AS ord "
                    "               FROM %1 AS r JOIN cols ON cols.lab_id = r.lab_id GROUP BY r.item) "
                    "INSERT INTO cumulative_grid "
                    "SELECT items.ord, items.item, cols.col, cols.lab_id, cols.t_date, "
                    "       coalesce((SELECT r.result FROM %1 AS r WHERE r.lab_id = cols.lab_id AND r.item "
                    "= items.item "
                    "               ORDER BY r.rowid LIMIT 1), ''), ?, (cols.col - 1) / %2 + 1 "
                    "  FROM items, cols")
                    .arg(QString::fromLatin1(table->table))
                    .arg(kCumulativeDatesPerTable),
                {patient_id, QString::fromUtf8(table->test), first, last, QString::fromLatin1(table->table)});
    if (!e.ok()) return {0, e};
    auto reports = select_first(QStringLiteral("SELECT count(DISTINCT col) FROM cumulative_grid"));
    if (!reports.ok()) return {0, reports.error};
    return {reports.value ? reports.value->value(0).toInt() : 0, {}};
}

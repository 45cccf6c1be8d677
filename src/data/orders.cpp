#include "orders.h"

#include "core_tables.h"
#include "dates.h"
#include "journal.h"
#include "records.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

QString priority_text(Priority p) {
    return p == Priority::Urgent ? QStringLiteral("urgent") : QStringLiteral("routine");
}

// The next accession of the series, inside the order's write transaction:
// the write holds the setting's row until the commit, so two workstations
// never read the same number, and a number once given is never given again
// (an order that fails rolls its number back with it).
DbResult<qint64> next_accession() {
    if (DbError e =
            execute(QStringLiteral("UPDATE settings SET value = CAST(CAST(value AS INTEGER) + 1 AS TEXT) "
                                   "WHERE name = 'accession-last'"));
        !e.ok())
        return {0, e};
    auto row = select_first(QStringLiteral("SELECT value FROM settings WHERE name = 'accession-last'"));
    if (!row.ok()) return {0, row.error};
    if (!row.value) return {0, DbError::other(QStringLiteral("the accessions' series is missing"))};
    return {row.value->value(0).toLongLong(), {}};
}

QList<const Investigation*> in_catalogue_order(QList<const Investigation*> tests) {
    QList<const Investigation*> ordered;
    for (const Investigation* t : catalogue::kAll)
        if (tests.contains(t)) ordered << t;
    return ordered;
}

DbError stamp(const Actor& who, qint64 accession, const char* at, const char* by) {
    if (DbError e = require(who, Right::Order); !e.ok()) return e;
    return in_transaction([&]() -> DbError {
        auto row = select_first(
            QStringLiteral("SELECT %1 FROM order_samples WHERE accession = ?").arg(QLatin1String(at)),
            {accession});
        if (!row.ok()) return row.error;
        if (!row.value)
            return {DbError::Kind::NotFound, 0,
                    QStringLiteral("There is no order %1.").arg(accession_text(accession))};
        if (!row.value->text(0).isEmpty()) return {}; // recorded already: kept
        return execute(QStringLiteral("UPDATE order_samples SET %1 = ?, %2 = ? WHERE accession = ?")
                           .arg(QLatin1String(at), QLatin1String(by)),
                       {now_iso(), journal_user_name(), accession});
    });
}

// What the queries of the waiting list and of one accession read.
// `from` names the orders read, as `o`.
QString sample_query(const QString& from) {
    return QStringLiteral(
               "SELECT o.accession, o.patient_id, r.patient_name, r.age, r.sex, o.ref_by, s.sample_kind, "
               "o.priority, o.ordered_at, s.collected_at, s.received_at, o.note FROM %1 "
               "JOIN order_samples AS s ON s.accession = o.accession "
               "LEFT JOIN registration AS r ON r.patient_id = o.patient_id ")
        .arg(from);
}

OrderedSample sample_of(const Row& r) {
    OrderedSample s;
    s.accession = r.value(0).toLongLong();
    s.patient_id = r.value(1).toLongLong();
    s.patient_name = r.text(2);
    s.age = r.text(3);
    s.sex = r.text(4);
    s.ref_by = r.text(5);
    s.sample = catalogue::sample_named(r.text(6)).value_or(catalogue::SampleKind::Blood);
    s.urgent = r.text(7) == QLatin1String("urgent");
    s.ordered_at = r.text(8);
    s.collected_at = r.text(9);
    s.received_at = r.text(10);
    s.note = r.text(11);
    return s;
}

// The tests of the accessions read, each in the order of the catalogue.
DbError add_tests(QList<OrderedSample>& samples, const QString& which, const QVariantList& binds) {
    auto rows =
        select_rows(QStringLiteral("SELECT accession, test, lab_id FROM order_tests WHERE ") + which, binds);
    if (!rows.ok()) return rows.error;
    QHash<qint64, OrderedSample*> by_accession;
    for (OrderedSample& s : samples)
        by_accession.insert(s.accession, &s);
    for (const Row& r : rows.value) {
        OrderedSample* s = by_accession.value(r.value(0).toLongLong());
        const Investigation* test = catalogue::by_test(r.text(1));
        if (!s || !test) continue;
        s->tests << test;
        if (r.value(2).toLongLong() == 0) s->waiting << test;
    }
    for (OrderedSample& s : samples) {
        s.tests = in_catalogue_order(s.tests);
        s.waiting = in_catalogue_order(s.waiting);
    }
    return {};
}

double minutes_between(const QString& from, const QString& to) {
    return QDateTime::fromString(from, Qt::ISODate).secsTo(QDateTime::fromString(to, Qt::ISODate)) / 60.0;
}

// The median (the middle value, or the mean of the two middle ones) and the
// 90th percentile by nearest rank (the smallest value at or above 90 % of them).
std::pair<double, double> median_and_p90(QList<double> v) {
    if (v.isEmpty()) return {0, 0};
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    const qsizetype rank = qsizetype(std::ceil(0.9 * double(n)));
    return {median, v[std::max<qsizetype>(rank, 1) - 1]};
}

} // namespace

QString accession_text(qint64 accession) {
    return QStringLiteral("A%1").arg(accession);
}

std::optional<qint64> accession_number(const QString& typed) {
    static const QRegularExpression form(QStringLiteral("^\\s*[Aa]?(\\d{1,15})\\s*$"));
    const auto m = form.match(typed);
    if (!m.hasMatch()) return std::nullopt;
    const qint64 n = m.captured(1).toLongLong();
    if (n <= 0) return std::nullopt;
    return n;
}

std::optional<qint64> accession_in_sample_id(const QString& sample_id) {
    return sample_id.trimmed().startsWith(u'A', Qt::CaseInsensitive) ? accession_number(sample_id)
                                                                     : std::nullopt;
}

DbResult<QList<qint64>> place_order(const Actor& who, const OrderRequest& order) {
    if (DbError e = require(who, Right::Order); !e.ok()) return {{}, e};
    const QList<const Investigation*> tests = in_catalogue_order(order.tests);
    if (tests.isEmpty()) return {{}, DbError::other(QStringLiteral("No test is ticked."))};
    QList<qint64> given;
    const DbError saved = in_transaction([&]() -> DbError {
        given.clear();
        auto patient = find_patient(order.patient_id);
        if (!patient.ok()) return patient.error;
        if (!patient.value) return {DbError::Kind::NotFound, 0, QStringLiteral("Patient ID does not exist")};
        const QString at = now_iso();
        // One accession for each kind of sample the tests need, kinds in
        // the order the catalogue first names them.
        QList<catalogue::SampleKind> kinds;
        for (const catalogue::Sampling& s : catalogue::kSampling)
            if (!kinds.contains(s.sample)) kinds << s.sample;
        for (const catalogue::SampleKind kind : kinds) {
            QList<const Investigation*> of_kind;
            for (const Investigation* t : tests)
                if (catalogue::sampling(t).sample == kind) of_kind << t;
            if (of_kind.isEmpty()) continue;
            auto accession = next_accession();
            if (!accession.ok()) return accession.error;
            const qint64 a = accession.value;
            DbError e = add_row(QStringLiteral("orders"),
                                {{QStringLiteral("accession"), a},
                                 {QStringLiteral("patient_id"), order.patient_id},
                                 {QStringLiteral("ref_by"), stored_text(order.ref_by)},
                                 {QStringLiteral("priority"), priority_text(order.priority)},
                                 {QStringLiteral("ordered_by"), journal_user_name()},
                                 {QStringLiteral("ordered_at"), at},
                                 {QStringLiteral("note"), stored_text(order.note)}});
            if (!e.ok()) return e;
            e = add_row(QStringLiteral("order_samples"),
                        {{QStringLiteral("accession"), a},
                         {QStringLiteral("sample_kind"), catalogue::sample_name(kind)}});
            if (!e.ok()) return e;
            QJsonArray names;
            for (const Investigation* t : of_kind) {
                e = add_row(
                    QStringLiteral("order_tests"),
                    {{QStringLiteral("accession"), a}, {QStringLiteral("test"), QString::fromUtf8(t->test)}});
                if (!e.ok()) return e;
                names << QString::fromUtf8(t->test);
            }
            e = journal_change(QStringLiteral("create"), QStringLiteral("orders"), a,
                               {{QStringLiteral("patient_id"), order.patient_id},
                                {QStringLiteral("ref_by"), order.ref_by},
                                {QStringLiteral("priority"), priority_text(order.priority)},
                                {QStringLiteral("sample_kind"), catalogue::sample_name(kind)},
                                {QStringLiteral("tests"), names},
                                {QStringLiteral("note"), order.note}});
            if (!e.ok()) return e;
            given << a;
        }
        return {};
    });
    if (!saved.ok()) return {{}, saved};
    return {given, {}};
}

DbResult<bool> laboratory_orders() {
    auto row = select_first(QStringLiteral("SELECT 1 FROM orders LIMIT 1"));
    return {row.ok() && row.value.has_value(), row.error};
}

DbResult<std::optional<OrderedSample>> ordered_sample(qint64 accession) {
    auto rows = select_rows(
        sample_query(QStringLiteral("orders AS o")) + QStringLiteral("WHERE o.accession = ?"), {accession});
    if (!rows.ok()) return {std::nullopt, rows.error};
    if (rows.value.isEmpty()) return {std::nullopt, {}};
    QList<OrderedSample> samples{sample_of(rows.value.first())};
    if (DbError e = add_tests(samples, QStringLiteral("accession = ?"), {accession}); !e.ok())
        return {std::nullopt, e};
    return {samples.first(), {}};
}

namespace {

// The waiting list's order: urgent first, then oldest.
constexpr char kListOrder[] =
    "ORDER BY CASE WHEN o.priority = 'urgent' THEN 0 ELSE 1 END, o.ordered_at, o.accession";

// The waiting accessions in the list's order, read once as a list (a
// correlated look-up per order walked every waiting test for each order).
QString waiting_in_order() {
    return QStringLiteral("SELECT o.accession FROM orders AS o "
                          "WHERE o.accession IN (SELECT accession FROM order_tests WHERE lab_id = 0) ") +
           QLatin1String(kListOrder);
}

} // namespace

DbResult<QList<OrderedSample>> waiting_samples(int limit, int offset) {
    // The page's accessions are chosen first, so that only they are joined
    // to their patients and samples.
    const QString page = limit < 0 ? QString() : QStringLiteral(" LIMIT %1 OFFSET %2").arg(limit).arg(offset);
    auto rows =
        select_rows(sample_query(QStringLiteral("(%1%2) AS w JOIN orders AS o ON o.accession = w.accession")
                                     .arg(waiting_in_order(), page)) +
                    QLatin1String(kListOrder));
    if (!rows.ok()) return {{}, rows.error};
    QList<OrderedSample> samples;
    QStringList accessions;
    for (const Row& r : rows.value) {
        samples << sample_of(r);
        accessions << QString::number(samples.last().accession);
    }
    if (samples.isEmpty()) return {samples, {}};
    // A page's tests by its accessions (numbers read back, so safe in the
    // text); the whole list's by the same choice as its rows.
    const QString which =
        limit < 0 ? QStringLiteral("accession IN (SELECT accession FROM order_tests WHERE lab_id = 0)")
                  : QStringLiteral("accession IN (%1)").arg(accessions.join(u','));
    if (DbError e = add_tests(samples, which, {}); !e.ok()) return {{}, e};
    return {samples, {}};
}

DbResult<int> waiting_count() {
    auto row =
        select_first(QStringLiteral("SELECT count(DISTINCT accession) FROM order_tests WHERE lab_id = 0"));
    if (!row.ok()) return {0, row.error};
    return {row.value ? row.value->value(0).toInt() : 0, {}};
}

DbError mark_collected(const Actor& who, qint64 accession) {
    return stamp(who, accession, "collected_at", "collected_by");
}

DbError mark_received(const Actor& who, qint64 accession) {
    return stamp(who, accession, "received_at", "received_by");
}

DbError link_report(qint64 accession, const Investigation* test, const QVariant& lab_id) {
    const QString name = QString::fromUtf8(test->test);
    auto row = select_first(QStringLiteral("SELECT lab_id FROM order_tests WHERE accession = ? AND test = ?"),
                            {accession, name});
    if (!row.ok()) return row.error;
    if (!row.value)
        return {DbError::Kind::NotFound, 0,
                QStringLiteral("The order %1 has no %2.").arg(accession_text(accession), name)};
    if (const qint64 earlier = row.value->value(0).toLongLong(); earlier != 0)
        return {DbError::Kind::Changed, 0,
                QStringLiteral("The %1 of order %2 was resulted already, as lab id %3.")
                    .arg(name, accession_text(accession))
                    .arg(earlier)};
    return execute(QStringLiteral("UPDATE order_tests SET lab_id = ? WHERE accession = ? AND test = ?"),
                   {lab_id, accession, name});
}

DbError note_printed(qint64 lab_id) {
    return execute(
        QStringLiteral(
            "UPDATE order_tests SET first_printed_at = ? WHERE lab_id = ? AND first_printed_at = ''"),
        {now_iso(), lab_id});
}

DbResult<QList<qint64>> accessions_to_push(const QString& analyzer, const QString& resend_before, int most) {
    auto rows = select_rows(
        QStringLiteral(
            "SELECT s.accession FROM order_samples AS s WHERE s.received_at <> '' AND "
            "s.accession IN (SELECT accession FROM order_tests WHERE lab_id = 0) AND NOT EXISTS "
            "(SELECT 1 FROM order_pushes AS p WHERE p.accession = s.accession AND p.analyzer = ? AND "
            "(p.acknowledged_at <> '' OR p.sent_at >= ?)) "
            "ORDER BY s.accession LIMIT %1")
            .arg(most),
        {analyzer, resend_before});
    if (!rows.ok()) return {{}, rows.error};
    QList<qint64> out;
    for (const Row& r : rows.value)
        out << r.value(0).toLongLong();
    return {out, {}};
}

DbError note_pushed(qint64 accession, const QString& analyzer, const QString& control_id) {
    return in_transaction([&] {
        if (DbError e =
                execute(QStringLiteral("DELETE FROM order_pushes WHERE accession = ? AND analyzer = ?"),
                        {accession, analyzer});
            !e.ok())
            return e;
        return add_row(QStringLiteral("order_pushes"), {{QStringLiteral("accession"), accession},
                                                        {QStringLiteral("analyzer"), analyzer},
                                                        {QStringLiteral("control_id"), control_id},
                                                        {QStringLiteral("sent_at"), now_iso()}});
    });
}

DbError note_push_acknowledged(const QString& analyzer, const QString& control_id) {
    return execute(QStringLiteral("UPDATE order_pushes SET acknowledged_at = ? "
                                  "WHERE analyzer = ? AND control_id = ? AND acknowledged_at = ''"),
                   {now_iso(), analyzer, control_id});
}

DbResult<QList<Turnaround>> turnaround(QDate from, QDate to, std::optional<bool> urgent) {
    QString sql = QStringLiteral(
        "SELECT t.test, o.ordered_at, s.entered_at, s.verified_at FROM order_tests AS t "
        "JOIN orders AS o ON o.accession = t.accession JOIN report_signoff AS s ON s.lab_id = t.lab_id "
        "WHERE t.lab_id <> 0 AND s.entered_at <> '' AND substr(o.ordered_at, 1, 10) >= ? AND "
        "substr(o.ordered_at, 1, 10) <= ?");
    QVariantList binds{from.toString(Qt::ISODate), to.toString(Qt::ISODate)};
    if (urgent) {
        sql += QStringLiteral(" AND o.priority = ?");
        binds << (*urgent ? QStringLiteral("urgent") : QStringLiteral("routine"));
    }
    auto rows = select_rows(sql, binds);
    if (!rows.ok()) return {{}, rows.error};
    QHash<const Investigation*, std::pair<QList<double>, QList<double>>> times;
    for (const Row& r : rows.value) {
        const Investigation* test = catalogue::by_test(r.text(0));
        if (!test) continue;
        auto& [resulted, verified] = times[test];
        resulted << minutes_between(r.text(1), r.text(2));
        if (!r.text(3).isEmpty()) verified << minutes_between(r.text(2), r.text(3));
    }
    QList<Turnaround> out;
    for (const Investigation* test : catalogue::kAll) {
        if (!times.contains(test)) continue;
        const auto& [resulted, verified] = times[test];
        Turnaround t;
        t.test = test;
        t.resulted = int(resulted.size());
        t.verified = int(verified.size());
        std::tie(t.ordered_to_resulted_median, t.ordered_to_resulted_p90) = median_and_p90(resulted);
        std::tie(t.resulted_to_verified_median, t.resulted_to_verified_p90) = median_and_p90(verified);
        out << t;
    }
    return {out, {}};
}

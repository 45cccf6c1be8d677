#include "report_rows.h"

#include "connection.h"
#include "dates.h"
#include "lab_reports.h"
#include "normal_ranges.h"
#include "reading_connection.h"
#include "settings.h"

#include <QDateTime>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// Rows that name their test table, item and result get their flag, and the
// range it was read against where that is not the caption's own (a child's
// range, or why nothing is flagged). The patient's sex and age come from the
// rows' sex and age columns where they have them.
class Flags final : public ReportDecorator {
public:
    void add_to_rows(Table& r) const override {
        const qsizetype table = r.columns.indexOf(QLatin1String("test_table")),
                        item = r.columns.indexOf(QLatin1String("item")),
                        result = r.columns.indexOf(QLatin1String("result")),
                        sex = r.columns.indexOf(QLatin1String("sex")),
                        age = r.columns.indexOf(QLatin1String("age"));
        if (table < 0 || item < 0 || result < 0 || r.columns.contains(QLatin1String("flag"))) return;
        r.columns << QStringLiteral("flag") << QStringLiteral("applied_range");
        for (QStringList& row : r.rows) {
            const Investigation* test = catalogue::by_table(row.value(table));
            if (!test) {
                row << QString() << QString();
                continue;
            }
            const AppliedRange applied =
                applied_range(*test, row.value(item), sex < 0 ? QString() : row.value(sex),
                              age < 0 ? QString() : row.value(age));
            row << flag_against(*test, row.value(item), row.value(result), applied) << applied.shown;
        }
    }
};

// The signature line of a verified report; an unverified one is provisional
// where the laboratory requires verification.
class SignatureLine final : public ReportDecorator {
public:
    void add_about_report(const QSqlDatabase& db, qint64 lab_id, QVariantHash& values) const override {
        const auto signature = report_signature(db, lab_id);
        if (!signature) {
            values.insert(QStringLiteral("provisional"),
                          setting(db, QString::fromLatin1(kRequireVerification)) == QLatin1String("on"));
            return;
        }
        values.insert(QStringLiteral("signature"), true);
        values.insert(QStringLiteral("signature_name"), signature->full_name);
        values.insert(QStringLiteral("signature_qualification"), signature->qualification);
        values.insert(QStringLiteral("has_signature_qualification"),
                      !signature->qualification.trimmed().isEmpty());
        values.insert(QStringLiteral("signature_at"), display_date_time(signature->verified_at));
    }
};

// What a report with a critical result says below its results: to whom the
// call was made, by whom, when, and whether the values were read back; or
// that it has not been recorded yet.
QString critical_call_line(const QString& whom, const QString& by, const QString& at, bool read_back) {
    if (at.isEmpty()) return QStringLiteral("Critical value: call not yet recorded");
    QString line = QStringLiteral("Critical value called to %1 by %2 at %3")
                       .arg(whom, by,
                            QLocale::c().toString(QDateTime::fromString(at, Qt::ISODate),
                                                  QStringLiteral("d MMM yyyy HH:mm")));
    if (read_back) line += QStringLiteral(" (read back)");
    return line;
}

// The call of one report (its selection), or of every report a list of rows
// names: rows that bring their report's call (call_lab_id, call_whom, call_by,
// call_at, call_read_back, as the consolidated report's sections do) get
// the line as their critical_call column.
class CriticalCallLine final : public ReportDecorator {
public:
    void add_to_rows(Table& r) const override {
        const qsizetype lab = r.columns.indexOf(QLatin1String("call_lab_id")),
                        whom = r.columns.indexOf(QLatin1String("call_whom")),
                        by = r.columns.indexOf(QLatin1String("call_by")),
                        at = r.columns.indexOf(QLatin1String("call_at")),
                        read_back = r.columns.indexOf(QLatin1String("call_read_back"));
        if (lab < 0 || whom < 0 || by < 0 || at < 0 || read_back < 0 ||
            r.columns.contains(QLatin1String("critical_call")))
            return;
        r.columns << QStringLiteral("critical_call");
        for (QStringList& row : r.rows)
            row << (row.value(lab).isEmpty()
                        ? QString()
                        : critical_call_line(row.value(whom), row.value(by), row.value(at),
                                             row.value(read_back).toLongLong() != 0));
    }
    void add_about_report(const QSqlDatabase& db, qint64 lab_id, QVariantHash& values) const override {
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("SELECT informed_by, informed_whom, called_at, read_back FROM critical_calls "
                           "WHERE lab_id = ?"));
        q.addBindValue(lab_id);
        if (!q.exec() || !q.next()) return;
        values.insert(QStringLiteral("has_critical_call"), true);
        values.insert(QStringLiteral("critical_call"),
                      critical_call_line(q.value(1).toString(), q.value(0).toString(), q.value(2).toString(),
                                         q.value(3).toLongLong() != 0));
    }
};

} // namespace

QList<const ReportDecorator*> standard_decorators() {
    static const Flags flags;
    static const SignatureLine signature;
    static const CriticalCallLine critical_call;
    return {&flags, &signature, &critical_call};
}

ReportRows read_report_rows(const QString& file, const QList<RowQuery>& queries,
                            std::optional<RowSelection> selection, const QString& database_path, bool shared,
                            const QList<const ReportDecorator*>& decorators) {
    ReportRows out;
    if (queries.isEmpty()) return out;
    const ReadingConnection conn(database_path, shared, kMaxQueryMilliseconds);
    if (!conn.error().isEmpty()) return {{}, {}, cannot_open_message(database_path, conn.error())};
    if (selection) {
        const QString table = known_table(selection->table);
        if (table.isEmpty() || !conn.has_field(table, selection->field))
            return {
                {},
                {},
                QStringLiteral("The report %1 cannot print: the formula names %2.%3, which is not a field "
                               "of the database.")
                    .arg(file, selection->table, selection->field)};
        selection->table = table;
    }
    qint64 data_bytes = 0;
    for (const RowQuery& q : queries) {
        QString sql = q.sql;
        const int places = int(sql.count(QLatin1String("{selection}")));
        sql.replace(QLatin1String("{selection}"),
                    selection ? QStringLiteral("%1.%2 = ?").arg(selection->table, selection->field)
                              : QStringLiteral("1"));
        QSqlQuery query(conn.db());
        query.setForwardOnly(true);
        bool ok = query.prepare(sql);
        // The laboratory edits its report files: their queries may only read.
        if (ok && !statement_only_reads(query))
            return {{},
                    {},
                    QStringLiteral("The report file %1 has a query \"%2\" (line %3) that would change the "
                                   "database or create a file; report queries may only read.")
                        .arg(file, q.name)
                        .arg(q.line)};
        for (int i = 0; ok && selection && i < places; ++i)
            query.addBindValue(selection->value);
        // Every way a query can fail or ask too much ends in one of two
        // refusals that name the file, the query and its line.
        auto asks_too_much = [&](const QString& what) {
            return ReportRows{
                {},
                {},
                QStringLiteral("The report file %1 asks too much of its query \"%2\" (line %3): %4.")
                    .arg(file, q.name)
                    .arg(q.line)
                    .arg(what)};
        };
        Table r;
        ok = ok && query.exec();
        if (ok) {
            const QSqlRecord rec = query.record();
            for (int i = 0; i < rec.count(); ++i)
                r.columns << rec.fieldName(i);
            while (r.rows.size() <= kMaxReportRows && data_bytes <= kMaxReportDataBytes && query.next()) {
                QStringList row;
                for (int i = 0; i < r.columns.size(); ++i) {
                    const QString text = value_text(query.value(i));
                    data_bytes += text.size() * 2;
                    row << (is_date_column(r.columns[i]) ? display_date(text) : text);
                }
                r.rows << row;
            }
        }
        const QSqlError failure = query.lastError();
        query.finish();
        if (failure.nativeErrorCode() == QLatin1String("9")) // SQLITE_INTERRUPT: past the time allowed
            return asks_too_much(
                QStringLiteral("it ran longer than %L1 seconds").arg(kMaxQueryMilliseconds / 1000));
        if (!ok || failure.isValid())
            return {{},
                    {},
                    QStringLiteral("The report file %1 has a fault in its query \"%2\" (line %3): %4")
                        .arg(file, q.name)
                        .arg(q.line)
                        .arg(failure.databaseText())};
        if (r.rows.size() > kMaxReportRows)
            return asks_too_much(QStringLiteral("more than %L1 rows").arg(kMaxReportRows));
        if (data_bytes > kMaxReportDataBytes)
            return asks_too_much(
                QStringLiteral("more than %L1 MB of data").arg(kMaxReportDataBytes / (1024 * 1024)));
        for (const ReportDecorator* d : decorators)
            d->add_to_rows(r);
        out.tables << r;
    }
    // A selection of one report ({test_main.lab_ID} = N): what the decorators know about it.
    if (selection && selection->table.compare(QLatin1String("test_main"), Qt::CaseInsensitive) == 0 &&
        selection->field.compare(QLatin1String("lab_ID"), Qt::CaseInsensitive) == 0)
        for (const ReportDecorator* d : decorators)
            d->add_about_report(conn.db(), selection->value.toLongLong(), out.values);
    return out;
}

#pragma once

#include "records.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVariantHash>

#include <optional>

// The first stage of a report: its queries' rows, read as a report reads
// them (through a connection that can only read, each query cut off after
// the time allowed, the rows and bytes bounded), and what the decorators the
// caller passes add to them. The report engine (src/reports) then fills its
// templates from the result.

// What one report may ask of the database, whatever its file says.
inline constexpr int kMaxReportRows = 100000;
inline constexpr qint64 kMaxReportDataBytes = 32 * 1024 * 1024;
inline constexpr int kMaxQueryMilliseconds = 10000;

struct RowQuery {
    QString name;
    QString sql; // "{selection}" marks where the selection's condition goes
    int line = 0;
};

// One field of one table equal to a value ({test_main.lab_ID} = 12).
struct RowSelection {
    QString table, field;
    QVariant value;
};

// What a report knows besides its queries: added to each query's rows (a
// result's flag), and values about the one report a selection names (its
// signature, whether it prints as provisional), read on the report's own
// connection. The caller chooses the decorators; standard_decorators() are
// the laboratory's.
class ReportDecorator {
public:
    virtual ~ReportDecorator() = default;
    virtual void add_to_rows(Table&) const {}
    virtual void add_about_report(const QSqlDatabase&, qint64 /*lab_id*/, QVariantHash& /*values*/) const {}
};
QList<const ReportDecorator*> standard_decorators();

struct ReportRows {
    QList<Table> tables; // one a query, in the order of the queries
    QVariantHash values; // what the decorators said about the report
    QString error;       // names the file, the query and its line
};

// Reads the rows of `queries` (of the report file shown as `file` in
// messages) from the database at `database_path`, or, with `shared`, through
// the shared connection read-only (a build sees its own uncommitted rows).
ReportRows read_report_rows(const QString& file, const QList<RowQuery>& queries,
                            std::optional<RowSelection> selection, const QString& database_path, bool shared,
                            const QList<const ReportDecorator*>& decorators);

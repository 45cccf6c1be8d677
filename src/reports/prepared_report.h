#pragma once

#include "report_file.h"
#include "report_request.h"

#include <QHash>
#include <QImage>
#include <QString>

#include <functional>
#include <optional>

// A report ready to be laid out: the file, and its bands as HTML with the data
// already filled in. Everything that can fail (the file, its XML, the formula,
// the SQL, the templates) has been done by the time one exists.
struct PreparedReport {
    ReportFile file;
    QString header_html;
    QString body_html;
    QString footer_template; // with {{page}} and {{pages}} still in it
    QString suggested_name;  // for "Save as PDF": lab id, patient, test and date where the data has them
    QHash<QString, QImage> charts; // by name: what <img src="chart:NAME"> shows

    // The footer band of one page ("page x of y").
    QString footer_html(int page, int pages) const;
};

struct Prepared {
    std::optional<PreparedReport> report;
    QString error; // names the file and the cause
};

// Reads the report file of the request and its data from `database_path`,
// through a read-only connection of the report's own that is closed again
// before this returns.
// In three stages: the file read and checked; its rows read and decorated
// (read_report_rows in report_rows.h, with `decorators`); its bands filled in.
Prepared prepare_report(const ReportRequest& request, const QString& database_path,
                        const QList<const ReportDecorator*>& decorators = standard_decorators());

// While one exists, reports read their data through the shared connection
// (read-only for the time they read) instead of a connection of their own,
// so they see the rows that the current transaction wrote.
class ReportsReadSharedConnection {
public:
    ReportsReadSharedConnection();
    ~ReportsReadSharedConnection();
    ReportsReadSharedConnection(const ReportsReadSharedConnection&) = delete;
    ReportsReadSharedConnection& operator=(const ReportsReadSharedConnection&) = delete;
};

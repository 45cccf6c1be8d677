#pragma once

#include "report_file.h"
#include "report_request.h"

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
Prepared prepare_report(const ReportRequest& request, const QString& database_path);

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

// The flag of a result outside its normal range ("H", "L" or empty), from its
// test table, item caption, result text and the patient's sex. The test
// catalogue installs it at start; rows of a report query that carry the
// columns test_table, item and result (and sex) then get a `flag` field.
using ResultFlagger = std::function<QString(const QString& table, const QString& item, const QString& result,
                                            const QString& sex)>;
void set_result_flagger(ResultFlagger flagger);

#pragma once

#include <QString>
#include <QVariant>

#include <optional>

struct Investigation;

// The one record a report prints when it prints one only: {table.field} = value.
struct Selection {
    QString table; // as the formula names it
    QString field;
    QVariant value; // a whole number binds as an integer

    // As a formula is written ("{test_main.lab_ID} = 12"): for messages.
    QString text() const;
};

// The report with this lab id.
Selection lab_id_selection(qint64 lab_id);

// One request to the report engine: the report file, and the record it
// selects when the report is to print one record only.
struct ReportRequest {
    QString file_path;
    std::optional<Selection> selection;
};

// (A test's report and the consolidated report, on the letter-head or plain
// paper as the program's setting stands: report_engine.h.)

// The blank report form "empty.rpt", whatever `print_with_header` says.
ReportRequest empty_report_request();

inline constexpr char kConsolidatedReport[] = "\\consolidated_report.rpt";
inline constexpr char kConsolidatedHeaderReport[] = "\\h_consolidated_report.rpt";
inline constexpr char kEmptyReport[] = "empty.rpt";

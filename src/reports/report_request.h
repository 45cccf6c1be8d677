#pragma once

#include <QString>

#include <optional>

// One request to the report engine: the report file, and the record-selection
// formula when the report is to print one record only.
struct ReportRequest {
    QString file_path;
    std::optional<QString> selection_formula;
};

// A test report: the program folder + the letter-head or the plain file name,
// after `print_with_header` as it stands now, selecting the report whose lab
// id is the number value of `lab_id_text` ("{test_main.lab_ID} = 12").
ReportRequest test_report_request(const QString& report_file, const QString& header_report_file,
                                  const QString& lab_id_text);

// The consolidated report of the rows in `temp`; no formula.
ReportRequest consolidated_report_request();

// The blank report form "empty.rpt", whatever `print_with_header` says.
ReportRequest empty_report_request();

inline constexpr char kConsolidatedReport[] = "\\consolidated_report.rpt";
inline constexpr char kConsolidatedHeaderReport[] = "\\h_consolidated_report.rpt";
inline constexpr char kEmptyReport[] = "empty.rpt";

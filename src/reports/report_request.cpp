#include "report_request.h"

#include "app_state.h"
#include "connection.h"
#include "investigations.h"
#include "number_value.h"

QString Selection::text() const {
    return QStringLiteral("{%1.%2} = %3").arg(table, field, id_text(value));
}

Selection lab_id_selection(qint64 lab_id) {
    return {QStringLiteral("test_main"), QStringLiteral("lab_ID"), lab_id};
}

ReportRequest test_report_request(const Investigation& test, qint64 lab_id) {
    const char* file = app_state().print_with_header ? test.header_report_file : test.report_file;
    return {program_folder() + QString::fromLatin1(file), lab_id_selection(lab_id)};
}

ReportRequest consolidated_report_request() {
    const char* file = app_state().print_with_header ? kConsolidatedHeaderReport : kConsolidatedReport;
    return {program_folder() + QString::fromLatin1(file), std::nullopt};
}

ReportRequest empty_report_request() {
    return {QString::fromLatin1(kEmptyReport), std::nullopt};
}

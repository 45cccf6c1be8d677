#include "report_request.h"

#include "app_state.h"
#include "number_value.h"
#include "tavora_module.h"

ReportRequest test_report_request(const QString& report_file, const QString& header_report_file,
                                  const QString& lab_id_text) {
    const QString file = app_state().print_with_header ? header_report_file : report_file;
    return {program_folder() + file,
            QStringLiteral("{test_main.lab_ID} = ") + id_text(id_value(lab_id_text).value_or(QVariant(0)))};
}

ReportRequest consolidated_report_request() {
    const char* file = app_state().print_with_header ? kConsolidatedHeaderReport : kConsolidatedReport;
    return {program_folder() + QString::fromLatin1(file), std::nullopt};
}

ReportRequest empty_report_request() {
    return {QString::fromLatin1(kEmptyReport), std::nullopt};
}

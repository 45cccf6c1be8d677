#include "report_request.h"

#include "number_value.h"

QString Selection::text() const {
    return QStringLiteral("{%1.%2} = %3").arg(table, field, id_text(value));
}

Selection lab_id_selection(qint64 lab_id) {
    return {QStringLiteral("test_main"), QStringLiteral("lab_ID"), lab_id};
}

ReportRequest empty_report_request() {
    return {QString::fromLatin1(kEmptyReport), std::nullopt};
}

#include "report_engine.h"

#include "app_state.h"
#include "investigations.h"

#include "connection.h"
#include "message_box.h"

#include <QDir>
#include <QStandardPaths>

namespace {

ReportEngineFactory& factory() {
    static ReportEngineFactory f;
    return f;
}

ReportEngineFactory& preview_factory() {
    static ReportEngineFactory f;
    return f;
}

// A program without screens prints nothing: it says so.
class UnprintableEngine final : public ReportEngine {
public:
    QString run() override { return QStringLiteral("this program has no print preview."); }
};

} // namespace

QString run_report(ReportEngine& engine, const ReportRequest& request) {
    engine.set_file_name(request.file_path);
    engine.set_selection(request.selection);
    return engine.run();
}

bool print_report(ReportEngine& engine, const ReportRequest& request) {
    const QString failure = run_report(engine, request);
    tell_print_failure(failure);
    return failure.isEmpty();
}

void tell_print_failure(const QString& failure) {
    if (!failure.isEmpty()) show_message(QStringLiteral("The report could not be printed. %1").arg(failure));
}

std::unique_ptr<ReportEngine> make_report_engine() {
    if (factory()) return factory()();
    if (preview_factory()) return preview_factory()();
    return std::make_unique<UnprintableEngine>();
}

void set_preview_engine(ReportEngineFactory preview) {
    preview_factory() = std::move(preview);
}

ReportEngineFactory set_report_engine_factory(ReportEngineFactory f) {
    ReportEngineFactory previous = std::move(factory());
    factory() = std::move(f);
    return previous;
}

QString documents_folder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // Patient reports never go into the program folder (shared by every
    // workstation), whatever the desktop says.
    if (folder.isEmpty() || QDir(folder) == QDir(program_folder())) folder = QDir::homePath();
    QDir().mkpath(folder);
    return folder;
}

ReportRequest test_report_request(const Investigation& test, qint64 lab_id) {
    const char* file = app_state().print_with_header ? test.header_report_file : test.report_file;
    return {program_folder() + QString::fromLatin1(file), lab_id_selection(lab_id)};
}

ReportRequest consolidated_report_request() {
    const char* file = app_state().print_with_header ? kConsolidatedHeaderReport : kConsolidatedReport;
    return {program_folder() + QString::fromLatin1(file), std::nullopt};
}

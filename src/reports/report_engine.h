#pragma once

#include "report_request.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The report engine: one instance per printing screen. A request sets the
// file name and the selection on the instance (none when the request has
// none), then runs it. The last file name and selection stay set on the
// instance, as they were on the laboratory's old engine.
class ReportEngine {
public:
    virtual ~ReportEngine() = default;

    const QString& file_name() const { return file_name_; }
    const std::optional<Selection>& selection() const { return selection_; }

    void set_file_name(const QString& name) { file_name_ = name; }
    void set_selection(std::optional<Selection> selection) { selection_ = std::move(selection); }

    // Runs the report as set: everything that can fail is done before any
    // window appears. Returns an empty text, or what went wrong.
    virtual QString run() = 0;

private:
    QString file_name_;
    std::optional<Selection> selection_;
};

// Sets the request on the engine and runs it.
QString run_report(ReportEngine& engine, const ReportRequest& request);
// Runs the request; a failure is told to the user ("The report could not be
// printed." and why). Returns whether it printed.
bool print_report(ReportEngine& engine, const ReportRequest& request);
// Tells the user why a report could not be printed (nothing when `failure` is empty).
void tell_print_failure(const QString& failure);

// The engine a printing screen gets: the print preview, unless a test has put
// another factory in its place. The preview is the screens' (report_preview.cpp,
// installed by use_preview_engine() where the program starts); a program
// without it cannot print.
std::unique_ptr<ReportEngine> make_report_engine();
using ReportEngineFactory = std::function<std::unique_ptr<ReportEngine>()>;
ReportEngineFactory set_report_engine_factory(ReportEngineFactory factory);
void set_preview_engine(ReportEngineFactory preview);
void use_preview_engine();

// Where "Save as PDF" suggests a report goes: the user's documents folder
// (made when it is missing), never the program folder.
QString documents_folder();

// The production engine: a non-modal print preview with Print, Page setup and
// "Save as PDF", reading the database of the program folder.
class PreviewEngine : public ReportEngine {
public:
    QString run() override;
};

// A test's report: the program folder + its letter-head or plain file name,
// after `print_with_header` as it stands now, selecting the report `lab_id`.
ReportRequest test_report_request(const Investigation& test, qint64 lab_id);

// The consolidated report of the rows in `temp`; no selection.
ReportRequest consolidated_report_request();

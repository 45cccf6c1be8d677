#pragma once

// What the suites of the session's decisions need (no widget): the message
// boxes answered and read back, and the report runs recorded in place of the
// print preview.

#include "data_support.h"
#include "message_box.h"
#include "report_engine.h"

#include <QList>
#include <QQueue>
#include <QStringList>

#include <functional>

// Answers the message boxes in place of a person and keeps what they said.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();

    // The answer to the next box that asks a question (default: its first button).
    void answer(MessageAnswer a) { answers_.enqueue(a); }
    QList<ShownMessage> shown;
    QStringList texts() const;
    void clear() { shown.clear(); }

private:
    QQueue<MessageAnswer> answers_;
    MessageHandler previous_;
};

// Records report runs in place of the print preview: `on_run` gets each
// request while the report would be reading its data (so a test can look at
// the database then), and its answer is the run's failure (empty: printed).
class RecordingEngine : public ReportEngine {
public:
    using OnRun = std::function<QString(const ReportRequest&)>;
    explicit RecordingEngine(OnRun on_run) : on_run_(std::move(on_run)) {}
    QString run() override { return on_run_({file_name(), selection()}); }

private:
    OnRun on_run_;
};

// Every report engine made from now on records through `on_run`; an empty
// one restores the print preview.
void record_report_runs(RecordingEngine::OnRun on_run);

// Records each print in place of the preview. While a report would read its
// data, `seen` runs and what it returns is kept beside the request (the rows
// of temp then, whether the doctor was stored by then); `failure` is what the
// prints answer.
struct PrintLog {
    struct Entry {
        ReportRequest request;
        QStringList seen;
    };
    QList<Entry> entries;
    QString failure;
    std::function<QStringList()> seen;
    std::function<void()> while_printing;

    // Every engine made from now on records into this log (which must outlive them).
    void record();
    void clear() { entries.clear(), failure.clear(), seen = {}, while_printing = {}; }
};

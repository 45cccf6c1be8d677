#include "session_support.h"

MessageRecorder::MessageRecorder() {
    previous_ = set_message_handler([this](const ShownMessage& m) {
        shown << m;
        if (!answers_.isEmpty()) return answers_.dequeue();
        switch (m.buttons) {
        case MessageButtons::YesNo:
            return MessageAnswer::Yes;
        default:
            return MessageAnswer::Ok;
        }
    });
}

MessageRecorder::~MessageRecorder() {
    set_message_handler(previous_);
}

QStringList MessageRecorder::texts() const {
    QStringList t;
    for (const ShownMessage& m : shown)
        t << m.text;
    return t;
}

void record_report_runs(RecordingEngine::OnRun on_run) {
    if (!on_run) {
        set_report_engine_factory(nullptr);
        return;
    }
    set_report_engine_factory([on_run] { return std::make_unique<RecordingEngine>(on_run); });
}

void PrintLog::record() {
    record_report_runs([this](const ReportRequest& request) {
        entries.append({request, seen ? seen() : QStringList()});
        if (while_printing) while_printing();
        return failure;
    });
}

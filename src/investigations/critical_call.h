#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// Asks who informed the referring doctor of a report's critical results, whom
// they told and when. The question comes filled with the person logged in,
// the referring doctor and now; nullopt when the answer is "not yet". Tests
// put their own handler in place of the dialog.
struct CallQuestion {
    QString findings_message; // what the call is about
    QString informed_by, informed_whom;
    QDateTime at;
};
struct CallAnswer {
    QString informed_by, informed_whom;
    QDateTime at;
    bool read_back = false; // the recipient read the values back
};

std::optional<CallAnswer> ask_critical_call(const CallQuestion& question);

using CriticalCallHandler = std::function<std::optional<CallAnswer>(const CallQuestion&)>;
CriticalCallHandler set_critical_call_handler(CriticalCallHandler handler);
// The dialog the user answers (critical_call_dialog.cpp, the screens'),
// installed by use_critical_call_dialog() where the program starts.
void set_critical_call_dialog(CriticalCallHandler dialog);
void use_critical_call_dialog();

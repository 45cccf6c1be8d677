#include "critical_call.h"

namespace {

CriticalCallHandler& handler() {
    static CriticalCallHandler h;
    return h;
}

CriticalCallHandler& dialog() {
    static CriticalCallHandler d;
    return d;
}

} // namespace

std::optional<CallAnswer> ask_critical_call(const CallQuestion& question) {
    if (handler()) return handler()(question);
    // Without the screens' dialog nobody can answer: not yet.
    return dialog() ? dialog()(question) : std::nullopt;
}

CriticalCallHandler set_critical_call_handler(CriticalCallHandler h) {
    CriticalCallHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

void set_critical_call_dialog(CriticalCallHandler d) {
    dialog() = std::move(d);
}

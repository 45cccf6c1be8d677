#include "message_box.h"

#include <QList>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

MessageHandler& handler() {
    static MessageHandler h;
    return h;
}

MessageHandler& real_boxes() {
    static MessageHandler h;
    return h;
}

// Without the shell's boxes (a program without screens) a message is
// written to the log and answered as closing the box would.
MessageAnswer logged_only(const ShownMessage& m) {
    qWarning("%s: %s", qPrintable(m.title), qPrintable(m.text));
    switch (m.buttons) {
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    default:
        return MessageAnswer::Ok;
    }
}

int g_running = 0; // message boxes up now
int g_shown = 0;   // message boxes shown since the start

struct Deferred {
    QPointer<QObject> context;
    std::function<void()> work;
};

QList<Deferred>& deferred() {
    static QList<Deferred> d;
    return d;
}

} // namespace

bool message_box_running() {
    return g_running > 0;
}

int messages_shown() {
    return g_shown;
}

void after_message_boxes(QObject* context, std::function<void()> work) {
    deferred().append({context, std::move(work)});
}

MessageAnswer show_message(const QString& text, MessageButtons buttons, const QString& title,
                           const QString& detail) {
    const ShownMessage m{title, text, buttons, detail};
    ++g_running;
    ++g_shown;
    const MessageAnswer answer = handler() ? handler()(m) : real_boxes() ? real_boxes()(m) : logged_only(m);
    --g_running;
    if (g_running == 0 && !deferred().isEmpty()) {
        // Queued, so the work runs after the code that showed the box has
        // finished with its screen, not in the middle of it.
        for (Deferred& d : std::exchange(deferred(), {}))
            if (d.context) QTimer::singleShot(0, d.context, std::move(d.work));
    }
    return answer;
}

MessageHandler set_message_handler(MessageHandler h) {
    MessageHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

void set_real_message_boxes(MessageHandler boxes) {
    real_boxes() = std::move(boxes);
}

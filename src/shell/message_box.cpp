#include "message_box.h"

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

MessageHandler& handler() {
    static MessageHandler h;
    return h;
}

MessageAnswer show_real_box(const ShownMessage& m) {
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (m.buttons == MessageButtons::YesNo) buttons = QMessageBox::Yes | QMessageBox::No;
    if (m.buttons == MessageButtons::OkCancel) buttons = QMessageBox::Ok | QMessageBox::Cancel;
    QMessageBox box(QMessageBox::NoIcon, m.title, m.text, buttons, QApplication::activeWindow());
    if (!m.detail.isEmpty()) box.setDetailedText(m.detail);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        return m.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
}

int g_running = 0; // message boxes up now

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

void after_message_boxes(QObject* context, std::function<void()> work) {
    deferred().append({context, std::move(work)});
}

MessageAnswer show_message(const QString& text, MessageButtons buttons, const QString& title,
                           const QString& detail) {
    const ShownMessage m{title, text, buttons, detail};
    ++g_running;
    const MessageAnswer answer = handler() ? handler()(m) : show_real_box(m);
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

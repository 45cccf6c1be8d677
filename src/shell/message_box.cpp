#include "message_box.h"

#include <QApplication>
#include <QMessageBox>

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

} // namespace

MessageAnswer show_message(const QString& text, MessageButtons buttons, const QString& title) {
    const ShownMessage m{title, text, buttons};
    return handler() ? handler()(m) : show_real_box(m);
}

MessageHandler set_message_handler(MessageHandler h) {
    MessageHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

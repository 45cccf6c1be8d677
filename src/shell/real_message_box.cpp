#include "message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace {

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

} // namespace

void use_real_message_boxes() {
    set_real_message_boxes(show_real_box);
}

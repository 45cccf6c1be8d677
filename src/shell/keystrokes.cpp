#include "keystrokes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

void post_key(QWidget* fallback, int key, const QString& text) {
    QWidget* target = QApplication::focusWidget();
    if (!target) target = fallback;
    if (!target) return;
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

} // namespace

void send_tab(QWidget* fallback) {
    post_key(fallback, Qt::Key_Tab, QStringLiteral("\t"));
}

void send_backspace(QWidget* fallback) {
    post_key(fallback, Qt::Key_Backspace, QStringLiteral("\b"));
}

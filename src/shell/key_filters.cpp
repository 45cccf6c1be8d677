#include "key_filters.h"

#include "keystrokes.h"

#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

namespace {

constexpr int kBackspace = 8;
constexpr int kEnter = 13;

bool digit(int c) {
    return c >= '0' && c <= '9';
}
bool letter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

class CharFilterHook : public QObject {
public:
    CharFilterHook(QObject* parent, CharFilter filter) : QObject(parent), filter_(filter) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int code = typed_char_code(static_cast<QKeyEvent*>(event));
            if (code >= 0 && !filter_(code)) send_backspace(qobject_cast<QWidget*>(watched));
        }
        return false;
    }

private:
    CharFilter filter_;
};

class EnterHook : public QObject {
public:
    EnterHook(QObject* parent, bool swallow) : QObject(parent), swallow_(swallow) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        send_tab(qobject_cast<QWidget*>(watched));
        return swallow_;
    }

private:
    bool swallow_;
};

} // namespace

bool digits_only(int c) {
    return digit(c) || c == kBackspace || c == kEnter;
}

bool phone_chars(int c) {
    return digit(c) || c == '-' || c == '/' || c == '\\' || c == kBackspace || c == kEnter;
}

bool name_chars(int c) {
    return letter(c) || c == ' ' || c == '.' || c == '/' || c == kBackspace || c == kEnter;
}

bool no_apostrophe(int c) {
    return c != '\'';
}

int typed_char_code(const QKeyEvent* event) {
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab || event->key() == Qt::Key_Delete)
        return -1;
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return -1;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return kEnter;
    if (event->key() == Qt::Key_Backspace) return kBackspace;
    const QString text = event->text();
    if (text.isEmpty()) return -1;
    return text.at(0).unicode();
}

void apply_char_filter(QWidget* box, CharFilter filter) {
    box->installEventFilter(new CharFilterHook(box, filter));
}

void apply_enter_to_next(QWidget* box, bool swallow_enter) {
    box->installEventFilter(new EnterHook(box, swallow_enter));
}

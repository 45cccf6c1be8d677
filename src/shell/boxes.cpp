#include "boxes.h"

#include "artwork.h"
#include "message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>

namespace {

// A button whose press moved the focus out of a box whose handler then showed
// a message: the box took the mouse's release, so the press alone would leave
// the button down and its action lost. The press (and a release that still
// comes) is taken here and the button clicked once the message has been
// answered, if the handler left it enabled.
class ClickAfterMessage : public QObject {
public:
    explicit ClickAfterMessage(QAbstractButton* button) : QObject(button), button_(button) {
        button->installEventFilter(this);
        // Given up when the press never comes (the focus moved some other way).
        QTimer::singleShot(0, this, [this] {
            if (!pressed_) deleteLater();
        });
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress && !pressed_) {
            pressed_ = true;
            QTimer::singleShot(0, this, [this] {
                if (button_->isEnabled() && button_->isVisible()) button_->click();
                deleteLater();
            });
            return true;
        }
        return pressed_ &&
               (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick);
    }

private:
    QAbstractButton* button_;
    bool pressed_ = false;
};

class LeftHook : public QObject {
public:
    LeftHook(QObject* parent, std::function<void()> left) : QObject(parent), left_(std::move(left)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::FocusOut) return false;
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return false;
        // The focus has already moved: to the button being pressed, if any.
        QPointer<QAbstractButton> pressed = reason == Qt::MouseFocusReason
                                                ? qobject_cast<QAbstractButton*>(QApplication::focusWidget())
                                                : nullptr;
        const int before = messages_shown();
        left_();
        if (pressed && messages_shown() != before) new ClickAfterMessage(pressed);
        return false;
    }

private:
    std::function<void()> left_;
};

class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier) return false;
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        if (button->isEnabled()) button->animateClick();
        return true;
    }
};

} // namespace

QString box_text(const QWidget* box) {
    if (auto* line = qobject_cast<const QLineEdit*>(box)) return line->text();
    if (auto* rich = qobject_cast<const QTextEdit*>(box)) return rich->toPlainText();
    return {};
}

void set_box_text(QWidget* box, const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(box))
        line->setText(text);
    else if (auto* rich = qobject_cast<QTextEdit*>(box))
        rich->setPlainText(text);
}

void set_box_read_only(QWidget* box, bool read_only) {
    if (auto* line = qobject_cast<QLineEdit*>(box)) {
        if (line->isReadOnly() == read_only) return;
        line->setReadOnly(read_only);
    } else if (auto* rich = qobject_cast<QTextEdit*>(box)) {
        if (rich->isReadOnly() == read_only) return;
        rich->setReadOnly(read_only);
    } else {
        return;
    }
    // Shaded as a locked box is, so nobody starts typing into it.
    QPalette pal = box->parentWidget() ? box->parentWidget()->palette() : box->palette();
    if (read_only) pal.setColor(QPalette::Base, pal.color(QPalette::Disabled, QPalette::Base));
    box->setPalette(pal);
}

void on_text_changed(QWidget* box, std::function<void()> changed) {
    if (auto* line = qobject_cast<QLineEdit*>(box))
        QObject::connect(line, &QLineEdit::textChanged, box, changed);
    else if (auto* rich = qobject_cast<QTextEdit*>(box))
        QObject::connect(rich, &QTextEdit::textChanged, box, changed);
}

void apply_length_rule(QWidget* box, int limit, const QString& message) {
    on_text_changed(box, [box, limit, message] {
        if (box_text(box).size() <= limit) return;
        show_message(message, MessageButtons::Ok, information_title());
        set_box_text(box, QString());
    });
}

void on_left(QWidget* box, std::function<void()> left) {
    box->installEventFilter(new LeftHook(box, std::move(left)));
}

QPushButton* named_button(QWidget* parent, const char* name, const char* label) {
    auto* b = new QPushButton(QString::fromUtf8(label), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(QString::fromUtf8(label).remove(u'&'));
    return b;
}

QTableWidget* read_only_table(QWidget* parent, const char* name, const QString& accessible_name,
                              const QStringList& headings) {
    auto* t = new QTableWidget(parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setAccessibleName(accessible_name);
    t->setColumnCount(int(headings.size()));
    t->setHorizontalHeaderLabels(headings);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setTabKeyNavigation(false);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void enter_presses_buttons(QWidget* screen) {
    for (QAbstractButton* b : screen->findChildren<QAbstractButton*>())
        b->installEventFilter(new EnterPresses(b));
}

void apply_screen_look(QWidget* screen) {
    QPalette pal = screen->palette();
    pal.setColor(QPalette::Window, artwork::kPaper);
    pal.setColor(QPalette::WindowText, artwork::kInk);
    pal.setColor(QPalette::Button, QColor(0xe3, 0xf1, 0xee));
    pal.setColor(QPalette::ButtonText, artwork::kInk);
    pal.setColor(QPalette::Highlight, artwork::kAccent);
    // A locked box shows its value: dark text on a light grey ground.
    pal.setColor(QPalette::Disabled, QPalette::Text, artwork::kInk);
    pal.setColor(QPalette::Disabled, QPalette::Base, QColor(0xe8, 0xec, 0xeb));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, artwork::kInk.lighter(140));
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x8a, 0x96, 0x9c));
    screen->setPalette(pal);
    screen->setAutoFillBackground(true);
    QFont f = screen->font();
    f.setPixelSize(12);
    screen->setFont(f);
}

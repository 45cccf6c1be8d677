#include "field_rules.h"

#include "message_box.h"
#include "number_value.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTextEdit>

namespace {

void on_change(QWidget* box, std::function<void()> check) {
    if (auto* line = qobject_cast<QLineEdit*>(box))
        QObject::connect(line, &QLineEdit::textChanged, box, check);
    else if (auto* rich = qobject_cast<QTextEdit*>(box))
        QObject::connect(rich, &QTextEdit::textChanged, box, check);
}

// Trims the box when the focus moves to another control of the screen (not
// when the whole window loses the focus to a message box or another program).
class TrimWhenLeft : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                auto* box = static_cast<QWidget*>(watched);
                const QString text = box_text(box), trimmed = trim_blanks(text);
                if (trimmed != text) set_box_text(box, trimmed);
            }
        }
        return false;
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

QString trim_blanks(const QString& text) {
    qsizetype from = 0, to = text.size();
    while (from < to && text[from] == u' ')
        ++from;
    while (to > from && text[to - 1] == u' ')
        --to;
    return text.mid(from, to - from);
}

void apply_field_rule(QWidget* box, const FieldRule& rule) {
    if (rule.filter) apply_char_filter(box, rule.filter);
    apply_enter_to_next(box, qobject_cast<QTextEdit*>(box) != nullptr);
    if (rule.max_length > 0) {
        const int limit = rule.max_length;
        const QString message = QString::fromLatin1(rule.message);
        on_change(box, [box, limit, message] {
            if (box_text(box).size() <= limit) return;
            show_message(message, MessageButtons::Ok, information_title());
            set_box_text(box, QString()); // the whole text goes, not just the excess
        });
    }
    if (rule.trim_when_left) box->installEventFilter(new TrimWhenLeft(box));
}

void apply_age_rule(QWidget* box) {
    apply_enter_to_next(box);
    on_change(box, [box] {
        const QString text = box_text(box);
        const double age = number_value(text);
        if (age < 0 || age > kOldestAge) {
            show_message(QStringLiteral("Invalid age."), MessageButtons::Ok, information_title());
            set_box_text(box, QStringLiteral("0"));
        } else if (text.size() > kLongestAge) {
            show_message(QStringLiteral("It is too big to enter."), MessageButtons::Ok, information_title());
            set_box_text(box, QString());
        }
    });
}

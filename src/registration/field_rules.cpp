#include "field_rules.h"

#include "message_box.h"
#include "number_value.h"

#include <QTextEdit>

void apply_field_rule(QWidget* box, const FieldRule& rule) {
    if (rule.filter) apply_char_filter(box, rule.filter);
    apply_enter_to_next(box, qobject_cast<QTextEdit*>(box) != nullptr);
    if (rule.max_length > 0) apply_length_rule(box, rule.max_length, QString::fromLatin1(rule.message));
    if (rule.trim_when_left)
        on_left(box, [box] {
            const QString text = box_text(box), trimmed = trim_blanks(text);
            if (trimmed != text) set_box_text(box, trimmed);
        });
}

void apply_age_rule(QWidget* box) {
    apply_enter_to_next(box);
    on_text_changed(box, [box] {
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

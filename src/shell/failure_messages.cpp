#include "failure_messages.h"

#include "message_box.h"
#include "number_value.h"

bool report_failure(const DbError& error, const QString& action) {
    if (error.ok()) return false;
    // A refusal of the account's rights says what the account may do, in full.
    if (error.forbidden()) {
        show_message(error.description);
        return true;
    }
    const QString cause =
        error.busy() ? QStringLiteral("The database is busy: another workstation is saving. Try again.")
                     : error.description;
    show_message(QStringLiteral("%1 failed. %2").arg(action, cause));
    return true;
}

std::optional<QVariant> typed_id(const QString& text) {
    auto id = id_value(text);
    if (!id) show_message(QStringLiteral("The number %1 is too large to be an id.").arg(text.trimmed()));
    return id;
}

#include "failure_messages.h"

#include "message_box.h"

bool report_failure(const DbError& error, const QString& action) {
    if (error.ok()) return false;
    const QString cause =
        error.busy() ? QStringLiteral("The database is busy: another workstation is saving. Try again.")
                     : error.description;
    show_message(QStringLiteral("%1 failed. %2").arg(action, cause));
    return true;
}

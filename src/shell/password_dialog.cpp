#include "password_dialog.h"

#include "accounts.h"
#include "message_box.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

NewPasswordHandler& handler() {
    static NewPasswordHandler h;
    return h;
}

std::optional<QString> real_dialog(const QString& login) {
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(QStringLiteral("Choose your password"));
    auto* first = new QLineEdit(&dialog);
    auto* second = new QLineEdit(&dialog);
    for (QLineEdit* box : {first, second})
        box->setEchoMode(QLineEdit::Password);
    first->setAccessibleName(QStringLiteral("New password"));
    second->setAccessibleName(QStringLiteral("New password again"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(new QLabel(QStringLiteral("%1, choose a password of your own (at least %2 characters).")
                                .arg(login)
                                .arg(kMinimumPasswordLength)));
    form->addRow(QStringLiteral("&New password"), first);
    form->addRow(QStringLiteral("&Again"), second);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (first->text().size() < kMinimumPasswordLength)
            show_message(
                QStringLiteral("A password needs at least %1 characters.").arg(kMinimumPasswordLength));
        else if (first->text() != second->text())
            show_message(QStringLiteral("The two passwords differ."));
        else
            dialog.accept();
    });
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return first->text();
}

} // namespace

std::optional<QString> ask_new_password(const QString& login) {
    return handler() ? handler()(login) : real_dialog(login);
}

NewPasswordHandler set_new_password_handler(NewPasswordHandler h) {
    NewPasswordHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

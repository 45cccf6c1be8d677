#pragma once

#include <QString>

#include <functional>
#include <optional>

// Asks the person who just logged in for a new password of their own (typed
// twice, at least kMinimumPasswordLength characters); nullopt when they
// cancel. Tests put their own handler in place of the dialog.
std::optional<QString> ask_new_password(const QString& login);

using NewPasswordHandler = std::function<std::optional<QString>(const QString& login)>;
NewPasswordHandler set_new_password_handler(NewPasswordHandler handler);

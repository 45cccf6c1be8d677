#pragma once

#include "accounts.h"

#include <QWidget>

class QTableWidget;

// The Users window, for an administrator: every account with its role and
// whether it may log in; Add user, Disable and Reset password. A password an
// administrator sets is replaced by the person's own at their next login.
class UsersWindow : public QWidget {
    Q_OBJECT
public:
    explicit UsersWindow(QWidget* parent = nullptr);

    // What the buttons do once their questions are answered.
    bool add_account(const Account& account, const QString& password);
    bool disable_selected();
    bool enable_selected();
    // Runs one change of an account through the database, tells a failure,
    // and lists the accounts again; whether it was stored.
    bool change_account(const QString& action, const std::function<DbError(const QSqlDatabase&)>& change);
    bool reset_selected(const QString& password);

    void refresh();
    QTableWidget* table() const { return table_; }

private:
    void ask_and_add();
    void ask_and_reset();
    QString selected_login() const;

    QTableWidget* table_ = nullptr;
};

inline constexpr char kUsersScreen[] = "users";
void register_users_screen();

#include "users_window.h"

#include "boxes.h"
#include "connection.h"
#include "failure_messages.h"
#include "message_box.h"
#include "screen_registry.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QStringList kHeadings = {QStringLiteral("Login"),         QStringLiteral("Full name"),
                               QStringLiteral("Qualification"), QStringLiteral("Role"),
                               QStringLiteral("May log in"),    QStringLiteral("Last login")};

QLineEdit* password_box(QWidget* parent, const QString& name) {
    auto* box = new QLineEdit(parent);
    box->setEchoMode(QLineEdit::Password);
    box->setAccessibleName(name);
    return box;
}

} // namespace

UsersWindow::UsersWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kUsersScreen));
    setWindowTitle(QStringLiteral("Users"));
    apply_screen_look(this);
    resize(820, 420);
    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("user_list"));
    table_->setAccessibleName(QStringLiteral("Users"));
    table_->setColumnCount(int(kHeadings.size()));
    table_->setHorizontalHeaderLabels(kHeadings);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setTabKeyNavigation(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* add = named_button(this, "add_user", "&Add user");
    auto* disable = named_button(this, "disable_user", "&Disable");
    auto* enable = named_button(this, "enable_user", "&Enable");
    auto* reset = named_button(this, "reset_password", "&Reset password");
    auto* close_button = named_button(this, "close", "&Close");
    connect(add, &QPushButton::clicked, this, &UsersWindow::ask_and_add);
    connect(disable, &QPushButton::clicked, this, &UsersWindow::disable_selected);
    connect(enable, &QPushButton::clicked, this, &UsersWindow::enable_selected);
    connect(reset, &QPushButton::clicked, this, &UsersWindow::ask_and_reset);
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {add, disable, enable, reset})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    enter_presses_buttons(this);
    refresh();
}

void UsersWindow::refresh() {
    auto db = database();
    if (report_failure(db.error, QStringLiteral("Reading the users"))) return;
    auto users = list_users(db.value);
    if (report_failure(users.error, QStringLiteral("Reading the users"))) return;
    table_->setRowCount(int(users.value.size()));
    for (int r = 0; r < int(users.value.size()); ++r) {
        const Account& a = users.value[r];
        const QString cells[] = {a.login,
                                 a.full_name,
                                 a.qualification,
                                 role_name(a.role),
                                 a.disabled ? QStringLiteral("no") : QStringLiteral("yes"),
                                 a.last_login_at.isEmpty() ? QStringLiteral("never") : a.last_login_at};
        for (int c = 0; c < int(std::size(cells)); ++c)
            table_->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    table_->resizeColumnsToContents();
}

QString UsersWindow::selected_login() const {
    const int row = table_->currentRow();
    if (row < 0 || !table_->item(row, 0)) {
        show_message(QStringLiteral("Choose a user first."));
        return {};
    }
    return table_->item(row, 0)->text();
}

bool UsersWindow::add_account(const Account& account, const QString& password) {
    auto db = database();
    Account a = account;
    a.must_change = true; // the person chooses their own at the first login
    const DbError e = db.ok() ? add_user(db.value, current_actor(), a, password) : db.error;
    if (e.duplicate()) {
        show_message(QStringLiteral("%1 exists already.").arg(a.login.trimmed()));
        return false;
    }
    if (report_failure(e, QStringLiteral("Adding the user"))) return false;
    refresh();
    return true;
}

bool UsersWindow::disable_selected() {
    const QString login = selected_login();
    if (login.isEmpty()) return false;
    if (app_state().account && login.compare(app_state().account->login, Qt::CaseInsensitive) == 0) {
        show_message(QStringLiteral("You cannot disable your own account."));
        return false;
    }
    return change_account(QStringLiteral("Disabling the user"),
                          [&](const QSqlDatabase& db) { return disable_user(db, current_actor(), login); });
}

bool UsersWindow::enable_selected() {
    const QString login = selected_login();
    if (login.isEmpty()) return false;
    return change_account(QStringLiteral("Enabling the user"),
                          [&](const QSqlDatabase& db) { return enable_user(db, current_actor(), login); });
}

bool UsersWindow::change_account(const QString& action,
                                 const std::function<DbError(const QSqlDatabase&)>& change) {
    auto db = database();
    if (report_failure(db.ok() ? change(db.value) : db.error, action)) return false;
    refresh();
    return true;
}

bool UsersWindow::reset_selected(const QString& password) {
    const QString login = selected_login();
    if (login.isEmpty()) return false;
    return change_account(QStringLiteral("Resetting the password"), [&](const QSqlDatabase& db) {
        return set_password(db, current_actor(), login, password, true);
    });
}

void UsersWindow::ask_and_add() {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Add user"));
    auto* login = new QLineEdit(&dialog);
    auto* name = new QLineEdit(&dialog);
    auto* qualification = new QLineEdit(&dialog);
    auto* role = new QComboBox(&dialog);
    for (Role r :
         {Role::Reception, Role::Technician, Role::SeniorTechnician, Role::Pathologist, Role::Administrator})
        role->addItem(role_name(r));
    role->setCurrentIndex(1);
    auto* password = password_box(&dialog, QStringLiteral("Password"));
    login->setAccessibleName(QStringLiteral("Login"));
    name->setAccessibleName(QStringLiteral("Full name"));
    qualification->setAccessibleName(QStringLiteral("Qualification"));
    role->setAccessibleName(QStringLiteral("Role"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("&Login"), login);
    form->addRow(QStringLiteral("&Full name"), name);
    form->addRow(QStringLiteral("&Qualification"), qualification);
    form->addRow(QStringLiteral("&Role"), role);
    form->addRow(QStringLiteral("&Password (for the first login)"), password);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(box);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(box, &QDialogButtonBox::accepted, &dialog, [&] {
        Account a;
        a.login = login->text();
        a.full_name = name->text();
        a.qualification = qualification->text();
        a.role = role_named(role->currentText()).value_or(Role::Reception);
        if (add_account(a, password->text())) dialog.accept();
    });
    dialog.exec();
}

void UsersWindow::ask_and_reset() {
    const QString login = selected_login();
    if (login.isEmpty()) return;
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Reset the password of %1").arg(login));
    auto* password = password_box(&dialog, QStringLiteral("New password"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("&New password (for the next login)"), password);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(box);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(box, &QDialogButtonBox::accepted, &dialog, [&] {
        if (reset_selected(password->text())) dialog.accept();
    });
    dialog.exec();
}

void register_users_screen() {
    screens::add(QString::fromLatin1(kUsersScreen), [] { return new UsersWindow; });
}

#pragma once

#include "db_error.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <optional>

// The people who log in (the users table): their roles and what each role
// may do, their passwords as Argon2id hashes (libsodium), and the login's
// check against them.

// Senior technician: a technician who may also delete temporary reports, as
// the built-in logins with the privileged password always could.
enum class Role { Reception, Technician, SeniorTechnician, Pathologist, Administrator };

enum class Right {
    Register,        // registration
    Find,            // find patients, their histories
    Print,           // print reports
    EnterResults,    // save new reports on the test screens
    ModifyResults,   // modify stored reports
    Verify,          // sign a report off
    DeleteTemporary, // delete a temporary patient's report (utility)
    ManageUsers,     // add, disable and reset accounts
};

// What each role may do (a constant table, role by right).
bool may(Role role, Right right);
QString role_name(Role role);
std::optional<Role> role_named(const QString& name);

// A new password needs at least this many characters.
inline constexpr int kMinimumPasswordLength = 8;

// Argon2id (libsodium's interactive limits), as the text libsodium writes;
// empty when the hash could not be made.
QString hash_password(const QString& password);
bool password_matches(const QString& hash, const QString& password);

struct Account {
    QString login;
    QString full_name;
    QString qualification;
    Role role = Role::Technician;
    bool disabled = false;
    bool must_change = false;
    QString last_login_at = {};
};

// After this many failed logins in a row for one name, that name is not
// tried again for kLoginWaitSeconds.
inline constexpr int kFailedLoginsBeforeWait = 5;
inline constexpr int kLoginWaitSeconds = 30;

struct LoginCheck {
    enum class Outcome { Accepted, Refused, Waiting, Unreachable };
    Outcome outcome = Outcome::Refused;
    std::optional<Account> account; // when accepted
    int wait_seconds = 0;           // when waiting
};

// Checks a login against the users table of `db`: the name trimmed and
// compared without regard to case; the password as typed (for the built-in
// accounts, trimmed and in lower case, as they always were). A disabled
// account is refused. Unreachable when the table cannot be read: the caller
// falls back to the built-in pairs. An accepted login records its time.
LoginCheck check_login(const QSqlDatabase& db, const QString& typed_name, const QString& typed_password);
// The failed-login count and its clock: tests move the clock on.
void set_login_clock_for_tests(std::function<qint64()> now_ms);
void forget_failed_logins();

// The admin tool's and the Users window's operations; each is one statement.
// A password shorter than kMinimumPasswordLength is refused.
DbError add_user(const QSqlDatabase& db, const Account& account, const QString& password);
DbError set_password(const QSqlDatabase& db, const QString& login, const QString& password, bool must_change);
DbError disable_user(const QSqlDatabase& db, const QString& login);
DbResult<QList<Account>> list_users(const QSqlDatabase& db);

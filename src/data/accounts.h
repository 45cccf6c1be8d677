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
    RecordCall,      // record the call that told a doctor of a critical result
    TakeAnalyzer,    // take the analyzers' results into a report
    Order,           // order tests, and mark their samples collected and received
};

// What each role may do (a constant table, role by right).
bool may(Role role, Right right);
QString role_name(Role role);
std::optional<Role> role_named(const QString& name);

// The person an action is done for: the login, and the role that decides
// what they may do. Every operation that changes the laboratory's records is
// given the person and checks the right itself, whatever the screen showed.
struct Actor {
    QString login;
    // None: one of the built-in pairs let the person in while the database
    // could not be opened at all. They may do what the built-in logins always
    // could (all but verifying and managing accounts; deleting a temporary
    // report with the privileged password).
    std::optional<Role> role;
    bool privileged_password = false;
};
bool actor_may(const Actor& who, Right right);
// An error of kind Forbidden when `who` may not do `right` (nothing else is
// looked at), with the text the user is shown; no error otherwise.
DbError require(const Actor& who, Right right);
// What the user is told when their account may not do `right`.
QString refusal_message(const Actor& who, Right right);

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
    // Busy: the database is held by another workstation past the busy
    // timeout; Failed: it answered with another error. Neither lets anyone in.
    enum class Outcome { Accepted, Refused, Waiting, Unreachable, Busy, Failed };
    Outcome outcome = Outcome::Refused;
    std::optional<Account> account; // when accepted
    int wait_seconds = 0;           // when waiting
    DbError error = {};             // when busy or failed
};

// Checks a login against the users table of `db`: the name trimmed and
// compared without regard to case; the password as typed (for the built-in
// accounts, trimmed and in lower case, as they always were). A disabled
// account is refused. Unreachable only when `db` is not open: the caller
// falls back to the built-in pairs. An accepted login records its time.
// Failed logins in a row are counted in the database, per login name, so
// the wait holds on every workstation and after a restart (journalled when
// it starts); while the database cannot take the count, this program counts.
LoginCheck check_login(const QSqlDatabase& db, const QString& typed_name, const QString& typed_password);
// The same wait without the database (a built-in pair is checked instead):
// Waiting, Refused (counted in this program), or Unreachable for a pair the
// caller accepted.
LoginCheck check_login_without_database(const QString& typed_name, bool pair_accepted);
// The account of `login` (compared without regard to case); nullopt when none.
DbResult<std::optional<Account>> find_account(const QSqlDatabase& db, const QString& login);
// The failed-login count and its clock: tests move the clock on.
void set_login_clock_for_tests(std::function<qint64()> now_ms);
void forget_failed_logins();

// What an account's texts must be; each returns an empty text, or the rule
// broken. A login is 1 to 32 letters, digits, ".", "-" and "_" (unique
// without regard to case: the table's key); a full name or qualification has
// at most 100 characters and none that control or format the display; a
// password has kMinimumPasswordLength characters or more, not only blanks.
inline constexpr int kMaxLoginLength = 32;
inline constexpr int kMaxFullNameLength = 100;
QString login_problem(const QString& login);
QString full_name_problem(const QString& name);
QString password_problem(const QString& password);

// The admin tool's and the Users window's operations, done for `who`: each
// needs the ManageUsers right (a password of one's own excepted), is one
// transaction, and is journalled under who's login with the account as it
// was (never a password's hash). Refused texts are named; nothing is stored.
DbError add_user(const QSqlDatabase& db, const Actor& who, const Account& account, const QString& password);
DbError set_password(const QSqlDatabase& db, const Actor& who, const QString& login, const QString& password,
                     bool must_change);
DbError disable_user(const QSqlDatabase& db, const Actor& who, const QString& login);
DbError enable_user(const QSqlDatabase& db, const Actor& who, const QString& login);
DbError set_role(const QSqlDatabase& db, const Actor& who, const QString& login, Role role);
DbResult<QList<Account>> list_users(const QSqlDatabase& db);

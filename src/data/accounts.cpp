#include "accounts.h"

#include "connection.h"
#include "journal.h"
#include "records.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <sodium.h>

#include <algorithm>
#include <initializer_list>

namespace {

using R = Right;

struct RoleRow {
    Role role;
    const char* name;
    const char* may_do; // what the account may do, as a refusal tells it
    std::initializer_list<Right> rights;
};

const RoleRow kRoles[] = {
    {Role::Reception,
     "reception",
     "register, order, find and print",
     {R::Register, R::Find, R::Print, R::Order}},
    {Role::Technician,
     "technician",
     "register, find, print and enter results",
     {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults, R::RecordCall, R::TakeAnalyzer,
      R::Order}},
    {Role::SeniorTechnician,
     "senior-technician",
     "register, find, print, enter results and delete temporary reports",
     {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults, R::RecordCall, R::TakeAnalyzer,
      R::DeleteTemporary, R::Order}},
    {Role::Pathologist,
     "pathologist",
     "register, find, print, enter results and verify them",
     {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults, R::RecordCall, R::TakeAnalyzer,
      R::Verify, R::Order}},
    {Role::Administrator,
     "administrator",
     "do everything",
     {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults, R::RecordCall, R::TakeAnalyzer,
      R::Verify, R::DeleteTemporary, R::ManageUsers, R::Order}},
};

// What a refusal says an action needs, right by right.
struct NeedRow {
    Right right;
    const char* doing;
    const char* needs;
};

const NeedRow kNeeds[] = {
    {R::Register, "registering a patient", "a reception account"},
    {R::Find, "finding a patient", "a reception account"},
    {R::Print, "printing", "a reception account"},
    {R::EnterResults, "entering results", "a technician's account"},
    {R::ModifyResults, "entering results", "a technician's account"},
    {R::RecordCall, "recording a critical call", "a technician's account"},
    {R::TakeAnalyzer, "taking the analyzers' results", "a technician's account"},
    {R::Verify, "verifying a report", "a pathologist's account"},
    {R::Order, "ordering tests", "a reception account"},
    {R::DeleteTemporary, "deleting a temporary patient's report", "a senior technician's account"},
    {R::ManageUsers, "managing accounts", "an administrator's account"},
};

std::function<qint64()>& login_clock() {
    static std::function<qint64()> clock;
    return clock;
}

// Milliseconds since 1970: the wait is shared by every workstation, so it is
// kept in the clock they share.
qint64 now_ms() {
    if (login_clock()) return login_clock()();
    return QDateTime::currentMSecsSinceEpoch();
}

struct Failures {
    int in_a_row = 0;
    qint64 wait_until = 0;
};

QHash<QString, Failures>& failures() {
    static QHash<QString, Failures> f;
    return f;
}

DbError error_of(const QSqlQuery& q) {
    return error_of(q.lastError());
}

bool sodium_ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

DbError refuse_bad_password(const QString& password) {
    if (const QString p = password_problem(password); !p.isEmpty()) return DbError::other(p);
    return {};
}

DbError no_user(const QString& login) {
    return {DbError::Kind::NotFound, 0, QStringLiteral("no user %1").arg(login)};
}

// A text for a column that holds a person's name: no control or format
// characters (a terminal escape, a newline, a right-to-left override, a
// zero-width character), at most `limit` characters.
QString shown_text_problem(const QString& text, const char* what, int limit) {
    if (text.size() > limit)
        return QStringLiteral("%1 has at most %2 characters").arg(QLatin1String(what)).arg(limit);
    for (QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c.category() == QChar::Other_Surrogate || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            return QStringLiteral("%1 may not hold control or formatting characters (U+%2)")
                .arg(QLatin1String(what))
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return {};
}

QJsonObject account_json(const Account& a) {
    return {{QStringLiteral("login"), a.login},
            {QStringLiteral("full_name"), a.full_name},
            {QStringLiteral("qualification"), a.qualification},
            {QStringLiteral("role"), role_name(a.role)},
            {QStringLiteral("disabled"), a.disabled}};
}

} // namespace

bool may(Role role, Right right) {
    for (const RoleRow& r : kRoles)
        if (r.role == role) return std::find(r.rights.begin(), r.rights.end(), right) != r.rights.end();
    return false;
}

namespace {

// What decides the rights of `who`: the account's role, or, for a built-in
// pair let in while the database could not be opened, the role the built-in
// logins are seeded with: a technician, a senior technician with the
// privileged password (all but verifying and managing accounts).
Role role_of(const Actor& who) {
    return who.role.value_or(who.privileged_password ? Role::SeniorTechnician : Role::Technician);
}

} // namespace

bool actor_may(const Actor& who, Right right) {
    if (who.login.trimmed().isEmpty()) return false; // nobody (a session that was ended)
    return may(role_of(who), right);
}

QString refusal_message(const Actor& who, Right right) {
    QString may_do;
    for (const RoleRow& r : kRoles)
        if (r.role == role_of(who)) may_do = QString::fromLatin1(r.may_do);
    for (const NeedRow& n : kNeeds)
        if (n.right == right)
            return QStringLiteral("Your account may %1; %2 needs %3.")
                .arg(may_do, QLatin1String(n.doing), QLatin1String(n.needs));
    return {};
}

DbError require(const Actor& who, Right right) {
    if (actor_may(who, right)) return {};
    return {DbError::Kind::Forbidden, 0, refusal_message(who, right)};
}

QString role_name(Role role) {
    for (const RoleRow& r : kRoles)
        if (r.role == role) return QString::fromLatin1(r.name);
    return {};
}

std::optional<Role> role_named(const QString& name) {
    for (const RoleRow& r : kRoles)
        if (name.trimmed().compare(QLatin1String(r.name), Qt::CaseInsensitive) == 0) return r.role;
    return std::nullopt;
}

QString hash_password(const QString& password) {
    if (!sodium_ready()) return {};
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), utf8.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return QString::fromLatin1(out);
}

bool password_matches(const QString& hash, const QString& password) {
    if (!sodium_ready() || hash.isEmpty()) return false;
    const QByteArray stored = hash.toLatin1(), utf8 = password.toUtf8();
    return crypto_pwhash_str_verify(stored.constData(), utf8.constData(), utf8.size()) == 0;
}

QString login_problem(const QString& login) {
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]{1,%1}$").arg(kMaxLoginLength));
    if (allowed.match(login).hasMatch()) return {};
    if (login.isEmpty()) return QStringLiteral("a login name is needed");
    if (login.size() > kMaxLoginLength)
        return QStringLiteral("a login name has at most %1 characters").arg(kMaxLoginLength);
    return QStringLiteral("a login name has only letters, digits, \".\", \"-\" and \"_\"");
}

QString full_name_problem(const QString& name) {
    return shown_text_problem(name, "a full name", kMaxFullNameLength);
}

QString password_problem(const QString& password) {
    if (password.size() < kMinimumPasswordLength)
        return QStringLiteral("a password needs at least %1 characters").arg(kMinimumPasswordLength);
    if (password.trimmed().isEmpty()) return QStringLiteral("a password cannot be only blanks");
    return {};
}

void set_login_clock_for_tests(std::function<qint64()> now) {
    login_clock() = std::move(now);
}

void forget_failed_logins() {
    failures().clear();
}

namespace {

Account account_from(const QSqlQuery& q) {
    Account a;
    a.login = q.value(0).toString();
    a.full_name = q.value(1).toString();
    a.qualification = q.value(2).toString();
    a.role = role_named(q.value(3).toString()).value_or(Role::Reception);
    a.disabled = q.value(4).toBool();
    a.must_change = q.value(5).toBool();
    a.last_login_at = q.value(6).toString();
    return a;
}

constexpr char kAccountColumns[] = "login, full_name, qualification, role, disabled, must_change, "
                                   "last_login_at, password_hash, legacy_password";

// A failed login for `key` (a login name in lower case), counted where every
// workstation sees it; the fifth in a row starts the wait, journalled. False
// when the database could not take it (the caller counts it here instead).
bool count_shared_failure(const QSqlDatabase& db, const QString& key) {
    const DbError counted = in_transaction_on(db, [&]() -> DbError {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO login_failures (login, in_a_row, wait_until) VALUES (?, 1, 0) "
                                 "ON CONFLICT (login) DO UPDATE SET in_a_row = login_failures.in_a_row + 1 "
                                 "RETURNING in_a_row"));
        q.addBindValue(key);
        if (!q.exec() || !q.next()) return error_of(q);
        const int in_a_row = q.value(0).toInt();
        q.finish();
        if (in_a_row < kFailedLoginsBeforeWait) return {};
        const qint64 until = now_ms() + kLoginWaitSeconds * 1000;
        if (DbError e = execute_on(
                db, QStringLiteral("UPDATE login_failures SET in_a_row = 0, wait_until = ? WHERE login = ?"),
                {until, key});
            !e.ok())
            return e;
        return journal_change_on(
            db, key, QStringLiteral("login wait"), QStringLiteral("users"), 0,
            {{QStringLiteral("login"), key},
             {QStringLiteral("failed_in_a_row"), in_a_row},
             {QStringLiteral("wait_until"), QDateTime::fromMSecsSinceEpoch(until).toString(Qt::ISODate)}});
    });
    return counted.ok();
}

void count_local_failure(const QString& key) {
    Failures& f = failures()[key];
    if (++f.in_a_row >= kFailedLoginsBeforeWait) {
        f.in_a_row = 0;
        f.wait_until = now_ms() + kLoginWaitSeconds * 1000;
    }
}

LoginCheck failed_read(const QSqlQuery& q) {
    const DbError e = error_of(q);
    return {e.busy() ? LoginCheck::Outcome::Busy : LoginCheck::Outcome::Failed, std::nullopt, 0, e};
}

} // namespace

LoginCheck check_login_without_database(const QString& typed_name, bool pair_accepted) {
    const QString key = typed_name.trimmed().toLower();
    if (const Failures& f = failures().value(key); f.wait_until > now_ms())
        return {LoginCheck::Outcome::Waiting, std::nullopt, int((f.wait_until - now_ms() + 999) / 1000)};
    if (pair_accepted) {
        failures().remove(key);
        return {LoginCheck::Outcome::Unreachable, std::nullopt, 0};
    }
    count_local_failure(key);
    return {LoginCheck::Outcome::Refused, std::nullopt, 0};
}

DbResult<std::optional<Account>> find_account(const QSqlDatabase& db, const QString& login) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM users WHERE login = ?").arg(QLatin1String(kAccountColumns)));
    q.addBindValue(login.trimmed());
    if (!q.exec()) return {std::nullopt, error_of(q)};
    if (!q.next()) return {std::nullopt, {}};
    return {account_from(q), {}};
}

LoginCheck check_login(const QSqlDatabase& db, const QString& typed_name, const QString& typed_password) {
    using Outcome = LoginCheck::Outcome;
    const QString name = typed_name.trimmed();
    const QString key = name.toLower();
    if (!db.isOpen()) return {Outcome::Unreachable, std::nullopt, 0};
    const auto waiting = [](qint64 until) {
        return LoginCheck{Outcome::Waiting, std::nullopt, int((until - now_ms() + 999) / 1000)};
    };
    // A wait this program counted while the database could not take the count.
    if (const Failures& f = failures().value(key); f.wait_until > now_ms()) return waiting(f.wait_until);

    const bool a_login = login_problem(name).isEmpty(); // anything else is no account and is not kept
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (a_login) {
        q.prepare(QStringLiteral("SELECT wait_until FROM login_failures WHERE login = ?"));
        q.addBindValue(key);
        if (!q.exec()) return failed_read(q);
        const qint64 until = q.next() ? q.value(0).toLongLong() : 0;
        q.finish();
        if (until > now_ms()) return waiting(until);
    }

    bool accepted = false;
    Account a;
    q.prepare(QStringLiteral("SELECT %1 FROM users WHERE login = ?").arg(QLatin1String(kAccountColumns)));
    q.addBindValue(name);
    if (!q.exec()) return failed_read(q);
    if (a_login && q.next()) {
        a = account_from(q);
        const QString password = q.value(8).toBool() ? typed_password.trimmed().toLower() : typed_password;
        accepted = !a.disabled && password_matches(q.value(7).toString(), password);
    }
    q.finish();
    if (!accepted) {
        if (!a_login || !count_shared_failure(db, key)) count_local_failure(key);
        return {Outcome::Refused, std::nullopt, 0};
    }
    failures().remove(key);
    execute_on(db, QStringLiteral("DELETE FROM login_failures WHERE login = ?"),
               {key}); // a busy file: counted on
    // A busy file does not refuse a right password.
    execute_on(db, QStringLiteral("UPDATE users SET last_login_at = ? WHERE login = ?"),
               {QDateTime::currentDateTime().toString(Qt::ISODate), a.login});
    return {Outcome::Accepted, a, 0};
}

DbError add_user(const QSqlDatabase& db, const Actor& who, const Account& account, const QString& password) {
    if (DbError e = require(who, Right::ManageUsers); !e.ok()) return e;
    const QString login = account.login.trimmed();
    for (const QString& problem :
         {login_problem(login), full_name_problem(account.full_name),
          shown_text_problem(account.qualification, "a qualification", kMaxFullNameLength),
          password_problem(password)})
        if (!problem.isEmpty()) return DbError::other(problem);
    const QString hash = hash_password(password);
    if (hash.isEmpty()) return DbError::other(QStringLiteral("the password could not be hashed"));
    Account stored = account;
    stored.login = login;
    return in_transaction_on(db, [&]() -> DbError {
        if (DbError e = execute_on(
                db,
                QStringLiteral("INSERT INTO users (login, full_name, qualification, role, password_hash, "
                               "must_change, created_at) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                {login, stored_text(account.full_name), stored_text(account.qualification),
                 role_name(account.role), hash, account.must_change ? 1 : 0,
                 QDateTime::currentDateTime().toString(Qt::ISODate)});
            !e.ok())
            return e;
        return journal_change_on(db, who.login, QStringLiteral("add user"), QStringLiteral("users"), 0,
                                 account_json(stored));
    });
}

namespace {

// Changes one account, journalled with its state before (never its hash).
DbError change_account(const QSqlDatabase& db, const Actor& who, const QString& login, const QString& action,
                       const QString& sql, const QVariantList& binds, QJsonObject extra = {}) {
    return in_transaction_on(db, [&]() -> DbError {
        auto before = find_account(db, login);
        if (!before.ok()) return before.error;
        if (!before.value) return no_user(login);
        if (DbError e = execute_on(db, sql, QVariantList(binds) << before.value->login); !e.ok()) return e;
        QJsonObject old = account_json(*before.value);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            old.insert(it.key(), it.value());
        return journal_change_on(db, who.login, action, QStringLiteral("users"), 0, old);
    });
}

} // namespace

DbError set_password(const QSqlDatabase& db, const Actor& who, const QString& login, const QString& password,
                     bool must_change) {
    // Anyone may choose their own password; another's needs ManageUsers.
    if (who.login.trimmed().compare(login.trimmed(), Qt::CaseInsensitive) != 0 ||
        who.login.trimmed().isEmpty())
        if (DbError e = require(who, Right::ManageUsers); !e.ok()) return e;
    if (DbError e = refuse_bad_password(password); !e.ok()) return e;
    const QString hash = hash_password(password);
    if (hash.isEmpty()) return DbError::other(QStringLiteral("the password could not be hashed"));
    return change_account(
        db, who, login.trimmed(), QStringLiteral("password"),
        QStringLiteral("UPDATE users SET password_hash = ?, legacy_password = 0, must_change = ? "
                       "WHERE login = ?"),
        {hash, must_change ? 1 : 0},
        {{QStringLiteral("password"), must_change ? QStringLiteral("reset") : QStringLiteral("chosen")}});
}

DbError disable_user(const QSqlDatabase& db, const Actor& who, const QString& login) {
    if (DbError e = require(who, Right::ManageUsers); !e.ok()) return e;
    return change_account(db, who, login.trimmed(), QStringLiteral("disable user"),
                          QStringLiteral("UPDATE users SET disabled = 1 WHERE login = ?"), {});
}

DbError enable_user(const QSqlDatabase& db, const Actor& who, const QString& login) {
    if (DbError e = require(who, Right::ManageUsers); !e.ok()) return e;
    return change_account(db, who, login.trimmed(), QStringLiteral("enable user"),
                          QStringLiteral("UPDATE users SET disabled = 0 WHERE login = ?"), {});
}

DbError set_role(const QSqlDatabase& db, const Actor& who, const QString& login, Role role) {
    if (DbError e = require(who, Right::ManageUsers); !e.ok()) return e;
    return change_account(db, who, login.trimmed(), QStringLiteral("change role"),
                          QStringLiteral("UPDATE users SET role = ? WHERE login = ?"), {role_name(role)});
}

DbResult<QList<Account>> list_users(const QSqlDatabase& db) {
    DbResult<QList<Account>> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM users ORDER BY login").arg(QLatin1String(kAccountColumns)))) {
        out.error = error_of(q);
        return out;
    }
    while (q.next())
        out.value << account_from(q);
    return out;
}

#include "accounts.h"

#include "records.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
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
    std::initializer_list<Right> rights;
};

const RoleRow kRoles[] = {
    {Role::Reception, "reception", {R::Register, R::Find, R::Print}},
    {Role::Technician, "technician", {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults}},
    {Role::SeniorTechnician,
     "senior-technician",
     {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults, R::DeleteTemporary}},
    {Role::Pathologist,
     "pathologist",
     {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults, R::Verify}},
    {Role::Administrator,
     "administrator",
     {R::Register, R::Find, R::Print, R::EnterResults, R::ModifyResults, R::Verify, R::DeleteTemporary,
      R::ManageUsers}},
};

std::function<qint64()>& login_clock() {
    static std::function<qint64()> clock;
    return clock;
}

qint64 now_ms() {
    if (login_clock()) return login_clock()();
    static QElapsedTimer since_start = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return since_start.elapsed();
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
    return DbError::from(q.lastError());
}

bool sodium_ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

DbError refuse_short(const QString& password) {
    if (password.size() >= kMinimumPasswordLength) return {};
    return DbError::other(
        QStringLiteral("a password needs at least %1 characters").arg(kMinimumPasswordLength));
}

} // namespace

bool may(Role role, Right right) {
    for (const RoleRow& r : kRoles)
        if (r.role == role) return std::find(r.rights.begin(), r.rights.end(), right) != r.rights.end();
    return false;
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

void set_login_clock_for_tests(std::function<qint64()> now) {
    login_clock() = std::move(now);
}

void forget_failed_logins() {
    failures().clear();
}

LoginCheck check_login(const QSqlDatabase& db, const QString& typed_name, const QString& typed_password) {
    using Outcome = LoginCheck::Outcome;
    const QString name = typed_name.trimmed();
    Failures& f = failures()[name.toLower()];
    if (f.wait_until > now_ms())
        return {Outcome::Waiting, std::nullopt, int((f.wait_until - now_ms() + 999) / 1000)};

    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT login, full_name, qualification, role, password_hash, legacy_password, "
                             "disabled, must_change, last_login_at FROM users WHERE login = ?"));
    q.addBindValue(name);
    if (!db.isOpen() || !q.exec()) return {Outcome::Unreachable, std::nullopt, 0};
    bool accepted = false;
    Account a;
    if (q.next()) {
        a.login = q.value(0).toString();
        a.full_name = q.value(1).toString();
        a.qualification = q.value(2).toString();
        a.role = role_named(q.value(3).toString()).value_or(Role::Reception);
        a.disabled = q.value(6).toBool();
        a.must_change = q.value(7).toBool();
        a.last_login_at = q.value(8).toString();
        const QString password = q.value(5).toBool() ? typed_password.trimmed().toLower() : typed_password;
        accepted = !a.disabled && password_matches(q.value(4).toString(), password);
    }
    q.finish();
    if (!accepted) {
        if (++f.in_a_row >= kFailedLoginsBeforeWait) {
            f.in_a_row = 0;
            f.wait_until = now_ms() + kLoginWaitSeconds * 1000;
        }
        return {Outcome::Refused, std::nullopt, 0};
    }
    f = {};
    QSqlQuery stamp(db);
    stamp.prepare(QStringLiteral("UPDATE users SET last_login_at = ? WHERE login = ?"));
    stamp.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODate));
    stamp.addBindValue(a.login);
    stamp.exec(); // a busy file does not refuse a right password
    return {Outcome::Accepted, a, 0};
}

DbError add_user(const QSqlDatabase& db, const Account& account, const QString& password) {
    if (DbError e = refuse_short(password); !e.ok()) return e;
    const QString login = account.login.trimmed();
    if (login.isEmpty()) return DbError::other(QStringLiteral("a login name is needed"));
    const QString hash = hash_password(password);
    if (hash.isEmpty()) return DbError::other(QStringLiteral("the password could not be hashed"));
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO users (login, full_name, qualification, role, password_hash, "
                             "must_change, created_at) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant& v : {QVariant(login), QVariant(stored_text(account.full_name)),
                              QVariant(stored_text(account.qualification)), QVariant(role_name(account.role)),
                              QVariant(hash), QVariant(account.must_change ? 1 : 0),
                              QVariant(QDateTime::currentDateTime().toString(Qt::ISODate))})
        q.addBindValue(v);
    return q.exec() ? DbError{} : error_of(q);
}

DbError set_password(const QSqlDatabase& db, const QString& login, const QString& password,
                     bool must_change) {
    if (DbError e = refuse_short(password); !e.ok()) return e;
    const QString hash = hash_password(password);
    if (hash.isEmpty()) return DbError::other(QStringLiteral("the password could not be hashed"));
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE users SET password_hash = ?, legacy_password = 0, must_change = ? "
                             "WHERE login = ?"));
    q.addBindValue(hash);
    q.addBindValue(must_change ? 1 : 0);
    q.addBindValue(login.trimmed());
    if (!q.exec()) return error_of(q);
    if (q.numRowsAffected() == 0)
        return {DbError::Kind::NotFound, 0, QStringLiteral("no user %1").arg(login)};
    return {};
}

DbError disable_user(const QSqlDatabase& db, const QString& login) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE users SET disabled = 1 WHERE login = ?"));
    q.addBindValue(login.trimmed());
    if (!q.exec()) return error_of(q);
    if (q.numRowsAffected() == 0)
        return {DbError::Kind::NotFound, 0, QStringLiteral("no user %1").arg(login)};
    return {};
}

DbResult<QList<Account>> list_users(const QSqlDatabase& db) {
    DbResult<QList<Account>> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT login, full_name, qualification, role, disabled, must_change, "
                               "last_login_at FROM users ORDER BY login"))) {
        out.error = error_of(q);
        return out;
    }
    while (q.next())
        out.value << Account{
            q.value(0).toString(), q.value(1).toString(),
            q.value(2).toString(), role_named(q.value(3).toString()).value_or(Role::Reception),
            q.value(4).toBool(),   q.value(5).toBool(),
            q.value(6).toString()};
    return out;
}

#include "credentials.h"

#include <QCryptographicHash>
#include <QStringList>

namespace {

struct SaltedHash {
    const char* salt;
    const char* sha256; // of salt, unit separator, user name, unit separator, password
};

// The accepted login pairs, kept only as salted hashes.
constexpr SaltedHash kAcceptedPairs[] = {
    {"756a1e41cda390e9", "c8ec5c4ceac36ad6cff3da1ff25ca4b5bc6698cd1023281b4e6a0a5e15ad8eb0"},
    {"76ce5179d2b8d443", "a247f93c2987210d5ee42f15f2bebbe9f116c7383ae0f0850a0f254699766588"},
    {"107374db9f322bc8", "46afb8de5cd614e5dc43c12693f290416af85fde10103f9ce6770bb2cd9b55f7"},
    {"f0e7b6325c30c331", "e9c39991d83a56187997305d060178d8665455ab95b1873ded005d31c4af01ea"},
};

// The password that allows the utility screen's deletion (salt, unit separator, password).
constexpr SaltedHash kPrivileged = {"6408dc6c34eb8443",
                                    "88993ba94796fc93deee631a19cb4350f5b67726599b7319bedff0d4c96645d6"};

QByteArray digest(const char* salt, const QStringList& parts) {
    QByteArray data(salt);
    for (const QString& p : parts)
        data += '\x1f' + p.toUtf8();
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QString normalised(const QString& s) {
    return s.trimmed().toLower();
}

} // namespace

bool login_pair_accepted(const QString& user_name, const QString& password) {
    const QStringList parts{normalised(user_name), normalised(password)};
    for (const SaltedHash& pair : kAcceptedPairs)
        if (digest(pair.salt, parts) == pair.sha256) return true;
    return false;
}

bool is_privileged_password(const QString& password) {
    return digest(kPrivileged.salt, {normalised(password)}) == kPrivileged.sha256;
}

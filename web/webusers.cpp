#include "webusers.h"

#include <QtCore/QFile>
#include <QtCore/QRegularExpression>
#include <QtCore/QSaveFile>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

constexpr int HashBytes = 32;
const char Scheme[] = "pbkdf2-sha256";

bool base64(const QByteArray &text, int bytes, QByteArray *decoded)
{
    const auto result = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != bytes)
        return false;
    *decoded = result.decoded;
    return true;
}

} // namespace

bool WebUsers::isName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

QByteArray WebUsers::derive(const QByteArray &password, const QByteArray &salt, int iterations)
{
    QByteArray hash(HashBytes, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(password.constData(), password.size(),
                          reinterpret_cast<const unsigned char *>(salt.constData()), salt.size(),
                          iterations, EVP_sha256(), HashBytes,
                          reinterpret_cast<unsigned char *>(hash.data()))
        != 1)
        return QByteArray();
    return hash;
}

bool WebUsers::parse(const QByteArray &text, const QString &path, WebUsers *users, QString *error)
{
    users->m_users.clear();
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> parts = line.split(':');
        User user;
        bool ok = parts.size() == 6;
        const QString name = ok ? QString::fromUtf8(parts.at(0)) : QString();
        if (ok)
            user.role = WebSessions::roleFromName(QString::fromUtf8(parts.at(1)));
        if (ok)
            user.iterations = parts.at(3).toInt(&ok);
        const QString why =
            !ok || !isName(name) ? QStringLiteral("expected NAME:ROLE:%1:ITERATIONS:SALT:HASH")
                                       .arg(QLatin1String(Scheme))
            : user.role == WebSessions::Role::None ? QStringLiteral("the role is viewer or operator")
            : parts.at(2) != Scheme ? QStringLiteral("the hash is %1").arg(QLatin1String(Scheme))
            : user.iterations < MinIterations
                ? QStringLiteral("at least %1 iterations").arg(MinIterations)
            : !base64(parts.at(4), SaltBytes, &user.salt)
                ? QStringLiteral("the salt is %1 bytes in base64").arg(SaltBytes)
            : !base64(parts.at(5), HashBytes, &user.hash)
                ? QStringLiteral("the hash is %1 bytes in base64").arg(HashBytes)
            : users->m_users.contains(name) ? QStringLiteral("user %1 comes twice").arg(name)
                                            : QString();
        if (!why.isEmpty()) {
            *error = QStringLiteral("users file %1 line %2: %3").arg(path).arg(number).arg(why);
            return false;
        }
        users->m_users.insert(name, user);
    }
    return true;
}

bool WebUsers::load(const QString &path, WebUsers *users, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read users file %1: %2").arg(path, file.errorString());
        return false;
    }
    return parse(file.readAll(), path, users, error);
}

QByteArray WebUsers::line(const QString &name, WebSessions::Role role, const QByteArray &password)
{
    QByteArray salt(SaltBytes, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(salt.data()), SaltBytes) != 1)
        return QByteArray();
    const QByteArray hash = derive(password, salt, Iterations);
    if (hash.isEmpty())
        return QByteArray();
    return name.toUtf8() + ':' + WebSessions::roleName(role) + ':' + Scheme + ':'
           + QByteArray::number(Iterations) + ':' + salt.toBase64() + ':' + hash.toBase64();
}

bool WebUsers::addUser(const QString &path, const QString &name, WebSessions::Role role,
                       const QByteArray &password, QString *error)
{
    QByteArray text;
    QFile old(path);
    if (old.exists()) {
        WebUsers users;
        if (!load(path, &users, error))
            return false;
        old.open(QIODevice::ReadOnly);
        text = old.readAll();
    }
    const QByteArray added = line(name, role, password);
    if (added.isEmpty()) {
        *error = QStringLiteral("cannot make a password hash: OpenSSL failed");
        return false;
    }
    QByteArray kept;
    for (const QByteArray &raw : text.split('\n')) {
        if (!raw.isEmpty() && !raw.startsWith(name.toUtf8() + ':'))
            kept += raw + '\n';
    }
    QSaveFile file(path);
    // Only its owner reads the hashes.
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
        || file.write(kept + added + '\n') < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write users file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

WebSessions::Role WebUsers::check(const QString &name, const QByteArray &password) const
{
    static const QByteArray noSalt(SaltBytes, '\0');
    const auto it = m_users.constFind(name);
    const bool known = it != m_users.cend();
    const QByteArray hash = derive(password, known ? it->salt : noSalt,
                                   known ? it->iterations : Iterations);
    if (!known || hash.size() != HashBytes
        || CRYPTO_memcmp(hash.constData(), it->hash.constData(), HashBytes) != 0)
        return WebSessions::Role::None;
    return it->role;
}

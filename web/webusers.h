// The users of lustbus web, from the file of --users: one line per user,
//
//   NAME:ROLE:pbkdf2-sha256:ITERATIONS:SALT_BASE64:HASH_BASE64
//
// ROLE viewer or operator; the hash is OpenSSL's PKCS5_PBKDF2_HMAC with SHA-256 over
// the password and a random 16-byte salt, Iterations rounds. Lines starting with '#'
// and empty lines are passed over. A name is 1 to 64 of A-Z a-z 0-9 _ . -
#ifndef LUSTBUS_WEBUSERS_H
#define LUSTBUS_WEBUSERS_H

#include "websessions.h"

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QString>

class WebUsers
{
public:
    static constexpr int Iterations = 200000;
    static constexpr int SaltBytes = 16;
    static constexpr int MinIterations = 200000;

    static bool isName(const QString &name);
    // A file's content; false with "PATH line N: ..." in error.
    static bool parse(const QByteArray &text, const QString &path, WebUsers *users,
                      QString *error);
    static bool load(const QString &path, WebUsers *users, QString *error);
    // The line for a user, with a new salt; empty when the random generator failed.
    static QByteArray line(const QString &name, WebSessions::Role role, const QByteArray &password);
    // Writes or replaces name's line in path (made when missing), atomically; the other
    // lines stay as they were. False with the cause.
    static bool addUser(const QString &path, const QString &name, WebSessions::Role role,
                        const QByteArray &password, QString *error);

    // The user's role when password is theirs, else None. Takes as long for a name that
    // is not in the file, so that the time does not tell which names are.
    WebSessions::Role check(const QString &name, const QByteArray &password) const;
    int size() const { return int(m_users.size()); }

private:
    struct User
    {
        WebSessions::Role role = WebSessions::Role::None;
        int iterations = Iterations;
        QByteArray salt;
        QByteArray hash;
    };
    static QByteArray derive(const QByteArray &password, const QByteArray &salt, int iterations);

    QHash<QString, User> m_users;
};

#endif // LUSTBUS_WEBUSERS_H

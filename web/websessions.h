// The sessions of lustbus web: a random id in the cookie lustbus_session, a random
// anti-CSRF token that every POST carries in X-CSRF-Token, and who is logged in with
// which role. Ids and tokens are 32 bytes from OpenSSL's RAND_bytes. Safe to use from
// every HTTP thread.
//
// At most MaxSessions are kept; a new one then replaces the one unused for longest. A
// session unused for IdleSeconds is gone.
#ifndef LUSTBUS_WEBSESSIONS_H
#define LUSTBUS_WEBSESSIONS_H

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QString>

#include <mutex>

class WebSessions
{
public:
    static constexpr int MaxSessions = 1000;
    static constexpr qint64 IdleSeconds = 12 * 3600;

    enum class Role { None, Viewer, Operator };
    struct Session
    {
        QByteArray id; //!< empty: none
        QByteArray csrf;
        QString user; //!< empty: anonymous
        Role role = Role::None;
    };

    static const char *roleName(Role role); //!< "viewer", "operator"; null for None
    static Role roleFromName(const QString &name);
    // A token of bytes random bytes, base64url without padding; empty when the random
    // generator failed.
    static QByteArray randomToken(int bytes = 32);

    // A new session for user (empty: anonymous) with role.
    Session create(const QString &user, Role role);
    // The session of a cookie's id; false when there is none (any more).
    bool find(const QByteArray &id, Session *session);
    void remove(const QByteArray &id);

private:
    struct Entry
    {
        Session session;
        qint64 usedAtS = 0;
    };

    std::mutex m_mutex;
    QHash<QByteArray, Entry> m_sessions;
};

#endif // LUSTBUS_WEBSESSIONS_H

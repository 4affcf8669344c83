#include "websessions.h"

#include <QtCore/QDateTime>

#include <openssl/rand.h>

#include <algorithm>

namespace {

qint64 nowS()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

const char *WebSessions::roleName(Role role)
{
    switch (role) {
    case Role::Viewer: return "viewer";
    case Role::Operator: return "operator";
    case Role::None: break;
    }
    return nullptr;
}

WebSessions::Role WebSessions::roleFromName(const QString &name)
{
    if (name == QLatin1String("viewer"))
        return Role::Viewer;
    if (name == QLatin1String("operator"))
        return Role::Operator;
    return Role::None;
}

QByteArray WebSessions::randomToken(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(random.data()), bytes) != 1)
        return QByteArray();
    return random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

WebSessions::Session WebSessions::create(const QString &user, Role role)
{
    Session session{randomToken(), randomToken(), user, role};
    if (session.id.isEmpty() || session.csrf.isEmpty())
        return Session();
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 now = nowS();
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (now - it->usedAtS > IdleSeconds)
            it = m_sessions.erase(it);
        else
            ++it;
    }
    if (m_sessions.size() >= MaxSessions) {
        const auto oldest = std::min_element(m_sessions.begin(), m_sessions.end(),
                                             [](const Entry &a, const Entry &b) {
                                                 return a.usedAtS < b.usedAtS;
                                             });
        m_sessions.erase(oldest);
    }
    m_sessions.insert(session.id, {session, now});
    return session;
}

bool WebSessions::find(const QByteArray &id, Session *session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(id);
    if (id.isEmpty() || it == m_sessions.end())
        return false;
    const qint64 now = nowS();
    if (now - it->usedAtS > IdleSeconds) {
        m_sessions.erase(it);
        return false;
    }
    it->usedAtS = now;
    *session = it->session;
    return true;
}

void WebSessions::remove(const QByteArray &id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.remove(id);
}

// The HTTP side of lustbus web (cpp-httplib): the page's files from the program's
// resources (:/web/), the JSON API and the live streams (server-sent events). Handlers
// run on the library's threads and never touch the bus: they hand their work to the
// bus owner (WebBus::call, WebBus::post) and wait for it.
//
// Every request passes one gate first: the session (cookie lustbus_session), the login
// when there are users, the anti-CSRF token of every POST, the body's size and JSON
// form, and the role. See docs/web.md for the API.
#ifndef LUSTBUS_WEBSERVER_H
#define LUSTBUS_WEBSERVER_H

#include "webbus.h"
#include "websessions.h"
#include "webusers.h"

#include <QtCore/QHash>
#include <QtCore/QJsonObject>
#include <QtCore/QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}

class WebSets;

class WebServer
{
public:
    static constexpr int MaxStreams = 8;
    static constexpr int Threads = MaxStreams + 8;
    static constexpr size_t MaxJsonBytes = 64 * 1024;
    static constexpr size_t MaxSetBytes = 1024 * 1024;
    static constexpr int MaxReadNames = 64;
    static constexpr int MaxTableNames = 256;
    static constexpr int MaxTrendNames = 8;
    static constexpr int KeepaliveSeconds = 15;

    struct Settings
    {
        bool writes = false;
        QString tlsCert; //!< empty: plain HTTP
        QString tlsKey;
        const WebUsers *users = nullptr; //!< null: no login, everyone is an operator
    };

    WebServer(WebBus &bus, const Settings &settings);
    ~WebServer();

    // Binds to host and port (0: a free one); false with the cause.
    bool listen(const QString &host, quint16 port, QString *error);
    quint16 port() const { return m_port; }
    // Serves on a thread of its own until stop().
    void start();
    void stop();

    // What a handler gets: the request, its session and its JSON body.
    struct Context
    {
        const httplib::Request &request;
        WebSessions::Session session;
        QJsonObject body;
    };
    enum class Access {
        Open,    //!< the page, the session and the login: no session needed
        Read,    //!< any logged-in role
        Write,   //!< an operator, with --writes
    };
    using Handler = std::function<WebBus::Reply(Context &)>;

private:
    void route(const char *method, const char *pattern, Access access, size_t limit,
               Handler handler);
    // The gate: false with the reply when the request goes no further.
    bool admit(const httplib::Request &request, Access access, size_t limit, Context &context,
               WebBus::Reply *refusal);
    void addRoutes();
    // Backups, restores, comparisons and scans.
    void addSetRoutes();
    void addStatic();
    void live(const httplib::Request &request, httplib::Response &response);
    WebBus::Reply session(Context &context, httplib::Response &response);
    WebBus::Reply login(Context &context, httplib::Response &response);
    WebBus::Reply parameters() const;
    WebBus::Reply read(Context &context);
    WebBus::Reply write(Context &context);
    // The station of the body or the query (default the first); false with the refusal.
    bool stationOf(const Context &context, int *station, WebBus::Reply *refusal) const;
    // The station of the body or the query (default the first), then handler.
    WebBus::Reply withStation(Context &context, const std::function<WebBus::Reply(int)> &handler);
    void setCookie(httplib::Response &response, const QByteArray &id) const;

    WebBus &m_bus;
    Settings m_settings;
    WebSessions m_sessions;
    std::unique_ptr<httplib::Server> m_server;
    std::unique_ptr<WebSets> m_sets;
    std::thread m_thread;
    quint16 m_port = 0;
    std::atomic<int> m_streams{0};
    QHash<QString, QByteArray> m_files; //!< the page's files by name
};

#endif // LUSTBUS_WEBSERVER_H

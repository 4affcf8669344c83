#include "webserver.h"

#include "livestream.h"
#include "webjson.h"
#include "websets.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QUrl>

#include <httplib.h>

using LustBus::CatalogueEntry;
using WebJson::error;

namespace {

const char CookieName[] = "lustbus_session";
const char Json[] = "application/json";
const char Policy[] = "default-src 'self'; img-src 'self' data: blob:; style-src 'self' "
                      "'unsafe-inline'";

void reply(httplib::Response &response, const WebBus::Reply &reply)
{
    response.status = reply.status;
    if (!reply.file.isEmpty()) {
        response.set_header("Content-Disposition",
                            QStringLiteral("attachment; filename=\"%1\"").arg(reply.fileName)
                                .toStdString());
        response.set_content(reply.file.constData(), size_t(reply.file.size()), Json);
        return;
    }
    response.set_content(QJsonDocument(reply.body).toJson(QJsonDocument::Compact).toStdString(),
                         Json);
}

QByteArray cookie(const httplib::Request &request)
{
    const QByteArray header = QByteArray::fromStdString(request.get_header_value("Cookie"));
    for (const QByteArray &part : header.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(QByteArray(CookieName) + '='))
            return item.mid(int(sizeof CookieName));
    }
    return QByteArray();
}

const char *contentType(const QString &name)
{
    static const struct { const char *suffix, *type; } types[] = {
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},   {".svg", "image/svg+xml"},
        {".png", "image/png"},                 {".json", "application/json"},
        {".ico", "image/x-icon"},
    };
    for (const auto &type : types) {
        if (name.endsWith(QLatin1String(type.suffix)))
            return type.type;
    }
    return "application/octet-stream";
}

QStringList listParameter(const httplib::Request &request, const char *name)
{
    const QString text = QString::fromStdString(request.get_param_value(name));
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char(','));
}

} // namespace

WebServer::WebServer(WebBus &bus, const Settings &settings)
    : m_bus(bus), m_settings(settings), m_sets(std::make_unique<WebSets>(bus))
{
    if (settings.tlsCert.isEmpty())
        m_server = std::make_unique<httplib::Server>();
    else
        m_server = std::make_unique<httplib::SSLServer>(settings.tlsCert.toLocal8Bit().constData(),
                                                        settings.tlsKey.toLocal8Bit().constData());
    for (const QString &name : QDir(QStringLiteral(":/web")).entryList(QDir::Files)) {
        QFile file(QStringLiteral(":/web/") + name);
        if (file.open(QIODevice::ReadOnly))
            m_files.insert(name, file.readAll());
    }
    // Live streams and other requests side by side; a stream takes a thread while it lasts.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(Threads); };
    m_server->set_payload_max_length(MaxSetBytes);
    m_server->set_keep_alive_timeout(2);
    m_server->set_read_timeout(10);
    m_server->set_write_timeout(10);
    m_server->set_post_routing_handler([](const httplib::Request &request,
                                          httplib::Response &response) {
        response.set_header("Content-Security-Policy", Policy);
        response.set_header("X-Content-Type-Options", "nosniff");
        if (request.path.rfind("/api/", 0) == 0)
            response.set_header("Cache-Control", "no-store");
    });
    // What the library refuses by itself (no route, a body over the limit) in JSON too.
    m_server->set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (!response.body.empty())
            return;
        const QString text = response.status == 404 ? QStringLiteral("not found")
                             : response.status == 413
                                 ? QStringLiteral("the body is larger than %1 bytes")
                                       .arg(MaxSetBytes)
                                 : QStringLiteral("bad request (HTTP %1)").arg(response.status);
        reply(response, error(response.status, text));
    });
    addRoutes();
    addStatic();
}

WebServer::~WebServer()
{
    stop();
}

bool WebServer::listen(const QString &host, quint16 port, QString *error)
{
    if (!m_server->is_valid()) {
        *error = QStringLiteral("cannot serve with TLS: the certificate %1 or the key %2 "
                                "cannot be read or do not match")
                     .arg(m_settings.tlsCert, m_settings.tlsKey);
        return false;
    }
    const std::string address = host.toStdString();
    const int bound = port == 0 ? m_server->bind_to_any_port(address)
                                : (m_server->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(host)
                     .arg(port)
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    m_port = quint16(bound);
    return true;
}

void WebServer::start()
{
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
}

void WebServer::stop()
{
    if (!m_thread.joinable())
        return;
    m_server->stop();
    m_thread.join();
}

void WebServer::route(const char *method, const char *pattern, Access access, size_t limit,
                      Handler handler)
{
    auto serve = [this, access, limit, handler](const httplib::Request &request,
                                                httplib::Response &response) {
        Context context{request, {}, {}};
        WebBus::Reply refusal;
        reply(response, admit(request, access, limit, context, &refusal) ? handler(context)
                                                                          : refusal);
    };
    if (qstrcmp(method, "GET") == 0)
        m_server->Get(pattern, serve);
    else
        m_server->Post(pattern, serve);
}

bool WebServer::admit(const httplib::Request &request, Access access, size_t limit,
                      Context &context, WebBus::Reply *refusal)
{
    const bool known = m_sessions.find(cookie(request), &context.session);
    if (!known && !m_settings.users) {
        // Without users a request without a cookie reads as anyone may; a POST still
        // needs the token of a session.
        context.session.role = WebSessions::Role::Operator;
    }
    if (access != Access::Open && m_settings.users && context.session.user.isEmpty()) {
        *refusal = error(401, QStringLiteral("log in first"));
        return false;
    }
    if (request.method == "POST") {
        const QByteArray token = QByteArray::fromStdString(request.get_header_value("X-CSRF-Token"));
        if (!known || token.isEmpty() || token != context.session.csrf) {
            *refusal = error(403, QStringLiteral("missing or wrong anti-CSRF token"));
            return false;
        }
        if (request.body.size() > limit) {
            *refusal = error(413, QStringLiteral("the body is larger than %1 bytes").arg(limit));
            return false;
        }
        if (!WebJson::object(request.body, &context.body, refusal))
            return false;
    }
    if (access == Access::Write && !m_settings.writes) {
        *refusal = error(403, QStringLiteral("writes are off: start lustbus web with --writes"));
        return false;
    }
    if (access == Access::Write && context.session.role != WebSessions::Role::Operator) {
        *refusal = error(403, QStringLiteral("user %1 may not write (%2)")
                                  .arg(context.session.user,
                                       QLatin1String(WebSessions::roleName(context.session.role))));
        return false;
    }
    return true;
}

void WebServer::setCookie(httplib::Response &response, const QByteArray &id) const
{
    std::string value = std::string(CookieName) + '=' + id.toStdString()
                        + "; HttpOnly; SameSite=Strict; Path=/";
    if (!m_settings.tlsCert.isEmpty())
        value += "; Secure";
    response.set_header("Set-Cookie", value);
}

void WebServer::addRoutes()
{
    m_server->Get("/api/session", [this](const httplib::Request &request,
                                         httplib::Response &response) {
        Context context{request, {}, {}};
        m_sessions.find(cookie(request), &context.session);
        reply(response, session(context, response));
    });
    m_server->Post("/api/login", [this](const httplib::Request &request,
                                        httplib::Response &response) {
        Context context{request, {}, {}};
        WebBus::Reply refusal;
        reply(response, admit(request, Access::Open, MaxJsonBytes, context, &refusal)
                            ? login(context, response)
                            : refusal);
    });
    route("POST", "/api/logout", Access::Open, MaxJsonBytes, [this](Context &context) {
        m_sessions.remove(context.session.id);
        return WebBus::Reply{200, {}};
    });
    route("GET", "/api/parameters", Access::Read, 0, [this](Context &) { return parameters(); });
    route("POST", "/api/read", Access::Read, MaxJsonBytes,
          [this](Context &context) { return read(context); });
    route("POST", "/api/write", Access::Write, MaxJsonBytes,
          [this](Context &context) { return write(context); });
    route("GET", "/api/bus", Access::Read, 0, [this](Context &) {
        return m_bus.call([this] { return WebBus::Reply{200, m_bus.busJson()}; });
    });
    route("GET", "/api/trace", Access::Read, 0, [this](Context &) {
        return WebBus::Reply{200, {{QStringLiteral("lines"),
                                    QJsonArray::fromStringList(m_bus.traceLines())}}};
    });
    addSetRoutes();
    m_server->Get("/api/live", [this](const httplib::Request &request,
                                      httplib::Response &response) { live(request, response); });
}

void WebServer::addSetRoutes()
{
    route("GET", "/api/backup", Access::Read, 0, [this](Context &context) {
        return withStation(context, [this](int station) { return m_sets->backup(station); });
    });
    route("POST", "/api/restore/preview", Access::Read, MaxSetBytes, [this](Context &context) {
        return withStation(context, [this, &context](int station) {
            return m_sets->preview(station, context.body);
        });
    });
    route("POST", "/api/restore", Access::Write, MaxSetBytes, [this](Context &context) {
        return withStation(context, [this, &context](int station) {
            QString token;
            WebBus::Reply refusal;
            if (!WebJson::text(context.body, "token", &token, &refusal))
                return refusal;
            return m_sets->restore(station, context.body, token, context.session.user);
        });
    });
    route("GET", R"(/api/restore/(\d+))", Access::Read, 0, [this](Context &context) {
        return m_sets->restoreState(QString::fromStdString(context.request.matches[1]).toInt());
    });
    route("POST", "/api/compare", Access::Read, MaxSetBytes, [this](Context &context) {
        const QJsonObject a = context.body.value(QStringLiteral("a")).toObject();
        if (!context.body.contains(QStringLiteral("station")))
            return m_sets->compare(a, context.body.value(QStringLiteral("b")).toObject());
        return withStation(context, [this, &a](int station) { return m_sets->compareLive(a, station); });
    });
    route("POST", "/api/scan", Access::Read, MaxJsonBytes, [this](Context &context) {
        qint64 from = 0, to = 63;
        for (auto [field, value] : {std::pair{"from", &from}, std::pair{"to", &to}}) {
            const QJsonValue json = context.body.value(QLatin1String(field));
            if (json.isUndefined())
                continue;
            const double number = json.toDouble(-1);
            if (!json.isDouble() || number != double(qint64(number)) || number < 0 || number > 63)
                return error(400, QStringLiteral("\"%1\" must be a whole number from 0 to 63")
                                      .arg(QLatin1String(field)));
            *value = qint64(number);
        }
        if (from > to)
            return error(400, QStringLiteral("\"from\" comes after \"to\""));
        return m_sets->scan(int(from), int(to));
    });
}

bool WebServer::stationOf(const Context &context, int *station, WebBus::Reply *refusal) const
{
    QJsonObject query = context.body;
    if (context.request.has_param("station")) {
        // A number as a number, anything else as the text it is, which the check refuses.
        const QString text = QString::fromStdString(context.request.get_param_value("station"));
        bool number = false;
        const double value = text.toDouble(&number);
        query.insert(QStringLiteral("station"), number ? QJsonValue(value) : QJsonValue(text));
    }
    return WebJson::station(query, m_bus, station, refusal);
}

WebBus::Reply WebServer::withStation(Context &context,
                                     const std::function<WebBus::Reply(int)> &handler)
{
    int station = 0;
    WebBus::Reply refusal;
    if (!stationOf(context, &station, &refusal))
        return refusal;
    return handler(station);
}

void WebServer::addStatic()
{
    m_server->Get("/[^/]*", [this](const httplib::Request &request, httplib::Response &response) {
        QString name = QUrl::fromPercentEncoding(QByteArray::fromStdString(request.path)).mid(1);
        if (name.isEmpty())
            name = QStringLiteral("index.html");
        // Only the files built in: no path leads anywhere else.
        const auto file = m_files.constFind(name);
        if (file == m_files.cend()) {
            reply(response, error(404, QStringLiteral("no file %1 here").arg(name)));
            return;
        }
        response.set_content(file->constData(), size_t(file->size()), contentType(name));
    });
}

WebBus::Reply WebServer::session(Context &context, httplib::Response &response)
{
    if (context.session.id.isEmpty()) {
        // With users a new session is nobody's until a login.
        context.session = m_sessions.create(QString(), m_settings.users
                                                           ? WebSessions::Role::None
                                                           : WebSessions::Role::Operator);
        if (context.session.id.isEmpty())
            return error(500, QStringLiteral("cannot make a session: no random bytes"));
        setCookie(response, context.session.id);
    }
    const WebSessions::Session &session = context.session;
    const char *role = WebSessions::roleName(session.role);
    QJsonArray stations;
    for (int station : m_bus.settings().stations)
        stations.append(station);
    const LustBus::Catalogue *catalogue = m_bus.catalogue();
    return {200,
            {{QStringLiteral("user"), session.user.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                             : QJsonValue(session.user)},
             {QStringLiteral("role"), role ? QJsonValue(QLatin1String(role))
                                           : QJsonValue(QJsonValue::Null)},
             {QStringLiteral("csrf"), QString::fromLatin1(session.csrf)},
             {QStringLiteral("loginRequired"), m_settings.users != nullptr},
             {QStringLiteral("writes"), m_settings.writes},
             {QStringLiteral("tls"), !m_settings.tlsCert.isEmpty()},
             {QStringLiteral("link"), m_bus.settings().link},
             {QStringLiteral("catalogue"), catalogue ? QJsonValue(catalogue->fileName())
                                                     : QJsonValue(QJsonValue::Null)},
             {QStringLiteral("stations"), stations}}};
}

WebBus::Reply WebServer::login(Context &context, httplib::Response &response)
{
    QString user, password;
    WebBus::Reply refusal;
    if (!WebJson::text(context.body, "user", &user, &refusal)
        || !WebJson::text(context.body, "password", &password, &refusal))
        return refusal;
    const WebSessions::Role role =
        m_settings.users ? m_settings.users->check(user, password.toUtf8()) : WebSessions::Role::None;
    if (role == WebSessions::Role::None)
        return error(401, QStringLiteral("wrong user or password"));
    // A new id at every login: one known before it is worth nothing after.
    m_sessions.remove(context.session.id);
    const WebSessions::Session session = m_sessions.create(user, role);
    if (session.id.isEmpty())
        return error(500, QStringLiteral("cannot make a session: no random bytes"));
    setCookie(response, session.id);
    return {200, {{QStringLiteral("user"), user},
                  {QStringLiteral("role"), QLatin1String(WebSessions::roleName(role))},
                  {QStringLiteral("csrf"), QString::fromLatin1(session.csrf)}}};
}

WebBus::Reply WebServer::parameters() const
{
    const LustBus::Catalogue *catalogue = m_bus.catalogue();
    QJsonArray list;
    const auto limit = [](const std::optional<double> &value) {
        return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
    };
    for (const CatalogueEntry &entry : catalogue ? catalogue->entries : QList<CatalogueEntry>()) {
        list.append(QJsonObject{
            {QStringLiteral("name"), entry.name},
            {QStringLiteral("number"), entry.number},
            {QStringLiteral("type"), QLatin1String(LustBus::dataTypeName(entry.type))},
            {QStringLiteral("count"), entry.valueCount()},
            {QStringLiteral("unit"), entry.unit},
            {QStringLiteral("min"), limit(entry.min)},
            {QStringLiteral("max"), limit(entry.max)},
            {QStringLiteral("access"), entry.readOnly ? QStringLiteral("ro") : QStringLiteral("rw")},
            {QStringLiteral("description"), entry.description}});
    }
    return {200, {{QStringLiteral("catalogue"), catalogue ? QJsonValue(catalogue->fileName())
                                                          : QJsonValue(QJsonValue::Null)},
                  {QStringLiteral("parameters"), list}}};
}

WebBus::Reply WebServer::read(Context &context)
{
    int station = 0;
    QStringList names;
    QList<CatalogueEntry> entries;
    WebBus::Reply refusal;
    if (!WebJson::station(context.body, m_bus, &station, &refusal)
        || !WebJson::names(context.body, "names", MaxReadNames, &names, &refusal)
        || !WebJson::entries(m_bus, names, &entries, &refusal))
        return refusal;
    return m_bus.call([this, station, entries] {
        QJsonArray values;
        for (const CatalogueEntry &entry : entries) {
            QJsonObject value = m_bus.readOne(station, entry);
            value.remove(QStringLiteral("ts"));
            value.insert(QStringLiteral("name"), entry.name);
            values.append(value);
        }
        return WebBus::Reply{200, {{QStringLiteral("values"), values}}};
    });
}

WebBus::Reply WebServer::write(Context &context)
{
    int station = 0;
    QString name;
    QList<CatalogueEntry> entries;
    WebBus::Reply refusal;
    if (!WebJson::station(context.body, m_bus, &station, &refusal)
        || !WebJson::text(context.body, "name", &name, &refusal)
        || !WebJson::entries(m_bus, {name}, &entries, &refusal))
        return refusal;
    const QJsonValue value = context.body.value(QStringLiteral("value"));
    if (value.isUndefined())
        return error(400, QStringLiteral("\"value\" is missing"));
    const CatalogueEntry entry = entries.first();
    const QString user = context.session.user;
    return m_bus.call([this, station, entry, value, user] {
        return m_bus.write(station, entry, value, user);
    });
}

void WebServer::live(const httplib::Request &request, httplib::Response &response)
{
    Context context{request, {}, {}};
    WebBus::Reply refusal;
    if (!admit(request, Access::Read, 0, context, &refusal)) {
        reply(response, refusal);
        return;
    }
    const QStringList table = listParameter(request, "table");
    const QStringList trend = listParameter(request, "trend");
    if (table.size() > MaxTableNames || trend.size() > MaxTrendNames) {
        reply(response, error(400, QStringLiteral("a live stream takes at most %1 table and %2 "
                                                  "trend parameters")
                                       .arg(MaxTableNames)
                                       .arg(MaxTrendNames)));
        return;
    }
    int station = 0;
    QList<CatalogueEntry> entries;
    if (!stationOf(context, &station, &refusal)) {
        reply(response, refusal);
        return;
    }
    // Before the stream starts, an unknown name is a bad request like any other.
    if (!WebJson::entries(m_bus, table + trend, &entries, &refusal)) {
        refusal.status = 400;
        reply(response, refusal);
        return;
    }
    for (const CatalogueEntry &entry : entries.mid(table.size())) {
        if (entry.isArray() || entry.type == LustBus::DataType::String) {
            reply(response, error(400, QStringLiteral("%1 is no number to plot").arg(entry.name)));
            return;
        }
    }
    if (++m_streams > MaxStreams) {
        --m_streams;
        reply(response, error(503, QStringLiteral("%1 live streams are open already; close one "
                                                  "first")
                                       .arg(MaxStreams)));
        return;
    }
    auto stream = std::make_shared<LiveStream>(station, table, trend);
    m_bus.addStream(stream);
    auto lastWrite = std::make_shared<qint64>(QDateTime::currentSecsSinceEpoch());
    response.set_header("X-Accel-Buffering", "no");
    response.set_chunked_content_provider(
        "text/event-stream",
        [stream, lastWrite](size_t, httplib::DataSink &sink) {
            QByteArray text = stream->take(1000);
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            if (text.isEmpty() && now - *lastWrite >= KeepaliveSeconds)
                text = QByteArrayLiteral(": keepalive\n\n");
            if (stream->isClosed()) {
                sink.done();
                return true;
            }
            if (text.isEmpty())
                return sink.is_writable();
            *lastWrite = now;
            return sink.write(text.constData(), size_t(text.size()));
        },
        [this, stream](bool) {
            stream->close();
            m_bus.removeStream(stream);
            --m_streams;
        });
}

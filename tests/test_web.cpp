// lustbus web as a browser meets it: the built program serving on a free loopback port,
// an HTTP client on loopback, and a simulated drive that a separate lustbus read or
// backup sees too (lustbus simulate on TCP), so that what the page did is checked on
// the drive itself.
#include "cliprocess.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace {

const char Sample[] = LUSTBUS_SAMPLE_CATALOGUE;

// lustbus web on 127.0.0.1 and a free port, read from its first line.
class WebProcess
{
public:
    explicit WebProcess(const QStringList &arguments)
    {
        m_process.setProcessEnvironment(cliEnvironment());
        m_process.start(QStringLiteral(LUSTBUS_CLI_PATH),
                        args("web --listen 127.0.0.1:0") + arguments);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(20000)) {
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        static const QRegularExpression url(
            QStringLiteral("^lustbus web: (https?)://127\\.0\\.0\\.1:(\\d+)/$"));
        const QRegularExpressionMatch match = url.match(line);
        if (match.hasMatch()) {
            scheme = match.captured(1).toStdString();
            port = quint16(match.captured(2).toUInt());
        } else {
            ADD_FAILURE() << "lustbus web: " << line.toStdString()
                          << m_process.readAllStandardError().toStdString();
        }
    }
    ~WebProcess() { stop(); }
    // SIGTERM ends it with 0; everything it wrote on stderr.
    QString stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000)) {
                ADD_FAILURE() << "lustbus web did not stop on SIGTERM";
                m_process.kill();
                m_process.waitForFinished();
            }
            m_err += QString::fromUtf8(m_process.readAllStandardError());
            // A sanitizer's report, if that is why, is on stderr.
            EXPECT_EQ(m_process.exitStatus(), QProcess::NormalExit) << m_err.toStdString();
            EXPECT_EQ(m_process.exitCode(), 0) << m_err.toStdString();
        }
        return m_err;
    }

    std::string scheme = "http";
    quint16 port = 0;

private:
    QProcess m_process;
    QString m_err;
};

// The status and the JSON of an answer; status -1 when none came.
struct Answer
{
    int status = -1;
    QJsonObject body;
};
Answer answer(const httplib::Result &result)
{
    if (!result)
        return {};
    return {result->status, QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object()};
}

// A page's requests: its session cookie and anti-CSRF token, as the page keeps them.
class Page
{
public:
    explicit Page(const WebProcess &web, const std::string &caFile = {})
        : client(web.scheme + "://127.0.0.1:" + std::to_string(web.port))
    {
        client.set_read_timeout(60);
        if (!caFile.empty())
            client.set_ca_cert_path(caFile.c_str());
    }

    // GET /api/session: the cookie and the token, and the session object.
    QJsonObject open()
    {
        const auto result = get("/api/session");
        if (!result) {
            ADD_FAILURE() << "no answer to /api/session: " << httplib::to_string(result.error());
            return {};
        }
        takeCookie(*result);
        const QJsonObject session = json(QString::fromStdString(result->body));
        csrf = session.value(QStringLiteral("csrf")).toString().toStdString();
        return session;
    }
    void takeCookie(const httplib::Response &response)
    {
        setCookie = response.get_header_value("Set-Cookie");
        if (!setCookie.empty())
            cookie = setCookie.substr(0, setCookie.find(';'));
    }
    // A login in the page's session (open() first): the session cookie and token it gives.
    Answer login(const char *user, const char *password);
    httplib::Headers headers(bool token) const
    {
        httplib::Headers list;
        if (!cookie.empty())
            list.emplace("Cookie", cookie);
        if (token)
            list.emplace("X-CSRF-Token", csrf);
        return list;
    }
    httplib::Result get(const std::string &path) { return client.Get(path, headers(false)); }
    httplib::Result post(const std::string &path, const std::string &body, bool token = true)
    {
        return client.Post(path, headers(token), body, "application/json");
    }
    httplib::Result post(const std::string &path, const QJsonObject &body, bool token = true)
    {
        return post(path, QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), token);
    }

    httplib::Client client;
    std::string cookie, setCookie, csrf;
};

QJsonObject object(const char *text)
{
    return json(QString::fromUtf8(text));
}

Answer Page::login(const char *user, const char *password)
{
    const auto result = post("/api/login", QJsonObject{{QStringLiteral("user"), QLatin1String(user)},
                                                       {QStringLiteral("password"),
                                                        QLatin1String(password)}});
    if (result && result->status == 200) {
        takeCookie(*result);
        csrf = json(QString::fromStdString(result->body)).value(QStringLiteral("csrf")).toString()
                   .toStdString();
    }
    return answer(result);
}

// The value of NAME on the simulator, as a separate lustbus read sees it.
QString readOnDrive(const QStringList &link, const char *name)
{
    const Result r = lustbus(QStringList{QStringLiteral("read"), QLatin1String(name),
                                         QStringLiteral("--catalogue"), QLatin1String(Sample)}
                             + link);
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    return r.out.trimmed();
}

// A simulated drive of the sample catalogue on TCP and lustbus web on it.
class Web : public ::testing::Test
{
protected:
    void start(const char *options)
    {
        web = std::make_unique<WebProcess>(args("--catalogue") + QStringList{QLatin1String(Sample)}
                                           + simulator.link() + args(options));
        ASSERT_NE(web->port, 0);
    }

    SimulatorProcess simulator{args("--tcp 0 --catalogue") + QStringList{QLatin1String(Sample)}};
    std::unique_ptr<WebProcess> web;
};

struct Refusal
{
    const char *what;
    const char *path;
    std::string body;
    bool token;
    int status;
    const char *error;
};

// {"names": ["speed_setpoint", ...]} with count names.
std::string namesBody(int count)
{
    QJsonArray names;
    for (int i = 0; i < count; ++i)
        names.append(QStringLiteral("speed_setpoint"));
    return QJsonDocument(QJsonObject{{QStringLiteral("names"), names}}).toJson().toStdString();
}

TEST_F(Web, BadRequestsAreRefusedAndNothingIsWritten)
{
    start("--writes");
    Page page(*web);
    page.open();
    const std::string big(70 * 1024, ' ');
    const Refusal refusals[] = {
        {"no token", "/api/write", R"({"name": "speed_setpoint", "value": 5})", false, 403,
         "missing or wrong anti-CSRF token"},
        {"out of range", "/api/write", R"({"name": "speed_setpoint", "value": 10000})", true, 422,
         "outside its range"},
        {"read-only", "/api/write", R"({"name": "firmware_version", "value": 1})", true, 422,
         "read-only"},
        {"wrong type", "/api/write", R"({"name": "speed_setpoint", "value": "fast"})", true, 422,
         ""},
        {"wrong count", "/api/write", R"({"name": "gains", "value": [1, 2]})", true, 422,
         "has 8 elements"},
        {"unknown parameter", "/api/write", R"({"name": "warp_speed", "value": 1})", true, 404,
         "no parameter 'warp_speed' in sample.json"},
        {"unknown station", "/api/write", R"({"station": 7, "name": "speed_setpoint", "value": 5})",
         true, 404, "station 7"},
        {"malformed JSON", "/api/write", R"({"name": "speed_setpoint", "value": )", true, 400,
         "malformed JSON"},
        {"station a text", "/api/write", R"({"station": "1", "name": "speed_setpoint", "value": 5})",
         true, 400, "\"station\""},
        {"name a number", "/api/write", R"({"name": 12, "value": 5})", true, 400, "\"name\""},
        {"no object", "/api/write", R"([1, 2])", true, 400, "not a JSON object"},
        {"oversized", "/api/write", R"({"name": "speed_setpoint", "value": 5, "pad": ")" + big + "\"}",
         true, 413, "larger than 65536 bytes"},
        {"too many names", "/api/read", namesBody(65), true, 400, "at most 64 parameters"},
    };
    for (const Refusal &refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        const Answer got = answer(page.post(refusal.path, refusal.body, refusal.token));
        EXPECT_EQ(got.status, refusal.status) << compact(got.body);
        EXPECT_TRUE(got.body.value(QStringLiteral("error")).toString().contains(
            QLatin1String(refusal.error)))
            << compact(got.body);
    }
    // More than a megabyte is more than any set.
    const std::string huge = "{\"set\": \"" + std::string(1100 * 1024, 'x') + "\"}";
    EXPECT_EQ(answer(page.post("/api/restore/preview", huge)).status, 413);
    EXPECT_EQ(readOnDrive(simulator.link(), "speed_setpoint"), QStringLiteral("-1234 rpm"));
    // The server keeps serving.
    EXPECT_EQ(answer(page.get("/api/parameters")).status, 200);
    EXPECT_FALSE(web->stop().contains(QLatin1String("write by")));
}

TEST_F(Web, AnOperatorsWriteReachesTheDriveAndIsLogged)
{
    start("--writes");
    Page page(*web);
    const QJsonObject session = page.open();
    EXPECT_EQ(compact(QJsonObject{{QStringLiteral("role"), session.value(QStringLiteral("role"))},
                                  {QStringLiteral("writes"), session.value(QStringLiteral("writes"))},
                                  {QStringLiteral("loginRequired"),
                                   session.value(QStringLiteral("loginRequired"))}}),
              compact(R"({"role": "operator", "writes": true, "loginRequired": false})"));
    EXPECT_NE(page.setCookie.find("; HttpOnly; SameSite=Strict; Path=/"), std::string::npos)
        << page.setCookie;
    const Answer written =
        answer(page.post("/api/write", object(R"({"station": 1, "name": "speed_setpoint", "value": 1500})")));
    EXPECT_EQ(written.status, 200);
    EXPECT_EQ(compact(written.body), compact(R"({"outcome": "done", "old": -1234, "value": 1500})"));
    EXPECT_EQ(readOnDrive(simulator.link(), "speed_setpoint"), QStringLiteral("1500 rpm"));
    const Answer read = answer(page.post("/api/read", object(R"({"names": ["speed_setpoint", "INT16:12", "nothing:1"]})")));
    EXPECT_EQ(read.status, 400) << "an address text that is none";
    EXPECT_EQ(compact(answer(page.post("/api/read", object(R"({"names": ["INT16:12"]})"))).body),
              compact(R"({"values": [{"name": "INT16:12", "ok": true, "value": 1500}]})"));
    EXPECT_TRUE(web->stop().contains(
        QLatin1String("lustbus web: write by -: station 1 speed_setpoint -1234 -> 1500: done")));
}

TEST_F(Web, WritesAreOffUnlessAsked)
{
    start("");
    Page page(*web);
    EXPECT_FALSE(page.open().value(QStringLiteral("writes")).toBool());
    const Answer got =
        answer(page.post("/api/write", object(R"({"name": "speed_setpoint", "value": 5})")));
    EXPECT_EQ(got.status, 403);
    EXPECT_EQ(got.body.value(QStringLiteral("error")).toString(),
              QStringLiteral("writes are off: start lustbus web with --writes"));
    EXPECT_EQ(readOnDrive(simulator.link(), "speed_setpoint"), QStringLiteral("-1234 rpm"));
}

TEST_F(Web, TheStaticFilesAreTheBuiltInOnesWithTheirHeaders)
{
    start("");
    Page page(*web);
    const auto css = page.get("/uPlot.min.css");
    ASSERT_TRUE(css);
    EXPECT_EQ(css->status, 200);
    EXPECT_EQ(css->get_header_value("Content-Type"), "text/css; charset=utf-8");
    EXPECT_EQ(css->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_NE(css->get_header_value("Content-Security-Policy").find("default-src 'self'"),
              std::string::npos);
    EXPECT_NE(css->body.find(".uplot"), std::string::npos);
    EXPECT_EQ(page.get("/api/parameters")->get_header_value("Cache-Control"), "no-store");
    for (const char *path : {"/%2e%2e/CMakeLists.txt", "/..%2fCMakeLists.txt", "/web/uPlot.min.css",
                             "/package.json", "/api/nothing"})
        EXPECT_EQ(answer(page.get(path)).status, 404) << path;
}

// {"parameters": [...]} of a set, without its time, to compare two backups.
QJsonObject withoutTime(QJsonObject set)
{
    set.remove(QStringLiteral("time"));
    return set;
}

TEST_F(Web, TheBackupIsTheOneLustbusBackupWrites)
{
    start("");
    Page page(*web);
    const auto download = page.get("/api/backup?station=1");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_EQ(download->get_header_value("Content-Disposition"),
              "attachment; filename=\"station1.json\"");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("set.json"));
    expectRun(QStringList{QStringLiteral("backup"), QStringLiteral("--catalogue"),
                          QLatin1String(Sample), QStringLiteral("-o"), file}
                  + simulator.link(),
              0);
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QJsonObject cli = json(QString::fromUtf8(saved.readAll()));
    EXPECT_EQ(compact(withoutTime(json(QString::fromStdString(download->body)))),
              compact(withoutTime(cli)));
    EXPECT_TRUE(cli.value(QStringLiteral("complete")).toBool());
}

TEST_F(Web, ARestoreShowsItsDifferencesFirstAndWritesThem)
{
    start("--writes");
    Page page(*web);
    page.open();
    const QJsonObject set = json(QString::fromStdString(page.get("/api/backup")->body));
    expectRun(QStringList{QStringLiteral("write"), QStringLiteral("speed_setpoint"),
                          QStringLiteral("77"), QStringLiteral("--catalogue"), QLatin1String(Sample)}
                  + simulator.link(),
              0);
    const Answer preview = answer(page.post("/api/restore/preview",
                                            QJsonObject{{QStringLiteral("station"), 1},
                                                        {QStringLiteral("set"), set}}));
    ASSERT_EQ(preview.status, 200) << compact(preview.body);
    QJsonArray writes;
    for (const QJsonValue &row : preview.body.value(QStringLiteral("rows")).toArray()) {
        if (row.toObject().value(QStringLiteral("action")) != QLatin1String("unchanged"))
            writes.append(row);
    }
    EXPECT_EQ(compact({{QStringLiteral("rows"), writes}}),
              compact(R"({"rows": [{"name": "speed_setpoint", "saved": -1234, "live": 77,
                                    "action": "write", "why": ""}]})"));
    EXPECT_TRUE(preview.body.value(QStringLiteral("identity")).toObject()
                    .value(QStringLiteral("same")).toBool());
    EXPECT_EQ(readOnDrive(simulator.link(), "speed_setpoint"), QStringLiteral("77 rpm"));

    QJsonObject restore{{QStringLiteral("station"), 1}, {QStringLiteral("set"), set},
                        {QStringLiteral("token"), QStringLiteral("made-up")}};
    EXPECT_EQ(answer(page.post("/api/restore", restore)).status, 409);
    restore.insert(QStringLiteral("token"), preview.body.value(QStringLiteral("token")));
    const Answer started = answer(page.post("/api/restore", restore));
    ASSERT_EQ(started.status, 202) << compact(started.body);
    const std::string state =
        "/api/restore/" + std::to_string(started.body.value(QStringLiteral("id")).toInt());
    // It runs on without its client; its state stays to be asked for.
    Answer progress;
    for (int i = 0; i < 400 && !progress.body.value(QStringLiteral("finished")).toBool(); ++i) {
        QThread::msleep(25);
        progress = answer(page.get(state));
    }
    EXPECT_EQ(compact(progress.body.value(QStringLiteral("summary")).toObject()),
              compact(R"({"done": 1, "unchanged": 20})"));
    EXPECT_EQ(progress.body.value(QStringLiteral("done")), progress.body.value(QStringLiteral("total")));
    const QJsonArray items = progress.body.value(QStringLiteral("items")).toArray();
    EXPECT_EQ(items.size(), 21);
    const auto written = std::find_if(items.begin(), items.end(), [](const QJsonValue &item) {
        return item[QStringLiteral("outcome")] != QLatin1String("unchanged");
    });
    ASSERT_NE(written, items.end());
    EXPECT_EQ(compact((*written).toObject()),
              compact(R"({"name": "speed_setpoint", "outcome": "done", "value": -1234})"));
    EXPECT_EQ(readOnDrive(simulator.link(), "speed_setpoint"), QStringLiteral("-1234 rpm"));
    EXPECT_TRUE(web->stop().contains(QLatin1String("write by -: station 1 speed_setpoint 77 -> -1234: done")));
}

TEST_F(Web, ASetThatIsNoneOrFromAnotherCatalogueIsRefused)
{
    start("--writes");
    Page page(*web);
    page.open();
    QJsonObject set = json(QString::fromStdString(page.get("/api/backup")->body));
    QJsonArray parameters = set.value(QStringLiteral("parameters")).toArray();
    parameters.append(object(R"({"name": "flux_gain", "number": 900, "type": "INT16", "value": 1})"));
    set.insert(QStringLiteral("parameters"), parameters);
    const Answer other = answer(page.post("/api/restore/preview", QJsonObject{{QStringLiteral("set"), set}}));
    EXPECT_EQ(other.status, 422);
    EXPECT_EQ(other.body.value(QStringLiteral("error")).toString(),
              QStringLiteral("the set comes from another catalogue: sample.json has no flux_gain"));
    EXPECT_EQ(answer(page.post("/api/restore/preview", object(R"({"set": {"drive": "x"}})"))).status, 400);
    EXPECT_EQ(answer(page.post("/api/compare", object(R"({"a": 5, "b": {}})"))).status, 400);
}

// A live stream read until stop() returns true or the server ends it.
class Stream
{
public:
    Stream(const WebProcess &web, const std::string &path)
        : m_thread([this, &web, path] {
              httplib::Client client("127.0.0.1", web.port);
              client.set_read_timeout(60);
              const auto result = client.Get(path, [this](const char *data, size_t length) {
                  std::lock_guard<std::mutex> lock(m_mutex);
                  m_text.append(data, int(length));
                  return !m_stop;
              });
              std::lock_guard<std::mutex> lock(m_mutex);
              m_status = result ? result->status : -1;
              m_done = true;
          })
    {
    }
    ~Stream()
    {
        m_stop = true;
        m_thread.join();
    }
    // Whether the stream started: some text came before it ended.
    bool opened()
    {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_text.isEmpty() || m_done)
                    return !m_text.isEmpty();
            }
            QThread::msleep(10);
        }
        return false;
    }
    // The text so far once it holds all of parts, waiting up to about ten seconds.
    QByteArray waitFor(const QList<QByteArray> &parts)
    {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (std::all_of(parts.begin(), parts.end(),
                                [this](const QByteArray &part) { return m_text.contains(part); }))
                    return m_text;
                if (m_done)
                    break;
            }
            QThread::msleep(10);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        ADD_FAILURE() << "the stream (HTTP " << m_status << ") holds only: "
                      << m_text.left(600).toStdString();
        return m_text;
    }

private:
    std::mutex m_mutex;
    QByteArray m_text;
    int m_status = 0;
    bool m_done = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The data of the first event NAME in a stream's text.
QJsonObject firstEvent(const QByteArray &text, const QByteArray &name)
{
    const int at = text.indexOf("event: " + name + "\ndata: ");
    if (at < 0)
        return {};
    const int start = at + name.size() + 14;
    return QJsonDocument::fromJson(text.mid(start, text.indexOf('\n', start) - start)).object();
}

TEST_F(Web, ALiveStreamCarriesValuesAndSamplesAndANinthIsRefused)
{
    start("");
    Page page(*web);
    EXPECT_EQ(answer(page.get("/api/live?trend=gains")).status, 400);
    EXPECT_EQ(answer(page.get("/api/live?table=warp_speed")).status, 400);
    EXPECT_EQ(answer(page.get("/api/live?station=one&table=speed_setpoint")).status, 400);
    std::vector<std::unique_ptr<Stream>> streams;
    for (int i = 0; i < 8; ++i)
        streams.push_back(std::make_unique<Stream>(
            *web, "/api/live?station=1&table=speed_setpoint,drive_name&trend=speed_setpoint,"
                  "current_limit"));
    for (const auto &stream : streams)
        stream->waitFor({"event: values", "event: samples"});
    const QByteArray text = streams.front()->waitFor({"event: values", "event: samples", "event: bus"});
    const QJsonArray values = firstEvent(text, "values").value(QStringLiteral("values")).toArray();
    ASSERT_EQ(values.size(), 2) << text.left(400).toStdString();
    EXPECT_EQ(values.at(0).toObject().value(QStringLiteral("value")).toInt(), -1234);
    EXPECT_EQ(values.at(1).toObject().value(QStringLiteral("value")).toString(),
              readOnDrive(simulator.link(), "drive_name").remove(QLatin1Char('"')));
    const QJsonArray sample =
        firstEvent(text, "samples").value(QStringLiteral("samples")).toArray().first().toArray();
    EXPECT_TRUE(sample.at(0) == QLatin1String("speed_setpoint")
                || sample.at(0) == QLatin1String("current_limit"));
    EXPECT_EQ(sample.at(1).toDouble() > 1e12, true) << "a time in ms since the epoch";
    const Answer ninth = answer(page.get("/api/live?table=speed_setpoint"));
    EXPECT_EQ(ninth.status, 503);
    EXPECT_TRUE(ninth.body.value(QStringLiteral("error")).toString().contains(QLatin1String("8 live streams")));
    streams.clear();
    // A stream's place is free again once its client is gone and the server noticed.
    bool opened = false;
    for (int i = 0; i < 100 && !opened; ++i) {
        Stream again(*web, "/api/live?table=speed_setpoint");
        opened = again.opened();
        if (!opened)
            QThread::msleep(100);
    }
    EXPECT_TRUE(opened);
}

TEST_F(Web, ManyClientsAtOnceAreAllServed)
{
    start("");
    std::atomic<int> served{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 40; ++i)
        clients.emplace_back([this, &served] {
            httplib::Client client("127.0.0.1", web->port);
            client.set_read_timeout(60);
            for (int j = 0; j < 5; ++j) {
                const auto result = client.Get("/api/bus");
                served += result && result->status == 200 ? 1 : 0;
            }
        });
    for (std::thread &client : clients)
        client.join();
    EXPECT_EQ(served, 200);
}

TEST_F(Web, TheBusCountsErrorsByKindAndNamesTheLinkAsTheSessionDoes)
{
    start("");
    Page page(*web);
    const QJsonObject session = page.open();
    const Answer read = answer(page.post(
        "/api/read", QJsonObject{{QStringLiteral("station"), 1},
                                 {QStringLiteral("names"), QJsonArray{QStringLiteral("INT16:999")}}}));
    ASSERT_EQ(read.status, 200);
    const Answer bus = answer(page.get("/api/bus"));
    EXPECT_EQ(bus.body.value(QStringLiteral("link")), session.value(QStringLiteral("link")));
    const QJsonObject errors = bus.body.value(QStringLiteral("stations")).toArray().first()
                                   .toObject().value(QStringLiteral("errors")).toObject();
    EXPECT_EQ(errors.keys(), QStringList{QStringLiteral("invalid param no.")})
        << QJsonDocument(errors).toJson().toStdString();
}

TEST_F(Web, ARestoresProgressComesAsLiveEvents)
{
    start("--writes");
    Page page(*web);
    page.open();
    const QJsonObject set = json(QString::fromStdString(page.get("/api/backup")->body));
    Stream stream(*web, "/api/live?table=speed_setpoint");
    stream.waitFor({"event: values"});
    const Answer preview = answer(page.post("/api/restore/preview", QJsonObject{{QStringLiteral("set"), set}}));
    const Answer started = answer(page.post("/api/restore", QJsonObject{
        {QStringLiteral("set"), set}, {QStringLiteral("token"), preview.body.value(QStringLiteral("token"))}}));
    ASSERT_EQ(started.status, 202) << compact(started.body);
    const QByteArray text = stream.waitFor({"event: restore", "\"finished\":true"});
    QJsonObject last;
    QStringList sent;
    for (int at = text.indexOf("event: restore\ndata: "); at >= 0;
         at = text.indexOf("event: restore\ndata: ", at + 1)) {
        last = firstEvent(text.mid(at), "restore");
        const QJsonObject item = last.value(QStringLiteral("item")).toObject();
        if (!item.isEmpty())
            sent << item.value(QStringLiteral("name")).toString() + QLatin1Char(' ')
                        + item.value(QStringLiteral("outcome")).toString();
    }
    EXPECT_EQ(compact(last.value(QStringLiteral("summary")).toObject()), compact(R"({"unchanged": 21})"));
    EXPECT_EQ(last.value(QStringLiteral("id")), started.body.value(QStringLiteral("id")));
    EXPECT_TRUE(last.value(QStringLiteral("finished")).toBool());

    // A page loaded after the end gets every item the events had, in their order.
    const Answer state = answer(page.get(
        "/api/restore/" + std::to_string(started.body.value(QStringLiteral("id")).toInt())));
    QStringList kept;
    for (const QJsonValue &item : state.body.value(QStringLiteral("items")).toArray())
        kept << item[QStringLiteral("name")].toString() + QLatin1Char(' ')
                    + item[QStringLiteral("outcome")].toString();
    EXPECT_EQ(sent.size(), 21);
    EXPECT_EQ(kept.join(QLatin1Char('\n')).toStdString(), sent.join(QLatin1Char('\n')).toStdString());
}

TEST_F(Web, UsersLogInAndOnlyOperatorsWrite)
{
    QTemporaryDir dir;
    const QString users = dir.filePath(QStringLiteral("web.users"));
    for (const auto &[user, role, password] : {std::tuple{"vic", "viewer", "pw-vic\n"},
                                               std::tuple{"anna", "viewer", "old\n"},
                                               std::tuple{"anna", "operator", "pw-anna\n"}}) {
        QProcess add;
        add.setProcessEnvironment(cliEnvironment());
        add.start(QStringLiteral(LUSTBUS_CLI_PATH),
                  args("web --add-user") + QStringList{QLatin1String(user), QStringLiteral("--role"),
                                                      QLatin1String(role), QStringLiteral("--users"),
                                                      users});
        add.write(password);
        add.closeWriteChannel();
        ASSERT_TRUE(add.waitForFinished(20000));
        EXPECT_EQ(add.exitCode(), 0) << add.readAllStandardError().toStdString();
    }
    QFile file(users);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << "a user's new line replaces the old one";
    static const QRegularExpression line(QStringLiteral(
        "^(vic:viewer|anna:operator):pbkdf2-sha256:200000:[A-Za-z0-9+/]{22}==:[A-Za-z0-9+/]{43}=$"));
    for (const QString &text : lines)
        EXPECT_TRUE(line.match(text).hasMatch()) << text.toStdString();

    start(QStringLiteral("--writes --users %1").arg(users).toUtf8().constData());
    Page page(*web);
    const QJsonObject session = page.open();
    EXPECT_TRUE(session.value(QStringLiteral("loginRequired")).toBool());
    EXPECT_TRUE(session.value(QStringLiteral("role")).isNull());
    EXPECT_EQ(compact(answer(page.get("/api/parameters")).body), compact(R"({"error": "log in first"})"));
    const struct { const char *user, *password; int status; } logins[] = {
        {"vic", "pw-anna", 401}, {"nobody", "pw-vic", 401}, {"anna", "old", 401}};
    for (const auto &login : logins) {
        const Answer got = answer(page.post("/api/login", QJsonObject{
            {QStringLiteral("user"), QLatin1String(login.user)},
            {QStringLiteral("password"), QLatin1String(login.password)}}));
        EXPECT_EQ(got.status, login.status) << login.user;
        EXPECT_EQ(compact(got.body), compact(R"({"error": "wrong user or password"})"));
    }
    const QJsonObject viewer = answer(page.post("/api/login", object(R"({"user": "vic", "password": "pw-vic"})"))).body;
    EXPECT_EQ(viewer.value(QStringLiteral("role")).toString(), QStringLiteral("viewer"));
    const auto login = page.post("/api/login", object(R"({"user": "vic", "password": "pw-vic"})"));
    EXPECT_EQ(answer(login).status, 403) << "the token of the session before the login is spent";

    Page viewerPage(*web);
    viewerPage.open();
    const std::string anonymous = viewerPage.cookie;
    EXPECT_EQ(viewerPage.login("vic", "pw-vic").status, 200);
    EXPECT_NE(viewerPage.cookie, anonymous) << "a login makes a new session";
    EXPECT_EQ(answer(viewerPage.get("/api/parameters")).status, 200);
    const Answer refused = answer(viewerPage.post("/api/write", object(R"({"name": "speed_setpoint", "value": 5})")));
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body.value(QStringLiteral("error")).toString(),
              QStringLiteral("user vic may not write (viewer)"));

    Page operatorPage(*web);
    operatorPage.open();
    EXPECT_EQ(operatorPage.login("anna", "pw-anna").status, 200);
    EXPECT_EQ(answer(operatorPage.post("/api/write", object(R"({"name": "speed_setpoint", "value": 42})"))).body
                  .value(QStringLiteral("outcome")).toString(),
              QStringLiteral("done"));
    EXPECT_EQ(readOnDrive(simulator.link(), "speed_setpoint"), QStringLiteral("42 rpm"));
    EXPECT_TRUE(web->stop().contains(QLatin1String("write by anna: station 1 speed_setpoint -1234 -> 42: done")));
}

TEST_F(Web, TlsServesTheSameWithASecureCookie)
{
    QTemporaryDir dir;
    QProcess openssl;
    openssl.setWorkingDirectory(dir.path());
    openssl.start(QStringLiteral("openssl"),
                  args("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                       "-keyout web.key -out web.crt -days 1 -subj /CN=127.0.0.1 "
                       "-addext subjectAltName=IP:127.0.0.1"));
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        GTEST_SKIP() << "openssl could not make a certificate: "
                     << openssl.readAllStandardError().toStdString();
    start(QStringLiteral("--tls-cert %1 --tls-key %2")
              .arg(dir.filePath(QStringLiteral("web.crt")), dir.filePath(QStringLiteral("web.key")))
              .toUtf8()
              .constData());
    EXPECT_EQ(web->scheme, "https");
    Page page(*web, dir.filePath(QStringLiteral("web.crt")).toStdString());
    EXPECT_TRUE(page.open().value(QStringLiteral("tls")).toBool());
    EXPECT_NE(page.setCookie.find("; Secure"), std::string::npos) << page.setCookie;
    EXPECT_EQ(answer(page.get("/api/parameters")).status, 200);
    httplib::Client plain("127.0.0.1", web->port);
    EXPECT_FALSE(plain.Get("/api/session") && plain.Get("/api/session")->status == 200);
}

TEST(WebOptions, UnsafeOrIncompleteSettingsAreRefused)
{
    QTemporaryDir dir;
    const QString users = dir.filePath(QStringLiteral("bad.users"));
    QFile file(users);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# users\nanna:admin:pbkdf2-sha256:200000:AAAAAAAAAAAAAAAAAAAAAA==:x\n");
    file.close();
    const Expected runs[] = {
        {"web --sim --listen 0.0.0.0:0", 2, "", "--listen 0.0.0.0 is not loopback: give --users FILE"},
        {"web --sim --writes", 2, "", "--writes needs a catalogue"},
        {"web --sim --listen 127.0.0.1:0 --tls-cert web.crt", 2, "", "--tls-cert and --tls-key go together"},
        {"web --sim --users EP", 2, "", "users file EP line 2: the role is viewer or operator"},
        {"web --add-user anna --users EP", 2, "", "--add-user needs --role viewer or --role operator"},
        {"web --add-user a:b --role viewer --users EP", 2, "", "bad --add-user 'a:b'"},
    };
    expectRuns(runs, {}, {}, users);
}

} // namespace

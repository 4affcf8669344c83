#include "simulator.h"

#include "faultinjector.h"
#include "framereader.h"
#include "servoresponder.h"
#include "wirecodec.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

using LustBus::EOT;

namespace LustBusSim {

namespace {

constexpr qint64 NsPerMs = 1000000;

qint64 nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

class Simulator::Private
{
public:
    struct Client
    {
        int fd = -1;
        FrameReader reader;
    };

    // Shared with the owner's threads, under mutex.
    mutable std::mutex mutex;
    QMap<int, ParameterTable> tables;
    FaultPlan plan;
    FaultInjector injector;
    int baud = 0;
    int bitsPerCharacter = 10;
    bool localEcho = false;
    int corruptedEchoes = 0; //!< -1: all
    SimulatorCounters counters;

    // Set by start() before the thread runs and read-only while it runs.
    std::thread thread;
    bool running = false;
    int wakeRead = -1;
    int wakeWrite = -1;
    int listenFd = -1;
    int slaveFd = -1; //!< held open so that the master never sees the line hang up
    QString slaveName;
    quint16 port = 0;
    QString error;

    std::vector<Client> clients; //!< the serving thread's own once it runs
    qint64 timerSlackNs = 0;     //!< the serving thread's; 0: the kernel's default

    bool openPty();
    bool openTcp(quint16 tcpPort);
    void closeAll();
    void run();
    bool answer(const Frame &frame, int fd);
    void echo(const char *data, int size, int fd);
    enum Wait { Reached, Stopping, NewInput };
    Wait waitUntil(qint64 deadlineNs, int inputFd = -1);
    void keepTimerSlackBelow(qint64 characterNs);
    static void writeOut(int fd, const char *data, int size);
};

bool Simulator::Private::openPty()
{
    Client master;
    master.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master.fd < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(master.fd) != 0 || unlockpt(master.fd) != 0
        || ptsname_r(master.fd, name, sizeof name) != 0) {
        error = systemError("pseudo-terminal slave");
        ::close(master.fd);
        return false;
    }
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode;
    if (slaveFd < 0 || tcgetattr(slaveFd, &mode) != 0) {
        error = systemError(name);
        ::close(master.fd);
        closeFd(slaveFd);
        return false;
    }
    // Raw: no echo, no line editing, no CR/LF translation; telegrams are binary.
    cfmakeraw(&mode);
    tcsetattr(slaveFd, TCSANOW, &mode);
    fcntl(master.fd, F_SETFL, fcntl(master.fd, F_GETFL) | O_NONBLOCK);
    slaveName = QString::fromLocal8Bit(name);
    clients.push_back(std::move(master));
    return true;
}

bool Simulator::Private::openTcp(quint16 tcpPort)
{
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd < 0) {
        error = systemError("socket");
        return false;
    }
    const int on = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(tcpPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listenFd, 8) != 0
        || ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        error = QStringLiteral("TCP port %1 on 127.0.0.1: %2")
                    .arg(tcpPort).arg(QString::fromLocal8Bit(std::strerror(errno)));
        closeFd(listenFd);
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

void Simulator::Private::closeAll()
{
    for (Client &client : clients)
        closeFd(client.fd);
    clients.clear();
    closeFd(listenFd);
    closeFd(slaveFd);
    closeFd(wakeRead);
    closeFd(wakeWrite);
}

void Simulator::Private::run()
{
    std::vector<pollfd> fds;
    char buffer[1024];
    for (;;) {
        fds.clear();
        fds.push_back({wakeRead, POLLIN, 0});
        if (listenFd >= 0)
            fds.push_back({listenFd, POLLIN, 0});
        for (const Client &client : clients)
            fds.push_back({client.fd, POLLIN, 0});
        if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        size_t next = 1;
        if (listenFd >= 0 && (fds[next++].revents & POLLIN)) {
            Client client;
            client.fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client.fd >= 0) {
                const int on = 1;
                setsockopt(client.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                clients.push_back(std::move(client));
            }
        }
        // Clients accepted just now were not polled; they come next round.
        const size_t polled = fds.size() - next;
        for (size_t i = 0; i < polled && i < clients.size(); ++i) {
            if (fds[next + i].revents == 0)
                continue;
            Client &client = clients[i];
            const ssize_t got = ::read(client.fd, buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                if (listenFd >= 0)
                    closeFd(client.fd); // a TCP client left; a pty never ends this way
                continue;
            }
            echo(buffer, int(got), client.fd);
            const QList<Frame> frames = client.reader.feed(buffer, int(got), nowNs());
            if (const int malformed = client.reader.takeMalformed()) {
                std::lock_guard<std::mutex> lock(mutex);
                counters.malformed += quint64(malformed);
            }
            for (const Frame &frame : frames) {
                if (!answer(frame, client.fd))
                    return;
            }
        }
        clients.erase(std::remove_if(clients.begin(), clients.end(),
                                     [](const Client &c) { return c.fd < 0; }),
                      clients.end());
    }
}

// One request: decide the fault, answer from the table, then put the reply on the
// line at its deadlines. false: the simulator is stopping.
bool Simulator::Private::answer(const Frame &frame, int fd)
{
    QByteArray reply;
    FaultRule fault;
    bool faulty = false;
    qint64 characterNs = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++counters.requests;
        if (!frame.request.fieldsOk || !frame.request.checksumOk)
            ++counters.malformed;
        const auto table = tables.find(frame.request.station);
        if (table == tables.end()) {
            ++counters.foreign;
            return true;
        }
        faulty = injector.next(&fault);
        if (faulty && (fault.kind == FaultKind::NoReply || fault.kind == FaultKind::Nak)) {
            reply = injector.damage(fault, QByteArray(), frame.request.station);
        } else {
            const Answer answer = answerRequest(frame, table.value());
            if (!faulty && answer.kind == Answer::Nak)
                ++counters.naks;
            reply = faulty ? injector.damage(fault, answer.bytes, frame.request.station)
                           : answer.bytes;
        }
        if (faulty)
            ++counters.faults[size_t(fault.kind)];
        if (!reply.isEmpty())
            ++counters.answered;
        if (baud > 0)
            characterNs = qint64(bitsPerCharacter) * 1000000000 / baud;
    }
    if (reply.isEmpty())
        return true;
    keepTimerSlackBelow(characterNs);

    // The request's own wire time first, then one character time per reply byte.
    qint64 start = frame.startNs + frame.bytes.size() * characterNs;
    if (faulty && fault.kind == FaultKind::Delay)
        start = qMax(start, nowNs()) + fault.ms * NsPerMs;
    const qint64 gapNs = faulty && fault.kind == FaultKind::Split ? fault.ms * NsPerMs : 0;
    const bool byteByByte = characterNs > 0 || (faulty && fault.kind == FaultKind::Split);
    if (faulty && fault.kind == FaultKind::Delay) {
        // A servo starts over when a new request begins: a held reply that new request
        // bytes overtake is dropped, it must not answer the next request.
        const Wait wait = waitUntil(start, fd);
        if (wait != Reached)
            return wait == NewInput;
    }
    if (!byteByByte) {
        if (waitUntil(start) == Stopping)
            return false;
        writeOut(fd, reply.constData(), int(reply.size()));
        return true;
    }
    for (int i = 0; i < reply.size(); ++i) {
        const qint64 deadline = qMax(start + (i + 1) * characterNs, start + i * gapNs);
        if (waitUntil(deadline) == Stopping)
            return false;
        writeOut(fd, reply.constData() + i, 1);
    }
    return true;
}

void Simulator::Private::echo(const char *data, int size, int fd)
{
    QByteArray heard;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!localEcho)
            return;
        heard = QByteArray(data, size);
        for (char &c : heard) {
            if (c != EOT || corruptedEchoes == 0)
                continue;
            c = 'D';
            ++counters.corruptedEchoes;
            if (corruptedEchoes > 0)
                --corruptedEchoes;
        }
    }
    writeOut(fd, heard.constData(), int(heard.size()));
}

// A character at 115200 baud lasts 87 us, and the kernel's default timer slack lets a
// sleep to a byte's deadline end up to 50 us late, which the last byte of every reply
// would add to the exchange. A tenth of a character keeps the pace and still lets the
// kernel gather the wake-ups of many simulated lines.
void Simulator::Private::keepTimerSlackBelow(qint64 characterNs)
{
#ifdef __linux__
    const qint64 slackNs = characterNs > 0 ? qMax<qint64>(characterNs / 10, 1) : 0;
    if (slackNs == timerSlackNs)
        return;
    // 0 restores the thread's default slack.
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slackNs), 0UL, 0UL, 0UL);
    timerSlackNs = slackNs;
#else
    Q_UNUSED(characterNs);
#endif
}

// Sleeps to an absolute deadline; long waits watch the stop signal and, given an
// inputFd, bytes arriving there.
Simulator::Private::Wait Simulator::Private::waitUntil(qint64 deadlineNs, int inputFd)
{
    for (;;) {
        const qint64 left = deadlineNs - nowNs();
        if (left <= 0)
            return Reached;
        if (left > 2 * NsPerMs || inputFd >= 0) {
            // With an input to watch, poll to the deadline itself (rounded up).
            const int timeoutMs = int(inputFd >= 0 ? (left + NsPerMs - 1) / NsPerMs
                                                   : (left - NsPerMs) / NsPerMs);
            pollfd fds[2] = {{wakeRead, POLLIN, 0}, {inputFd, POLLIN, 0}};
            if (::poll(fds, inputFd >= 0 ? 2 : 1, timeoutMs) > 0) {
                if (fds[0].revents != 0)
                    return Stopping;
                if (fds[1].revents != 0)
                    return NewInput;
            }
            continue;
        }
        timespec until;
        until.tv_sec = time_t(deadlineNs / 1000000000);
        until.tv_nsec = long(deadlineNs % 1000000000);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    }
}

void Simulator::Private::writeOut(int fd, const char *data, int size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size_t(size));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return; // full or gone: dropped, as on a line nobody listens to
        data += put;
        size -= int(put);
    }
}

Simulator::Simulator() : d(new Private) {}

Simulator::~Simulator()
{
    stop();
}

void Simulator::setStation(int station, const ParameterTable &table)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->tables.insert(station, table);
}

bool Simulator::removeStation(int station)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->tables.remove(station) > 0;
}

QList<int> Simulator::stations() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->tables.keys();
}

ParameterTable Simulator::table(int station) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->tables.value(station);
}

bool Simulator::parameter(int station, quint16 number, Parameter *parameter) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto table = d->tables.constFind(station);
    const Parameter *found = table == d->tables.constEnd() ? nullptr : table->find(number);
    if (found)
        *parameter = *found;
    return found != nullptr;
}

bool Simulator::setParameter(int station, const Parameter &parameter)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto table = d->tables.find(station);
    if (table == d->tables.end())
        return false;
    table->insert(parameter);
    return true;
}

void Simulator::setFaultPlan(const FaultPlan &plan)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->plan = plan;
    d->injector = FaultInjector(plan);
}

FaultPlan Simulator::faultPlan() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->plan;
}

void Simulator::setLineRate(int baud, int bitsPerCharacter)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->baud = qMax(baud, 0);
    d->bitsPerCharacter = qMax(bitsPerCharacter, 1);
}

int Simulator::baudRate() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->baud;
}

int Simulator::bitsPerCharacter() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->bitsPerCharacter;
}

void Simulator::setLocalEcho(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->localEcho = on;
}

bool Simulator::localEcho() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->localEcho;
}

void Simulator::setCorruptedEchoes(int count)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->corruptedEchoes = qMax(count, -1);
}

SimulatorCounters Simulator::counters() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->counters;
}

void Simulator::resetCounters()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->counters = SimulatorCounters();
}

bool Simulator::start(Transport transport, quint16 tcpPort)
{
    if (d->running) {
        d->error = QStringLiteral("the simulator already runs");
        return false;
    }
    d->error.clear();
    d->slaveName.clear();
    d->port = 0;
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        d->error = systemError("pipe");
        return false;
    }
    d->wakeRead = wake[0];
    d->wakeWrite = wake[1];
    if (!(transport == Pty ? d->openPty() : d->openTcp(tcpPort))) {
        d->closeAll();
        return false;
    }
    d->running = true;
    d->thread = std::thread([this] { d->run(); });
    return true;
}

void Simulator::stop()
{
    if (!d->running)
        return;
    const char wake = 1;
    while (::write(d->wakeWrite, &wake, 1) < 0 && errno == EINTR) {
    }
    d->thread.join();
    d->running = false;
    d->closeAll();
}

bool Simulator::isRunning() const
{
    return d->running;
}

QString Simulator::slaveName() const
{
    return d->slaveName;
}

quint16 Simulator::port() const
{
    return d->port;
}

QString Simulator::errorString() const
{
    return d->error;
}

} // namespace LustBusSim

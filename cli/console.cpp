#include "console.h"

#include <QtCore/QByteArray>
#include <QtCore/QIODevice>

#include <cerrno>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A file descriptor as a device without a buffer of its own (the text stream has one),
// that keeps the errno of its first failed write and writes nothing after it.
class DescriptorDevice : public QIODevice
{
public:
    explicit DescriptorDevice(int fd) : m_fd(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

    bool isSequential() const override { return true; }
    int failure() const { return m_failure; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (m_failure != 0)
            return -1;
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
            if (n >= 0) {
                done += n;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A descriptor someone else made non-blocking: wait until it takes more.
                pollfd fd{m_fd, POLLOUT, 0};
                poll(&fd, 1, -1);
            } else if (errno != EINTR) {
                m_failure = errno;
                return -1;
            }
        }
        return done;
    }

private:
    int m_fd;
    int m_failure = 0;
};

DescriptorDevice &outDevice()
{
    static DescriptorDevice device(STDOUT_FILENO);
    return device;
}

DescriptorDevice &errDevice()
{
    static DescriptorDevice device(STDERR_FILENO);
    return device;
}

} // namespace

namespace Console {

QTextStream &out()
{
    static QTextStream stream(&outDevice());
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(&errDevice());
    return stream;
}

namespace {

// A terminal that TERM does not name, or names "dumb" (an editor's shell buffer, a
// serial console), shows escape sequences as garbage.
bool takesAnsiSequences(int fd)
{
    if (isatty(fd) != 1)
        return false;
    const QByteArray term = qgetenv("TERM");
    return !term.isEmpty() && term != "dumb";
}

} // namespace

bool errIsAnsiTerminal()
{
    return takesAnsiSequences(STDERR_FILENO);
}

bool outIsAnsiTerminal()
{
    return takesAnsiSequences(STDOUT_FILENO);
}

int outColumns()
{
    winsize size{};
    if (isatty(STDOUT_FILENO) != 1 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

int writeError()
{
    out().flush();
    err().flush();
    return outDevice().failure() != 0 ? outDevice().failure() : errDevice().failure();
}

QString failedStream()
{
    return outDevice().failure() != 0 ? QStringLiteral("standard output")
                                      : QStringLiteral("standard error");
}

} // namespace Console

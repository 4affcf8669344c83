// lustbus under signals and closed outputs: Ctrl-C and SIGTERM while a request waits on
// a silent servo, stdout on a pipe whose reader went away and on a full disk, a peer
// that hangs up.
#include "cliprocess.h"

#include <QtCore/QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

TEST(Signals, EndAtOnceWhileARequestWaitsOnASilentLine)
{
    // Four attempts of three seconds each are on the wire when the signals come. The
    // first signal lets watch finish the request; the one that ends the program does
    // so at once, with 128 + its number.
    const struct { const char *arguments; std::vector<int> sent; int exitCode; } cases[] = {
        {"read INT16:12 --json", {SIGINT}, 130},
        {"write INT16:12 5", {SIGTERM}, 143},
        {"scan --to 3", {SIGINT}, 130},
        {"watch INT16:12 --interval 0", {SIGINT, SIGINT}, 130},
        {"watch INT16:12 --json", {SIGINT, SIGTERM}, 143},
        {"backup --catalogue " LUSTBUS_SAMPLE_CATALOGUE, {SIGINT}, 130},
        {"list --values --json --catalogue " LUSTBUS_SAMPLE_CATALOGUE, {SIGTERM}, 143},
    };
    // A servo that never answers.
    SimulatorProcess silent(args("--tcp 0 --fault noreply:1.0"));
    ASSERT_FALSE(silent.link().isEmpty());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        QProcess process;
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(LUSTBUS_CLI_PATH),
                      args(c.arguments) + args("--timeout 3000 --retries 3 --trace")
                          + silent.link());
        QByteArray err;
        while (!err.contains("> <EOT>") && process.waitForReadyRead(10000))
            err += process.readAllStandardError();
        ASSERT_TRUE(err.contains("> <EOT>")) << err.toStdString();
        for (size_t i = 0; i < c.sent.size(); ++i) {
            // The first one did not end the watch at once.
            EXPECT_FALSE(i > 0 && process.waitForFinished(300));
            signalProcess(process.processId(), c.sent[i]);
        }
        EXPECT_TRUE(process.waitForFinished(2000)) << err.toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.exitCode);
        const QString last = QString::fromUtf8(process.readAllStandardOutput()).trimmed()
                                 .section(QLatin1Char('\n'), -1);
        EXPECT_TRUE(!QByteArray(c.arguments).contains("--json")
                    || json(last)[QLatin1String("exit")].toInt() == c.exitCode) << last.toStdString();
    }
}

struct Ended
{
    bool inTime = false;
    int exitCode = -1; //!< -1: ended by a signal
    QString err;
};

// Runs lustbus with its standard output on a pipe whose reader has already gone, as
// after "| head" ended, or on /dev/full; bounded like every run.
Ended runWithOutput(const QStringList &arguments, bool closedPipe)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2: " << std::strerror(errno);
        return {};
    }
    close(out[0]);
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, closedPipe ? out[1] : full, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<QByteArray> words{QByteArrayLiteral(LUSTBUS_CLI_PATH)};
    std::vector<char *> argv{words[0].data()};
    for (const QString &argument : arguments)
        argv.push_back(words.emplace_back(argument.toLocal8Bit()).data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (const int fd : {out[1], err[1], full})
        close(fd);
    Ended result;
    EXPECT_EQ(spawned, 0) << "posix_spawn: " << std::strerror(spawned);
    // Its stderr ends when it does.
    QByteArray text;
    pollfd fd{err[0], POLLIN, 0};
    char buffer[4096];
    ssize_t got = spawned == 0;
    while (got > 0 && poll(&fd, 1, 10000) > 0)
        if ((got = read(err[0], buffer, sizeof buffer)) > 0)
            text.append(buffer, int(got));
    close(err[0]);
    result.inTime = got == 0;
    if (spawned == 0 && !result.inTime)
        kill(pid, SIGKILL);
    int status = 0;
    if (spawned == 0)
        waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = QString::fromLocal8Bit(text);
    return result;
}

TEST(ClosedOutput, EveryCommandEndsAtOnceQuietlyOnAClosedPipeAndSaysWhyOnAFullDisk)
{
    SimulatorProcess simulator(args("--tcp 0"));
    ASSERT_FALSE(simulator.link().isEmpty());
    // watch, simulate and gateway would run until interrupted.
    const struct { const char *arguments; bool link; } cases[] = {
        {"info", false},          {"read INT16:12", true},
        {"write INT16:12 5", true}, {"scan --to 2", true},
        {"watch INT16:12 --interval 0", true}, {"demo", false},
        {"simulate --tcp 0", false}, {"gateway --sim --listen 0", false},
        {"list --catalogue " LUSTBUS_SAMPLE_CATALOGUE, false},
        {"backup --sim --catalogue " LUSTBUS_SAMPLE_CATALOGUE, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        const QStringList arguments = args(c.arguments) + (c.link ? simulator.link() : QStringList());
        const Ended closed = runWithOutput(arguments, true);
        EXPECT_TRUE(closed.inTime);
        EXPECT_EQ(closed.exitCode, 141);
        EXPECT_FALSE(closed.err.contains(QLatin1String("write"))) << closed.err.toStdString();

        const Ended full = runWithOutput(arguments, false);
        EXPECT_TRUE(full.inTime);
        EXPECT_EQ(full.exitCode, 4);
        EXPECT_TRUE(full.err.contains(QStringLiteral("lustbus %1: cannot write to standard output: "
                                                     "No space left on device")
                                          .arg(arguments.first())))
            << full.err.toStdString();
    }
}

TEST(PeerHangsUp, TheTraceSaysTheConnectionWasClosedAndTheDriverSaysNoResponse)
{
    // A device server on 127.0.0.1 that takes each connection, reads the request and
    // closes it.
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_TRUE(server >= 0 && bind(server, reinterpret_cast<sockaddr *>(&address), size) == 0
                && listen(server, 8) == 0
                && getsockname(server, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        << std::strerror(errno);
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
    QProcess process;
    process.setProcessEnvironment(cliEnvironment());
    process.start(QStringLiteral(LUSTBUS_CLI_PATH),
                  args("read INT16:12 --retries 1 --trace --tcp") << endpoint);
    pollfd fd{server, POLLIN, 0};
    for (int i = 0, client; i < 2 && poll(&fd, 1, 5000) > 0
                            && (client = accept(server, nullptr, nullptr)) >= 0; ++i) {
        pollfd request{client, POLLIN, 0};
        char bytes[64];
        if (poll(&request, 1, 5000) > 0 && recv(client, bytes, sizeof bytes, 0) < 0)
            ADD_FAILURE() << "recv: " << std::strerror(errno);
        close(client);
    }
    close(server);
    EXPECT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(err.endsWith(QLatin1String("lustbus read: read INT16:12> no response\n")))
        << err.toStdString();
    EXPECT_EQ(err.count(QStringLiteral("< connection to %1 closed by the peer").arg(endpoint)), 2)
        << err.toStdString();
    EXPECT_FALSE(err.contains(QLatin1String("nothing within the time-out"))) << err.toStdString();
}

} // namespace

#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QBuffer>
#include <QtCore/QDataStream>
#include <QtCore/QStringList>

#include <gtest/gtest.h>

namespace {

QByteArray streamed(const PortSettings &settings)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << settings;
    return bytes;
}

QByteArray streamed(const ProtocolSettings &settings)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << settings;
    return bytes;
}

PortSettings defaultPort()
{
    return PortSettings(64, QStringLiteral("COM2"), 57600, 8, 0, 0);
}

PortSettings withEntries(const QList<QPair<QString, QString>> &pairs)
{
    PortSettings settings = defaultPort();
    settings.setEntries(pairs);
    return settings;
}

// Captures what the records print through Qt's message output.
struct MessageCapture
{
    MessageCapture() { previous = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture() { qInstallMessageHandler(previous); }

    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        types.append(type);
        lines.append(text);
    }

    QtMessageHandler previous;
    static QList<QtMsgType> types;
    static QStringList lines;
};
QList<QtMsgType> MessageCapture::types;
QStringList MessageCapture::lines;

TEST(PortSettings, StreamsFieldsInOrderAndWidth)
{
    PortSettings settings = withEntries({{QStringLiteral("10.0.0.7"), QStringLiteral("502")}});
    settings.option = 5;
    settings.linkID = 3;
    settings.text = QStringLiteral("never streamed");

    const QByteArray expected = QByteArray::fromHex(
        "00000040"                          // type
        "00000008" "0043004f004d0032"       // string "COM2" (UTF-16, byte length first)
        "0000e100"                          // baudrate 57600
        "00000008" "00000000" "00000000"    // databits, stopbits, parity
        "00000005" "00000003" "00000000"    // option, linkID, current
        "00000001"                          // number of entries
        "00000010" "00310030002e0030002e0030002e0037" "01f6"); // ip "10.0.0.7", port 502
    EXPECT_EQ(streamed(settings).toHex(), expected.toHex());
}

TEST(ProtocolSettings, StreamsFourIntegers)
{
    ProtocolSettings settings(500, 3, 1, -2, 9, 9, QStringLiteral("not streamed"), true);
    EXPECT_EQ(streamed(settings).toHex(), QByteArray("000001f4" "00000003" "00000001" "fffffffe"));
    ProtocolSettings back(0, 0, 0, 0);
    QByteArray bytes = streamed(settings);
    QDataStream in(&bytes, QIODevice::ReadOnly);
    in >> back;
    EXPECT_EQ(back.timeout, 500);
    EXPECT_EQ(back.retry, 3);
    EXPECT_EQ(back.stationid, 1);
    EXPECT_EQ(back.delay, -2);
    EXPECT_TRUE(back.text.isEmpty());
    EXPECT_FALSE(back.flag);
}

TEST(PortSettings, RoundTripRestoresStreamedFields)
{
    PortSettings settings(7, QStringLiteral("/dev/ttyUSB0"), 115200, 7, 1, 2, 11,
                          QStringLiteral("memory only"));
    settings.linkID = 42;
    settings.setEntries({{QStringLiteral("a"), QStringLiteral("1")},
                         {QStringLiteral("b"), QStringLiteral("2")},
                         {QStringLiteral("c"), QStringLiteral("3")}});
    settings.setCurrent(2);

    QByteArray bytes = streamed(settings);
    PortSettings back;
    QDataStream in(&bytes, QIODevice::ReadOnly);
    in >> back;
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_EQ(back.type, 7u);
    EXPECT_EQ(back.string, settings.string);
    EXPECT_EQ(back.baudrate, 115200);
    EXPECT_EQ(back.databits, 7);
    EXPECT_EQ(back.stopbits, 1);
    EXPECT_EQ(back.parity, 2);
    EXPECT_EQ(back.option, 11);
    EXPECT_EQ(back.linkID, 42);
    EXPECT_EQ(back.current, 2);
    ASSERT_EQ(back.entries.size(), 3);
    EXPECT_EQ(back.ip(), QStringLiteral("c"));
    EXPECT_EQ(back.port(), 3);
    EXPECT_TRUE(back.text.isEmpty());
}

TEST(PortSettings, ShortStreamKeepsTheEntriesThatArrived)
{
    PortSettings settings = withEntries({{QStringLiteral("a"), QStringLiteral("1")},
                                         {QStringLiteral("b"), QStringLiteral("2")},
                                         {QStringLiteral("c"), QStringLiteral("3")}});
    QByteArray bytes = streamed(settings);
    // Cut the third entry: its ip is 4 + 2 bytes, its port 2.
    bytes.chop(8);
    PortSettings back;
    QDataStream in(&bytes, QIODevice::ReadOnly);
    in >> back;
    ASSERT_EQ(back.entries.size(), 2);
    EXPECT_EQ(back.ip(1), QStringLiteral("b"));
    EXPECT_EQ(back.port(1), 2);
}

TEST(PortSettings, StoredCurrentOutsideTheListKeepsTheOldValue)
{
    PortSettings settings = withEntries({{QStringLiteral("a"), QStringLiteral("1")}});
    settings.current = 5; // set directly: past the end
    QByteArray bytes = streamed(settings);
    PortSettings back = withEntries({{QStringLiteral("x"), QStringLiteral("9")},
                                     {QStringLiteral("y"), QStringLiteral("8")}});
    back.setCurrent(1);
    QDataStream in(&bytes, QIODevice::ReadOnly);
    in >> back;
    EXPECT_EQ(back.entries.size(), 1);
    EXPECT_EQ(back.current, 1);
    EXPECT_EQ(back.ip(), QString());
}

TEST(PortSettings, HugeAnnouncedCountEndsWithTheStream)
{
    PortSettings settings = withEntries({{QStringLiteral("a"), QStringLiteral("1")}});
    QByteArray bytes = streamed(settings);
    // The count stands right before the single entry (4 + 2 + 2 bytes).
    const int countAt = bytes.size() - 8 - 4;
    bytes[countAt] = char(0xFF);
    PortSettings back;
    QDataStream in(&bytes, QIODevice::ReadOnly);
    in >> back;
    EXPECT_EQ(back.entries.size(), 1);
}

TEST(PortSettings, NewRecordHasNoEntries)
{
    PortSettings settings = defaultPort();
    EXPECT_EQ(settings.ip(), QString());
    EXPECT_EQ(settings.port(), 0);
    settings.setIp(QStringLiteral("1.2.3.4"));
    settings.setPort(80);
    settings.setCurrent(0);
    EXPECT_TRUE(settings.entries.isEmpty());
    EXPECT_EQ(settings.current, 0);
    EXPECT_EQ(settings.linkID, -1);
}

TEST(PortSettings, SetCurrentAcceptsOnlyIndicesOfEntries)
{
    PortSettings settings = withEntries({{QStringLiteral("a"), QStringLiteral("1")},
                                         {QStringLiteral("b"), QStringLiteral("2")}});
    for (qint32 index : {-1, 2, 100}) {
        settings.setCurrent(index);
        EXPECT_EQ(settings.current, 0) << index;
    }
    settings.setCurrent(1);
    EXPECT_EQ(settings.current, 1);
    EXPECT_EQ(settings.ip(), QStringLiteral("b"));
    EXPECT_EQ(settings.ip(0), QStringLiteral("a"));
    EXPECT_EQ(settings.ip(2), QString());
    EXPECT_EQ(settings.port(-2), 0);
}

TEST(PortSettings, SettersChangeOneFieldOfOneEntry)
{
    PortSettings settings = withEntries({{QStringLiteral("a"), QStringLiteral("1")},
                                         {QStringLiteral("b"), QStringLiteral("2")}});
    settings.setCurrent(1);
    settings.setIp(QStringLiteral("B"));
    settings.setPort(20, 0);
    settings.setPort(99, 2); // names no entry
    EXPECT_EQ(settings.ip(0), QStringLiteral("a"));
    EXPECT_EQ(settings.ip(1), QStringLiteral("B"));
    EXPECT_EQ(settings.port(0), 20);
    EXPECT_EQ(settings.port(1), 2);
}

TEST(PortSettings, ShorterListLeavesCurrentPastTheEnd)
{
    PortSettings settings = withEntries({{QStringLiteral("a"), QStringLiteral("1")},
                                         {QStringLiteral("b"), QStringLiteral("2")},
                                         {QStringLiteral("c"), QStringLiteral("3")}});
    settings.setCurrent(2);
    settings.setEntries({{QStringLiteral("z"), QStringLiteral("7")}});
    EXPECT_EQ(settings.current, 2);
    EXPECT_EQ(settings.ip(), QString());
    EXPECT_EQ(settings.port(), 0);
    settings.setCurrent(0);
    EXPECT_EQ(settings.ip(), QStringLiteral("z"));
}

TEST(PortSettings, SetEntriesReadsPortTexts)
{
    const struct
    {
        const char *text;
        quint16 port;
    } cases[] = {{"502", 502}, {"0", 0}, {"65535", 65535}, {"65536", 0},
                 {"50a", 0},   {"", 0},  {"-1", 0},       {"0x10", 0}};
    for (const auto &c : cases) {
        PortSettings settings =
            withEntries({{QStringLiteral(" host 'x' "), QString::fromLatin1(c.text)}});
        EXPECT_EQ(settings.port(), c.port) << c.text;
        EXPECT_EQ(settings.ip(), QStringLiteral(" host 'x' "));
    }
}

TEST(ProtocolSettings, AssignKeepsTheTargetsFlag)
{
    ProtocolSettings source(100, 2, 7, 5, 0, 0, QStringLiteral("src"), false);
    ProtocolSettings target(1, 1, 1, 1, 0, 0, QString(), true);
    target.assign(source);
    EXPECT_EQ(target.timeout, 100);
    EXPECT_EQ(target.retry, 2);
    EXPECT_EQ(target.stationid, 7);
    EXPECT_EQ(target.delay, 5);
    EXPECT_EQ(target.text, QStringLiteral("src"));
    EXPECT_TRUE(target.flag);
    EXPECT_FALSE(ProtocolSettings(1, 2, 3, 4).flag);
}

TEST(Settings, DebugLinesGoToTheMessageOutput)
{
    MessageCapture capture;
    MessageCapture::lines.clear();
    MessageCapture::types.clear();
    defaultPort().dump();
    ProtocolSettings(500, 3, 1, 0).dump();
    PortSettings withEntry = withEntries({{QStringLiteral("10.1.1.1"), QStringLiteral("4001")}});
    withEntry.string = QStringLiteral("%1 %2");
    withEntry.dump();

    ASSERT_EQ(MessageCapture::lines.size(), 3);
    EXPECT_EQ(MessageCapture::types, QList<QtMsgType>({QtDebugMsg, QtDebugMsg, QtDebugMsg}));
    EXPECT_EQ(MessageCapture::lines[0],
              QStringLiteral("type: 64 string: \"COM2\" baudrate: 57600 databits: 8 stopbits: 0 "
                             "parity: 0 linkID: -1 current ip: \"\" current port: 0 "));
    EXPECT_EQ(MessageCapture::lines[1],
              QStringLiteral("timeout: 500 retry: 3 stationid: 1 delay: 0 "));
    EXPECT_EQ(MessageCapture::lines[2],
              QStringLiteral("type: 64 string: \"%1 %2\" baudrate: 57600 databits: 8 stopbits: 0 "
                             "parity: 0 linkID: -1 current ip: \"10.1.1.1\" current port: 4001 "));
}

} // namespace

#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QDataStream>
#include <QtCore/QIODevice>
#include <QtCore/QStringList>

#include <gtest/gtest.h>

namespace {

template <typename Settings>
QByteArray streamed(const Settings &settings)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << settings;
    return bytes;
}

template <typename Settings>
void readBack(QByteArray bytes, Settings &settings)
{
    QDataStream in(&bytes, QIODevice::ReadOnly);
    in >> settings;
}

PortSettings withEntries(const QList<QPair<QString, QString>> &pairs)
{
    PortSettings settings(64, QStringLiteral("COM2"), 57600, 8, 0, 0);
    settings.setEntries(pairs);
    return settings;
}

const QList<QPair<QString, QString>> abc = {{"a", "1"}, {"b", "2"}, {"c", "3"}};

// Read back, the streamed fields come back whole; text is never streamed.
TEST(PortSettings, StreamsFieldsInOrderAndWidthAndReadsThemBack)
{
    PortSettings settings = withEntries({{"10.0.0.7", "502"}});
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
    PortSettings back;
    readBack(streamed(settings), back);
    EXPECT_EQ(streamed(back).toHex(), expected.toHex());
    EXPECT_TRUE(back.text.isEmpty());
}

TEST(ProtocolSettings, StreamsFourIntegers)
{
    const ProtocolSettings settings(500, 3, 1, -2, 9, 9, QStringLiteral("not streamed"), true);
    EXPECT_EQ(streamed(settings).toHex(), QByteArray("000001f4" "00000003" "00000001" "fffffffe"));
    ProtocolSettings back(0, 0, 0, 0);
    readBack(streamed(settings), back);
    EXPECT_EQ(back.debugLine(), QStringLiteral("timeout: 500 retry: 3 stationid: 1 delay: -2 "));
    EXPECT_TRUE(back.text.isEmpty());
    EXPECT_FALSE(back.flag);
    // assign takes all but the target's flag.
    ProtocolSettings target(1, 1, 1, 1, 0, 0, QString(), true);
    target.assign(ProtocolSettings(100, 2, 7, 5, 0, 0, QStringLiteral("src"), false));
    EXPECT_EQ(target.debugLine(), QStringLiteral("timeout: 100 retry: 2 stationid: 7 delay: 5 "));
    EXPECT_EQ(target.text, QStringLiteral("src"));
    EXPECT_TRUE(target.flag);
}

// A damaged stream keeps what arrived whole; a stored current that names no entry
// leaves the old one, one that does is taken.
TEST(PortSettings, DamagedStreamsKeepWhatArrived)
{
    QByteArray shortStream = streamed(withEntries(abc));
    shortStream.chop(8); // the third entry: its ip is 4 + 2 bytes, its port 2
    PortSettings pastTheEnd = withEntries({{"a", "1"}});
    pastTheEnd.current = 5; // set directly
    PortSettings atTwo = withEntries(abc);
    atTwo.setCurrent(2);
    QByteArray hugeCount = streamed(withEntries({{"a", "1"}}));
    hugeCount[hugeCount.size() - 8 - 4] = char(0xFF); // the count, before the one entry
    const struct { const char *name; QByteArray bytes; const char *entries; int current; } cases[] = {
        {"ShortStreamKeepsTheEntriesThatArrived", shortStream, "a:1 b:2", 0},
        {"StoredCurrentOutsideTheListKeepsTheOldValue", streamed(pastTheEnd), "a:1", 1},
        {"HugeAnnouncedCountEndsWithTheStream", hugeCount, "a:1", 0},
        {"WholeStreamRestoresCurrent", streamed(atTwo), "a:1 b:2 c:3", 2},
    };
    for (const auto &c : cases) {
        PortSettings back = withEntries(abc);
        back.setCurrent(1);
        readBack(c.bytes, back);
        QStringList entries;
        for (int i = 0; i < back.entries.size(); ++i)
            entries << QStringLiteral("%1:%2").arg(back.ip(i)).arg(back.port(i));
        EXPECT_EQ(entries.join(QLatin1Char(' ')).toStdString(), c.entries) << c.name;
        EXPECT_EQ(back.current, c.current) << c.name;
    }
}

TEST(PortSettings, IndicesNamingNoEntryGiveNothingAndChangeNothing)
{
    PortSettings settings = withEntries(abc);
    settings.setCurrent(-1);
    settings.setCurrent(3);
    EXPECT_EQ(settings.current, 0);
    settings.setCurrent(1);
    settings.setIp(QStringLiteral("B"));
    settings.setPort(20, 0);
    settings.setPort(99, 3);
    EXPECT_EQ(QStringList({settings.ip(0), settings.ip(1), settings.ip(2)}),
              QStringList({"a", "B", "c"}));
    EXPECT_EQ(QList<int>({settings.port(0), settings.port(1), settings.port(2)}),
              QList<int>({20, 2, 3}));
    EXPECT_EQ(settings.ip(3), QString());
    EXPECT_EQ(settings.port(-2), 0);
    // A shorter list leaves current past its end, naming no entry, until set again.
    settings.setEntries({{"z", "7"}});
    EXPECT_EQ(settings.current, 1);
    settings.setIp(QStringLiteral("y"));
    EXPECT_EQ(settings.ip(), QString());
    EXPECT_EQ(settings.port(), 0);
    settings.setCurrent(0);
    EXPECT_EQ(settings.ip(), QStringLiteral("z"));
}

TEST(PortSettings, SetEntriesReadsPortTexts)
{
    const struct { const char *text; quint16 port; } cases[] = {
        {"65535", 65535}, {"65536", 0}, {"", 0}, {"-1", 0}, {"0x10", 0}};
    for (const auto &c : cases) {
        PortSettings settings =
            withEntries({{QStringLiteral(" host 'x' "), QString::fromLatin1(c.text)}});
        EXPECT_EQ(settings.port(), c.port) << c.text;
        EXPECT_EQ(settings.ip(), QStringLiteral(" host 'x' "));
    }
}

QStringList messages;

TEST(Settings, DebugLinesGoToTheMessageOutput)
{
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &text) {
            messages.append(type == QtDebugMsg ? text : QStringLiteral("not debug: ") + text);
        });
    ProtocolSettings(500, 3, 1, 0).dump();
    PortSettings withEntry = withEntries({{"10.1.1.1", "4001"}});
    withEntry.string = QStringLiteral("%1 %2"); // markers in the name stay as they are
    withEntry.dump();
    qInstallMessageHandler(previous);
    EXPECT_EQ(messages, QStringList({
        QStringLiteral("timeout: 500 retry: 3 stationid: 1 delay: 0 "),
        QStringLiteral("type: 64 string: \"%1 %2\" baudrate: 57600 databits: 8 stopbits: 0 "
                       "parity: 0 linkID: -1 current ip: \"10.1.1.1\" current port: 4001 ")}));
}

} // namespace

// The value forms of lustbus, the kind and count it derives from an address, the CSV
// fields and table lines of watch and the port list: the edges that the end-to-end
// runs of the program do not reach.
#include "portscommand.h"
#include "requestaddress.h"
#include "valuetext.h"
#include "watchlog.h"
#include "watchtable.h"

#include <QtCore/QJsonDocument>

#include <gtest/gtest.h>

using LustBus::DataType;

namespace {

// What a typed text becomes: "HOSTHEX = printed back", or the error that names the bad
// part, with no bytes left. A text with a comma is a list.
TEST(ValueText, TypedValuesBecomeHostBytesOrANamedError)
{
    const struct { DataType type; const char *text, *outcome; } cases[] = {
        {DataType::Int8, "0xFF", "FF = -1"},
        {DataType::Int16, " 0xffff ", "FFFF = -1"},
        {DataType::Int32, "-2147483648", "00000080 = -2147483648"},
        {DataType::USign32, "4294967295", "FFFFFFFF = 4294967295"},
        {DataType::Float32, "1.3", "6666A63F = 1.3"},
        {DataType::FixPt16, "3276.75", "FBFF0400 = 3276.75"},
        {DataType::FixPt16, ".5", "32000000 = 0.50"},
        {DataType::Int32Q16, "-0.05", "FBFFFFFF = -0.05"},
        {DataType::Int32Q16, "-32768", "0000CEFF = -32768.00"},
        {DataType::Int16, "7, -8,9", "0700F8FF0900 = 7, -8, 9"},
        {DataType::Int8, "128", "\"128\""},
        {DataType::USign8, "-1", "\"-1\""},
        {DataType::Int16, "0x10000", "0x10000"},
        {DataType::Int16, "0xFFFFFFFFFFFFFFFF", "0xFFFF"}, // no wrap to -1
        {DataType::USign32, "4294967296", "4294967296"},
        {DataType::Int16, "1, 2x, 3", "\"2x\""},
        {DataType::Float32, "one", "\"one\""},
        {DataType::FixPt16, "-0.05", "0.00 to 3276.75"},
        {DataType::FixPt16, "3276.80", "\"3276.80\""},
        {DataType::Int32Q16, "32768.00", "-32768.00 to 32767.99"},
        {DataType::Int32Q16, "99999999999999999999", "\"9999"},
        {DataType::Int32Q16, "1.", "\"1.\""},
        {DataType::String, "caf\u00e9\u20ac", "Latin-1"},
        {DataType::String, "a\x03z", "control character"},
        {DataType::Unknown, "5", "--hex"},
    };
    for (const auto &c : cases) {
        const QString text = QString::fromUtf8(c.text), outcome = QString::fromUtf8(c.outcome);
        const bool list = text.contains(QLatin1Char(','));
        QByteArray host("stale");
        QString error;
        ASSERT_EQ(ValueText::parse(c.type, text, list, host, error),
                  outcome.contains(QLatin1String(" = ")))
            << c.text << ": " << error.toStdString();
        if (error.isEmpty()) {
            EXPECT_EQ((ValueText::toHex(host) + QLatin1String(" = ")
                       + ValueText::format(c.type, host, list)).toStdString(),
                      c.outcome);
            EXPECT_TRUE(ValueText::isWholeElements(c.type, host)) << c.text;
        } else {
            EXPECT_TRUE(host.isEmpty()) << c.text;
            EXPECT_TRUE(error.contains(outcome)) << c.text << ": " << error.toStdString();
        }
    }
    EXPECT_FALSE(ValueText::isWholeElements(DataType::Int32, QByteArray(6, '\0')));
}

// The range a refusal names comes from the type's row: every number type's whole text.
TEST(ValueText, RefusalsNameTheRangeOfTheirType)
{
    const struct { DataType type; const char *expected; } cases[] = {
        {DataType::Int8, "an integer from -128 to 127 (or 0x00 to 0xFF)"},
        {DataType::USign8, "an integer from 0 to 255 (or 0x00 to 0xFF)"},
        {DataType::Int16, "an integer from -32768 to 32767 (or 0x0000 to 0xFFFF)"},
        {DataType::USign16, "an integer from 0 to 65535 (or 0x0000 to 0xFFFF)"},
        {DataType::Int32,
         "an integer from -2147483648 to 2147483647 (or 0x00000000 to 0xFFFFFFFF)"},
        {DataType::USign32, "an integer from 0 to 4294967295 (or 0x00000000 to 0xFFFFFFFF)"},
        {DataType::Float32, "a floating-point number such as 1.5 or -2e-3"},
        {DataType::FixPt16, "a decimal from 0.00 to 3276.75 with at most two places"},
        {DataType::Int32Q16, "a decimal from -32768.00 to 32767.99 with at most two places"},
    };
    for (const auto &c : cases) {
        QByteArray host;
        QString error;
        EXPECT_FALSE(ValueText::parse(c.type, QStringLiteral("x"), false, host, error));
        EXPECT_EQ(error.toStdString(), QStringLiteral("bad %1 value \"x\": expected %2")
                                           .arg(QLatin1String(LustBus::dataTypeName(c.type)),
                                                QLatin1String(c.expected))
                                           .toStdString());
        EXPECT_FALSE(ValueText::fromJson(c.type, QJsonValue(QStringLiteral("x")), false, host,
                                         error));
        EXPECT_TRUE(error.endsWith(QLatin1String(c.expected))) << error.toStdString();
    }
}

// Bits are lowest first; hex takes pairs of digits; JSON keeps a float as printed.
TEST(ValueText, BitsHexAndJson)
{
    EXPECT_EQ(ValueText::toJson(DataType::Float32, QByteArray::fromHex("6666A63F"), false).toDouble(),
              1.3);
    EXPECT_TRUE(ValueText::toJson(DataType::Float32, QByteArray::fromHex("0000C07F"), false)
                    .isNull()); // NaN has no JSON form
    QByteArray bits;
    int count = 0;
    QString error;
    ASSERT_TRUE(ValueText::parseBits(QStringLiteral("100000001"), bits, count, error));
    EXPECT_EQ(count, 9);
    EXPECT_EQ(ValueText::toHex(bits), QStringLiteral("0101"));
    EXPECT_EQ(ValueText::formatBits(QByteArray::fromHex("C5"), 8), QStringLiteral("10100011"));
    EXPECT_EQ(ValueText::formatBits(QByteArray::fromHex("C5"), 12), QStringLiteral("10100011"));
    for (const char *bad : {"", "102", "1 0"}) {
        EXPECT_FALSE(ValueText::parseBits(QString::fromLatin1(bad), bits, count, error)) << bad;
        EXPECT_NE(error.indexOf(QLatin1String("lowest bit first")), -1);
    }
    QByteArray bytes;
    ASSERT_TRUE(ValueText::fromHex(QStringLiteral("cdAB"), bytes, error));
    EXPECT_EQ(bytes, QByteArray::fromHex("CDAB"));
    for (const char *bad : {"", "ABC", "0G", "AB CD"})
        EXPECT_FALSE(ValueText::fromHex(QString::fromLatin1(bad), bytes, error)) << bad;
}

// What an address with --kind and --count resolves to: "kind K count N" (and "list"),
// or the error that names the bad argument.
TEST(RequestAddress, KindAndCountFollowTheAddress)
{
    // With valueBytes (and valueBits) a write's value gives the count.
    const struct {
        const char *text, *kind, *count, *outcome;
        int valueBytes = -1, valueBits = 0;
    } cases[] = {
        {"INT8:10", "", "", "kind 1 count 1"},
        {"INT32Q16:18", "", "", "kind 3 count 1"},
        {"FIXPT16:103:0", "", "4", "kind 2 count 4 list"},
        {"INT16:12:0", "", "2", "kind 2 count 2 list"},
        {"INT16:12", "3", "", "kind 3 count 1 list"},
        {"INT16:5:-3", "", "", "kind 2 count 1"},
        {"USIGN16:20:1.3", "6", "12", "kind 6 count 12"},
        {"INT16:1:2:3:4", "", "", "bad address"},
        {"INT16:70000", "", "", "65535"},
        {"INT16:-5", "", "", "65535"},
        {"INT16:12", "0", "", "bit address"},
        {"USIGN16:20.3", "2", "", "value address"},
        {"USIGN16:20.3", "", "256", "255 bits"},
        {"INT16:101:0", "", "128", "256"}, // would wrap to 0 bytes
        {"USIGN8:1100:0", "", "256", "255 bytes"},
        {"INT16:12", "", "99999999999999999999", "--count"},
        {"USIGN8:1100:0", "", "", "kind 1 count 255 list", 255},
        // The driver sends the element count modulo 256: 256 elements would write none.
        {"USIGN8:1100:0", "", "", "at most 255 elements", 256},
        {"USIGN8:11.0", "", "", "at most 255 bits", 32, 256},
    };
    for (const auto &c : cases) {
        RequestAddress a;
        QString error;
        const QString outcome = QString::fromLatin1(c.outcome);
        ASSERT_EQ(RequestAddress::resolve(QString::fromLatin1(c.text), QString::fromLatin1(c.kind),
                                          QString::fromLatin1(c.count), &a, &error)
                      && (c.valueBytes < 0 || a.adoptValue(c.valueBytes, c.valueBits, &error)),
                  outcome.startsWith(QLatin1String("kind ")))
            << c.text << ": " << error.toStdString();
        if (error.isEmpty()) {
            EXPECT_EQ(QStringLiteral("kind %1 count %2%3").arg(qint32(a.kind)).arg(a.count)
                          .arg(QLatin1String(a.isList() ? " list" : "")).toStdString(),
                      c.outcome);
        } else {
            EXPECT_TRUE(error.contains(outcome)) << c.text << ": " << error.toStdString();
        }
    }
}

// CSV fields are quoted only where a reader needs it; ages read well from tenths to hours.
TEST(WatchLog, CsvFieldsAndAges)
{
    const struct { const char *text, *field; } fields[] = {
        {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""}, {" padded", "\" padded\""},
        {"padded ", "\"padded \""}};
    for (const auto &c : fields)
        EXPECT_EQ(WatchLog::csvField(QString::fromLatin1(c.text)).toStdString(), c.field) << c.text;
    const struct { qint64 ms; const char *text; } ages[] = {
        {-1, "-"}, {0, "0.0 s"}, {59949, "59.9 s"}, {60000, "1 min 00 s"}, {3599999, "59 min 59 s"},
        {3600000, "1 h 00 min"}};
    for (const auto &c : ages)
        EXPECT_EQ(WatchTable::ageText(c.ms).toStdString(), c.text) << c.ms;
}

// Time stamps keep the text of their second between samples: every millisecond, second
// and day boundary (before 1970 too) must read as Qt's own ISO text, and a sample line
// as the CSV of its fields.
TEST(WatchLog, TimeStampsAndSampleLinesReadAsTheirFields)
{
    const qint64 times[] = {0, 999, 1000, 1001, 1796584801042, 1796584801999, 1796584802000,
                            1796630399999, 1796630400000, 1796584801042, -1, -999, -1000,
                            -1001, -86400001};
    for (const qint64 ms : times) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        EXPECT_EQ(WatchLog::timeText(time).toStdString(),
                  time.toString(Qt::ISODateWithMs).toStdString()) << ms;
    }
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(1796584801042, Qt::UTC);
    EXPECT_EQ(WatchLog::csvSample(time, QStringLiteral("INT16:12"), QStringLiteral("1, 2"),
                                  QString()).toStdString(),
              "2026-12-06T19:20:01.042Z,INT16:12,\"1, 2\",");
    EXPECT_EQ(WatchLog::csvSample(time, QStringLiteral("INT16:12"), QString(),
                                  QStringLiteral("no \"reply\"")).toStdString(),
              "2026-12-06T19:20:01.042Z,INT16:12,,\"no \"\"reply\"\"\"");
}

TEST(WatchTable, LinesAreCutToTheTerminalWidth)
{
    WatchTable table({QStringLiteral("INT16:101:0")});
    table.setValue(0, QString(60, QLatin1Char('7')), 1000);
    const QStringList wide = table.lines(QStringLiteral("status"), 1500, 0);
    ASSERT_EQ(wide.size(), 3);
    EXPECT_TRUE(wide[2].contains(QString(WatchTable::MaxValueWidth - 3, QLatin1Char('7'))
                                 + QLatin1String("...")));
    EXPECT_TRUE(wide[2].endsWith(QLatin1String("0.5 s       0"))) << wide[2].toStdString();
    for (const QString &line : table.lines(QStringLiteral("status"), 1500, 30))
        EXPECT_LE(line.size(), 29) << line.toStdString();
}

// What a port does not tell shows as "-" or null; USB ids as four hex digits.
TEST(PortsCommand, EveryPortOneLineAndOneEntry)
{
    const QList<Ports::Port> ports{
        {QStringLiteral("/dev/ttyS0"), QString(), QString(), QString(), -1, -1},
        {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"),
         QStringLiteral("FTDI"), QStringLiteral("A10K1234"), 0x0403, 0x6001},
        {QStringLiteral("/dev/ttyACM0"), QStringLiteral("two\nlines"), QString(), QString(), 0x2341,
         -1}};
    EXPECT_EQ(Ports::table(ports).toStdString(),
              "device        description      manufacturer  serial number  usb id\n"
              "/dev/ttyS0    -                -             -              -\n"
              "/dev/ttyUSB0  FT232R USB UART  FTDI          A10K1234       0403:6001\n"
              "/dev/ttyACM0  two lines        -             -              2341:\n");
    EXPECT_EQ(QJsonDocument(Ports::json(ports)).toJson(QJsonDocument::Compact).toStdString(),
              R"({"ports":[)"
              R"({"description":"","device":"/dev/ttyS0","manufacturer":"","productId":null,)"
              R"("serialNumber":"","vendorId":null},)"
              R"({"description":"FT232R USB UART","device":"/dev/ttyUSB0","manufacturer":"FTDI",)"
              R"("productId":"6001","serialNumber":"A10K1234","vendorId":"0403"},)"
              R"({"description":"two\nlines","device":"/dev/ttyACM0","manufacturer":"",)"
              R"("productId":null,"serialNumber":"","vendorId":"2341"}]})");
}

} // namespace

// The value forms of lustbus, the kind and count it derives from an address, and the
// CSV fields and table lines of watch.
#include "requestaddress.h"
#include "valuetext.h"
#include "watchlog.h"
#include "watchtable.h"

#include <QtCore/QJsonArray>

#include <gtest/gtest.h>

using LustBus::DataType;

namespace {

struct ValueCase
{
    DataType type;
    const char *text;
    const char *hostHex;
    const char *printed; //!< what format() gives back
};

class ValueRoundTrip : public ::testing::TestWithParam<ValueCase>
{
};

TEST_P(ValueRoundTrip, ParsesToHostBytesAndPrintsBack)
{
    const ValueCase c = GetParam();
    QByteArray host;
    QString error;
    ASSERT_TRUE(ValueText::parse(c.type, QString::fromUtf8(c.text), false, host, error))
        << error.toStdString();
    EXPECT_EQ(ValueText::toHex(host).toStdString(), c.hostHex);
    EXPECT_EQ(ValueText::format(c.type, host, false).toStdString(), c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, ValueRoundTrip,
    ::testing::Values(ValueCase{DataType::Int8, "-100", "9C", "-100"},
                      ValueCase{DataType::Int8, "0xFF", "FF", "-1"},
                      ValueCase{DataType::USign8, "200", "C8", "200"},
                      ValueCase{DataType::Int16, "-1234", "2EFB", "-1234"},
                      ValueCase{DataType::Int16, " 0xffff ", "FFFF", "-1"},
                      ValueCase{DataType::USign16, "0xABCD", "CDAB", "43981"},
                      ValueCase{DataType::Int32, "-2147483648", "00000080", "-2147483648"},
                      ValueCase{DataType::USign32, "4294967295", "FFFFFFFF", "4294967295"},
                      ValueCase{DataType::Float32, "1.5", "0000C03F", "1.5"},
                      ValueCase{DataType::Float32, "1.3", "6666A63F", "1.3"},
                      ValueCase{DataType::Float32, "-2e-3", "6F1203BB", "-0.002"},
                      ValueCase{DataType::FixPt16, "1.25", "7D000000", "1.25"},
                      ValueCase{DataType::FixPt16, "3276.75", "FBFF0400", "3276.75"},
                      ValueCase{DataType::FixPt16, ".5", "32000000", "0.50"},
                      ValueCase{DataType::Int32Q16, "-2.5", "06FFFFFF", "-2.50"},
                      ValueCase{DataType::Int32Q16, "-0.05", "FBFFFFFF", "-0.05"},
                      ValueCase{DataType::Int32Q16, "-32768", "0000CEFF", "-32768.00"},
                      ValueCase{DataType::String, "LUST CDE", "4C55535420434445", "LUST CDE"}));

struct BadValue
{
    DataType type;
    const char *text;
    const char *named; //!< part of the message
};

class RejectedValue : public ::testing::TestWithParam<BadValue>
{
};

TEST_P(RejectedValue, NamesTheBadValueAndLeavesNoBytes)
{
    const BadValue c = GetParam();
    QByteArray host("stale");
    QString error;
    EXPECT_FALSE(ValueText::parse(c.type, QString::fromUtf8(c.text), true, host, error));
    EXPECT_TRUE(host.isEmpty());
    EXPECT_NE(error.indexOf(QString::fromUtf8(c.named)), -1) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    OutOfRangeAndMalformed, RejectedValue,
    ::testing::Values(BadValue{DataType::Int8, "128", "\"128\""},
                      BadValue{DataType::USign8, "-1", "\"-1\""},
                      BadValue{DataType::Int16, "0x10000", "0x10000"},
                      BadValue{DataType::Int16, "0xFFFFFFFFFFFFFFFF", "0xFFFF"}, // no wrap to -1
                      BadValue{DataType::USign32, "4294967296", "4294967296"},
                      BadValue{DataType::Int16, "1, 2x, 3", "\"2x\""},
                      BadValue{DataType::Int16, "1,,3", "\"\""},
                      BadValue{DataType::Float32, "one", "\"one\""},
                      BadValue{DataType::FixPt16, "1.234", "at most two places"},
                      BadValue{DataType::FixPt16, "-0.05", "0.00 to 3276.75"},
                      BadValue{DataType::FixPt16, "3276.80", "\"3276.80\""},
                      BadValue{DataType::Int32Q16, "32768.00", "-32768.00 to 32767.99"},
                      BadValue{DataType::Int32Q16, "99999999999999999999", "\"9999"},
                      BadValue{DataType::Int32Q16, "1.", "\"1.\""},
                      BadValue{DataType::Int32Q16, "-", "\"-\""},
                      BadValue{DataType::String, "caf\u00e9\u20ac", "Latin-1"},
                      BadValue{DataType::String, "a\x03z", "control character"},
                      BadValue{DataType::Unknown, "5", "--hex"}));

TEST(ValueText, ListsParseAndPrintEveryElement)
{
    QByteArray host;
    QString error;
    ASSERT_TRUE(ValueText::parse(DataType::Int16, QStringLiteral("7, -8,9"), true, host, error));
    EXPECT_EQ(ValueText::toHex(host), QStringLiteral("0700F8FF0900"));
    EXPECT_EQ(ValueText::format(DataType::Int16, host, true), QStringLiteral("7, -8, 9"));
    EXPECT_EQ(ValueText::format(DataType::Int16, host, false), QStringLiteral("7"));
    EXPECT_EQ(ValueText::toJson(DataType::Int16, host, true).toArray().size(), 3);
    EXPECT_FALSE(ValueText::isWholeElements(DataType::Int32, host));
    EXPECT_TRUE(ValueText::isWholeElements(DataType::Int16, host));
}

TEST(ValueText, JsonKeepsTheNumbersAsPrinted)
{
    const QByteArray float13 = QByteArray::fromHex("6666A63F");
    EXPECT_EQ(ValueText::toJson(DataType::Float32, float13, false).toDouble(), 1.3);
    EXPECT_EQ(ValueText::toJson(DataType::FixPt16, QByteArray::fromHex("7D000000"), false)
                  .toDouble(),
              1.25);
    EXPECT_EQ(ValueText::toJson(DataType::USign32, QByteArray::fromHex("EFBEADDE"), false)
                  .toDouble(),
              3735928559.0);
    EXPECT_TRUE(ValueText::toJson(DataType::Float32, QByteArray::fromHex("0000C07F"), false)
                    .isNull()); // NaN has no JSON form
}

TEST(ValueText, StringReadsEndAtTheFirstZeroByte)
{
    EXPECT_EQ(ValueText::format(DataType::String, QByteArray("CDE\0\0\0", 6), false),
              QStringLiteral("CDE"));
}

TEST(ValueText, BitsAreLowestFirst)
{
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
}

TEST(ValueText, HexTakesPairsOfDigits)
{
    QByteArray bytes;
    QString error;
    ASSERT_TRUE(ValueText::fromHex(QStringLiteral("cdAB"), bytes, error));
    EXPECT_EQ(bytes, QByteArray::fromHex("CDAB"));
    for (const char *bad : {"", "ABC", "0G", "AB CD"})
        EXPECT_FALSE(ValueText::fromHex(QString::fromLatin1(bad), bytes, error)) << bad;
}

struct AddressCase
{
    const char *text;
    const char *kind;
    const char *count;
    int expectedKind;
    quint64 expectedCount;
    bool list;
};

class AddressDefaults : public ::testing::TestWithParam<AddressCase>
{
};

TEST_P(AddressDefaults, KindAndCountFollowTheAddress)
{
    const AddressCase c = GetParam();
    RequestAddress address;
    QString error;
    ASSERT_TRUE(RequestAddress::resolve(QString::fromLatin1(c.text), QString::fromLatin1(c.kind),
                                        QString::fromLatin1(c.count), &address, &error))
        << error.toStdString();
    EXPECT_EQ(address.kind, c.expectedKind);
    EXPECT_EQ(address.count, c.expectedCount);
    EXPECT_EQ(address.isList(), c.list);
}

INSTANTIATE_TEST_SUITE_P(
    ByTypeAndForm, AddressDefaults,
    ::testing::Values(AddressCase{"INT8:10", "", "", 1, 1, false},
                      AddressCase{"usign8:11", "", "", 1, 1, false},
                      AddressCase{"INT16:12", "", "", 2, 1, false},
                      AddressCase{"USIGN16:13", "", "", 2, 1, false},
                      AddressCase{"INT32:14", "", "", 3, 1, false},
                      AddressCase{"USIGN32:15", "", "", 3, 1, false},
                      AddressCase{"FLOAT32:16", "", "", 3, 1, false},
                      AddressCase{"FIXPT16:17", "", "", 3, 1, false},
                      AddressCase{"INT32Q16:18", "", "", 3, 1, false},
                      AddressCase{"STRING:19:0", "", "", 5, 800, false},
                      AddressCase{"FIXPT16:103:0", "", "4", 2, 4, true},
                      AddressCase{"INT16:101:0", "", "4", 2, 4, true},
                      AddressCase{"INT16:12", "", "2", 2, 2, true},
                      AddressCase{"INT16:12", "3", "", 3, 1, true},
                      AddressCase{"INT16:5:-3", "", "", 2, 1, false},
                      AddressCase{"USIGN16:20.3", "", "", 0, 1, false},
                      AddressCase{"USIGN16:20:1.3", "6", "12", 6, 12, false},
                      AddressCase{"WORD:7", "", "", 1, 4, false}));

struct BadAddress
{
    const char *text;
    const char *kind;
    const char *count;
    const char *named;
};

class RejectedAddress : public ::testing::TestWithParam<BadAddress>
{
};

TEST_P(RejectedAddress, IsAUsageErrorThatNamesTheArgument)
{
    const BadAddress c = GetParam();
    RequestAddress address;
    QString error;
    EXPECT_FALSE(RequestAddress::resolve(QString::fromLatin1(c.text), QString::fromLatin1(c.kind),
                                         QString::fromLatin1(c.count), &address, &error));
    EXPECT_NE(error.indexOf(QString::fromLatin1(c.named)), -1) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, RejectedAddress,
    ::testing::Values(BadAddress{"INT16", "", "", "'INT16'"},
                      BadAddress{"INT16:1:2:3:4", "", "", "bad address"},
                      BadAddress{"INT16:70000", "", "", "65535"},
                      BadAddress{"INT16:-5", "", "", "65535"},
                      BadAddress{"INT16:12", "7", "", "--kind '7'"},
                      BadAddress{"INT16:12", "0", "", "bit address"},
                      BadAddress{"USIGN16:20.3", "2", "", "value address"},
                      BadAddress{"INT16:12", "", "0", "--count '0'"},
                      BadAddress{"INT16:12", "", "x", "--count 'x'"},
                      BadAddress{"USIGN16:20.3", "", "256", "255 bits"},
                      BadAddress{"INT16:101:0", "", "128", "256"}, // would wrap to 0 bytes
                      BadAddress{"USIGN8:1100:0", "", "256", "255 bytes"},
                      BadAddress{"INT16:12", "", "99999999999999999999", "--count"}));

TEST(RequestAddress, WritesTakeTheirCountFromTheValue)
{
    RequestAddress address;
    QString error;
    ASSERT_TRUE(RequestAddress::resolve(QStringLiteral("INT16:101:2"), {}, {}, &address, &error));
    ASSERT_TRUE(address.adoptValue(6, 0, &error));
    EXPECT_EQ(address.count, 3u);

    ASSERT_TRUE(RequestAddress::resolve(QStringLiteral("USIGN8:11.0"), {}, {}, &address, &error));
    ASSERT_TRUE(address.adoptValue(1, 3, &error));
    EXPECT_EQ(address.count, 3u);

    ASSERT_TRUE(RequestAddress::resolve(QStringLiteral("USIGN8:11.0"), {}, QStringLiteral("4"),
                                        &address, &error));
    EXPECT_FALSE(address.adoptValue(1, 3, &error));
    EXPECT_NE(error.indexOf(QLatin1String("--count 4")), -1);

    // The driver sends the element count modulo 256: 300 elements would write 44.
    ASSERT_TRUE(RequestAddress::resolve(QStringLiteral("USIGN8:1100:0"), {}, {}, &address, &error));
    EXPECT_FALSE(address.adoptValue(300, 0, &error));
}

TEST(WatchLog, CsvFieldsAreQuotedOnlyWhereAReaderNeedsIt)
{
    struct Case
    {
        const char *text;
        const char *field;
    };
    const Case cases[] = {
        {"-1234", "-1234"},
        {"", ""},
        {"1, -2, 3", "\"1, -2, 3\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {" padded", "\" padded\""},
        {"padded ", "\"padded \""},
        {"read INT16:999> invalid param no.", "read INT16:999> invalid param no."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(WatchLog::csvField(QString::fromLatin1(c.text)).toStdString(), c.field) << c.text;
    EXPECT_EQ(WatchLog::csvSample(QDateTime(QDate(2026, 12, 6), QTime(19, 20, 1, 42), Qt::UTC),
                                  QStringLiteral("INT16:101:0"), QStringLiteral("1, 2"), QString()),
              QStringLiteral("2026-12-06T19:20:01.042Z,INT16:101:0,\"1, 2\","));
}

TEST(WatchTable, AgesReadWellFromTenthsToHours)
{
    struct Case
    {
        qint64 ms;
        const char *text;
    };
    const Case cases[] = {{-1, "-"},           {0, "0.0 s"},         {59949, "59.9 s"},
                          {60000, "1 min 00 s"}, {3599999, "59 min 59 s"}, {3600000, "1 h 00 min"},
                          {7620000, "2 h 07 min"}};
    for (const Case &c : cases)
        EXPECT_EQ(WatchTable::ageText(c.ms).toStdString(), c.text) << c.ms;
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

} // namespace

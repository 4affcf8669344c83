// Typed reads, writes and bit accesses through the scripted link: each case sees the
// telegram that went out and the host bytes that came back.
#include "datatypes.h"
#include "driverlustbusservoccde.h"
#include "scriptedlink.h"

#include <gtest/gtest.h>

namespace {

using Call = ScriptedLink::Call;

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

QByteArray le32(qint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(quint32(value) >> (8 * i));
    return bytes;
}

// The value digits of the first telegram: between "=" and ETX, or the read request.
QByteArray valueDigits(const QByteArray &telegram)
{
    const int equals = telegram.indexOf('=');
    return telegram.mid(equals + 1, telegram.size() - equals - 3);
}

struct SimpleRead
{
    const char *type;
    const char *replyValue;
    QByteArray host; // empty with error: see errorText
    const char *errorText;
};

TEST(TypedRead, SimpleParameterOfEveryType)
{
    const SimpleRead cases[] = {
        {"INT32", "0000ABCD", hex("cdab0000"), nullptr},
        {"USIGN32", "89ABCDEF", hex("efcdab89"), nullptr},
        {"INT16", "1234", hex("3412"), nullptr},
        {"usign16", "1234", hex("3412"), nullptr},
        {"INT8", "80", hex("80"), nullptr},
        {"USIGN8", "7F", hex("7f"), nullptr},
        {"FLOAT32", "3F800000", hex("0000803f"), nullptr},
        {"FIXPT16", "0014", le32(100), nullptr},
        {"FIXPT16", "FFFF", le32(327675), nullptr},
        {"fixpt16", "", le32(0), nullptr},
        {"INT32Q16", "00010000", le32(100), nullptr},
        {"INT32Q16", "FFFF0000", le32(3276800), nullptr}, // the signed read stops at 2^31-1
        {"INT32Q16", "-10000", le32(-99), nullptr},       // -100 + 0.5 truncates to -99
        {"Int32Q16", "", le32(0), nullptr},
        {"INT32Q16", "12G", QByteArray(), "unknown format from servo"},
        {"STRING", "4142", hex("4241"), nullptr}, // hex digits, reversed like any value
        {"WORD", "0102", hex("0201"), nullptr},   // a simple read rejects no name
        {"", "0A0B0C", hex("0c0b0a"), nullptr},
    };
    for (const SimpleRead &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.queueChunk(Reply::value(1, c.replyValue));
        const QByteArray host = driver.readParameter(link, QString::fromLatin1(c.type), 100);
        EXPECT_EQ(host.toHex(), c.host.toHex()) << c.type << " " << c.replyValue;
        EXPECT_EQ(driver.hasError(), c.errorText != nullptr) << c.type;
        if (c.errorText) {
            EXPECT_EQ(driver.errorText(), QString::fromLatin1(c.errorText));
        }
        EXPECT_EQ(link.sent()[0].toHex(), QByteArray("0441323031303005")) << c.type;
    }
}

struct ArrayRead
{
    const char *type;
    quint8 byteCount;
    const char *countDigits; // element count in the "70" telegram; nullptr: a "20" read
    const char *replyValue;
    QByteArray host;
    const char *errorText;
};

TEST(TypedRead, ArrayParameterOfEveryType)
{
    const ArrayRead cases[] = {
        {"INT16", 4, "02", "12345678", hex("34127856"), nullptr},
        {"USIGN16", 3, "02", "12345678", hex("34127856"), nullptr},
        {"INT16", 4, "02", "123456", QByteArray(), "invalid address"},
        {"INT32", 4, "01", "112233445566", QByteArray(), "invalid address"},
        {"USIGN32", 8, "02", "0000000100000002", hex("0100000002000000"), nullptr},
        {"FLOAT32", 5, "02", "3F800000BF800000", hex("0000803f000080bf"), nullptr},
        {"USIGN8", 3, "03", "010203", hex("010203"), nullptr},
        {"INT8", 0, "00", "", QByteArray(), nullptr},
        {"FIXPT16", 4, "02", "00140028", le32(100) + le32(200), nullptr},
        {"FIXPT16", 4, "02", "001400", QByteArray(), "invalid address"},
        {"INT32Q16", 4, "01", "FFFF0001", le32(-99), nullptr}, // -65535 raw
        {"INT32Q16", 8, "02", "0001000000020000", le32(100) + le32(200), nullptr},
        {"INT32Q16", 4, "01", "000100", QByteArray(), "invalid address"},
        {"INT32", 255, "64", "", QByteArray(), nullptr}, // nothing between "=" and ETX
        {"STRING", 10, nullptr, "Hello", QByteArray("Hello"), nullptr},
    };
    for (const ArrayRead &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.queueChunk(Reply::value(1, c.replyValue));
        const QByteArray host =
            driver.readArrayParameter(link, QString::fromLatin1(c.type), 100, 3, c.byteCount);
        EXPECT_EQ(host.toHex(), c.host.toHex()) << c.type << " " << c.replyValue;
        EXPECT_EQ(driver.hasError(), c.errorText != nullptr) << c.type << " " << c.replyValue;
        if (c.errorText) {
            EXPECT_EQ(driver.errorText(), QString::fromLatin1(c.errorText));
        }
        const QByteArray expected = c.countDigits
            ? QByteArray("\x04" "A70100") + "00003" + c.countDigits + "\x05"
            : QByteArray("\x04" "A20100\x05");
        EXPECT_EQ(link.sent()[0], expected) << c.type;
    }
}

TEST(TypedRead, ArrayReadOfAnUnknownNameSendsNothing)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::value(1, "0102"));
    EXPECT_TRUE(driver.readArrayParameter(link, QStringLiteral("WORD"), 1, 0, 2).isEmpty());
    EXPECT_EQ(driver.errorText(), QStringLiteral("internal error"));
    EXPECT_EQ(link.calls.size(), 0);
}

struct Write
{
    const char *type;
    QByteArray host;
    const char *digits;       // value digits in the telegram; nullptr: nothing sent
    const char *countDigits;  // array writes: element count in the telegram
};

TEST(TypedWrite, SimpleParameterOfEveryType)
{
    const Write cases[] = {
        {"INT32", hex("010203"), "00030201", nullptr},
        {"INT16", hex("010203"), "02010003", nullptr},
        {"int16", hex("3412"), "1234", nullptr},
        {"FLOAT32", hex("0000803f"), "3F800000", nullptr},
        {"USIGN8", hex("ab"), "AB", nullptr},
        {"INT8", hex("0102"), "0102", nullptr},
        {"INT16", QByteArray(), "", nullptr},
        {"FIXPT16", le32(100), "0014", nullptr},
        {"FIXPT16", le32(7), "0001", nullptr},
        {"FIXPT16", le32(8), "0002", nullptr},
        {"FIXPT16", le32(-10), "FFFF", nullptr},
        {"FIXPT16", le32(-5), "0000", nullptr},
        {"FIXPT16", le32(327678), "0000", nullptr}, // only the low 16 bits go out
        {"FIXPT16", hex("64"), "0014", nullptr},      // padded to a whole element
        {"INT32Q16", le32(100), "00010000", nullptr},
        {"INT32Q16", le32(1), "0000028F", nullptr},
        {"INT32Q16", le32(-100), "FFFF0001", nullptr},
        {"INT32Q16", le32(3276799), "7FFFFD71", nullptr},
        {"INT32Q16", le32(-3276800), "80000001", nullptr},
        {"INT32Q16", le32(3276800), "80000000", nullptr},
        {"INT32Q16", le32(-3276801), "80000000", nullptr},
        {"INT32Q16", le32(2147483647), "80000000", nullptr},
        {"STRING", QByteArray("AB"), nullptr, nullptr},
        {"WORD", hex("01"), nullptr, nullptr},
    };
    for (const Write &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.queueChunk(Reply::ack(1));
        const bool acknowledged =
            driver.writeParameter(link, QString::fromLatin1(c.type), 100, c.host);
        if (!c.digits) {
            EXPECT_FALSE(acknowledged) << c.type;
            EXPECT_EQ(driver.errorText(), QStringLiteral("internal error"));
            EXPECT_EQ(link.calls.size(), 0) << c.type;
            continue;
        }
        EXPECT_TRUE(acknowledged) << c.type;
        ASSERT_FALSE(link.sent().isEmpty());
        const QByteArray telegram = link.sent()[0];
        EXPECT_TRUE(telegram.startsWith("\x04" "A\x02" "20100=")) << c.type;
        EXPECT_EQ(valueDigits(telegram), QByteArray(c.digits)) << c.type << " " << c.host.toHex().constData();
    }
}

TEST(TypedWrite, ArrayParameterOfEveryType)
{
    const Write cases[] = {
        {"INT16", hex("010203"), "02010003", "02"},
        {"USIGN32", hex("01000000"), "00000001", "01"},
        {"FIXPT16", le32(100), "0014", "01"},
        {"FIXPT16", le32(100) + le32(200), "00140028", "02"},
        {"INT32Q16", le32(100), "00010000", "01"},
        {"USIGN8", hex("0102"), "0102", "02"},
        {"INT16", QByteArray(), "", "00"},
        {"usign8", QByteArray(300, '\x5A'), nullptr, "44"}, // 300 modulo 256
    };
    for (const Write &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.queueChunk(Reply::ack(1));
        EXPECT_TRUE(driver.writeArrayParameter(link, QString::fromLatin1(c.type), 100, 3, c.host))
            << c.type;
        const QByteArray telegram = link.sent()[0];
        EXPECT_TRUE(telegram.startsWith(QByteArray("\x04" "A\x02" "7010000003") + c.countDigits
                                        + "="))
            << c.type << " " << telegram.left(20).constData();
        if (c.digits) {
            EXPECT_EQ(valueDigits(telegram), QByteArray(c.digits)) << c.type;
        } else {
            EXPECT_EQ(valueDigits(telegram), c.host.toHex().toUpper()) << c.type;
        }
    }
}

TEST(TypedWrite, TextGoesOnlyThroughAnElementIndex)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(driver.writeArrayParameter(link, QStringLiteral("string"), 7, 42, "AB"));
    EXPECT_EQ(link.sent()[0].toHex(), QByteArray("04410232303030373d4142000308"));

    EXPECT_FALSE(driver.writeArrayParameter(link, QStringLiteral("WORD"), 7, 0, "AB"));
    EXPECT_EQ(driver.errorText(), QStringLiteral("internal write error"));
    EXPECT_EQ(link.sent().size(), 2); // the text telegram and its EOT only
}

TEST(TypedWrite, FailedExchangeReturnsFalseWithItsError)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::nak(1));
    EXPECT_FALSE(driver.writeParameter(link, QStringLiteral("INT16"), 1, hex("0100")));
    EXPECT_EQ(driver.errorText(), QStringLiteral("invalid param no."));
}

struct BitRead
{
    const char *type;
    bool array;
    const char *replyValue;
    quint8 start;
    quint8 bits;
    const char *countDigits; // array reads
    QByteArray result;
    const char *errorText;
};

TEST(BitAccess, Reads)
{
    const BitRead cases[] = {
        {"USIGN16", false, "ABCD", 4, 8, nullptr, hex("bc"), nullptr},
        {"USIGN8", false, "FF", 3, 3, nullptr, hex("07"), nullptr},
        {"INT32", false, "00000600", 9, 2, nullptr, hex("03"), nullptr},
        {"USIGN32", false, "80000001", 0, 32, nullptr, hex("01000080"), nullptr},
        {"USIGN32", false, "80000001", 31, 1, nullptr, hex("01"), nullptr},
        {"USIGN16", false, "ABCD", 12, 8, nullptr, QByteArray(), "invalid address"},
        {"USIGN16", false, "ABCD", 5, 0, nullptr, QByteArray(), nullptr},
        {"USIGN16", false, "", 0, 1, nullptr, QByteArray(), nullptr},
        {"USIGN16", true, "12345678", 4, 8, "01", hex("23"), nullptr},
        {"USIGN16", true, "12345678", 12, 8, "02", hex("81"), nullptr},
        {"USIGN16", true, "1234", 12, 8, "02", QByteArray(), "invalid address"},
        {"FIXPT16", true, "0014", 0, 8, "01", hex("64"), nullptr},
    };
    for (const BitRead &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.queueChunk(Reply::value(1, c.replyValue));
        const QString type = QString::fromLatin1(c.type);
        const QByteArray result = c.array
            ? driver.readArrayParameterBits(link, type, 20, 1, c.start, c.bits)
            : driver.readParameterBits(link, type, 20, c.start, c.bits);
        EXPECT_EQ(result.toHex(), c.result.toHex()) << c.replyValue << " " << int(c.start);
        EXPECT_EQ(driver.hasError(), c.errorText != nullptr) << c.replyValue;
        if (c.errorText) {
            EXPECT_EQ(driver.errorText(), QString::fromLatin1(c.errorText));
        }
        if (c.array) {
            EXPECT_EQ(link.sent()[0].mid(12, 2), QByteArray(c.countDigits));
        }
    }
}

TEST(BitAccess, WriteIsReadModifyWrite)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::value(1, "00"));
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(driver.writeParameterBits(link, QStringLiteral("USIGN8"), 20, 3, hex("01"), 1));
    const QList<QByteArray> sent = link.sent();
    ASSERT_EQ(sent.size(), 4); // read, EOT, write, EOT
    EXPECT_EQ(sent[0], QByteArray("\x04" "A20020\x05"));
    EXPECT_TRUE(sent[2].startsWith("\x04" "A\x02" "20020=08\x03"));
}

TEST(BitAccess, WriteKeepsTheOtherBits)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::value(1, "F00F"));
    link.queueChunk(Reply::ack(1));
    // Bits 6 to 9 of 0xF00F become 1010 (from the bit string 0x05 = 0101, lowest first).
    EXPECT_TRUE(driver.writeParameterBits(link, QStringLiteral("USIGN16"), 20, 6, hex("05"), 4));
    EXPECT_EQ(valueDigits(link.sent()[2]), QByteArray("F14F"));
}

TEST(BitAccess, FailedReadSendsNoWrite)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link; // nothing answers
    EXPECT_FALSE(driver.writeParameterBits(link, QStringLiteral("USIGN8"), 20, 3, hex("01"), 1));
    EXPECT_EQ(driver.errorText(), QStringLiteral("no response"));
    EXPECT_EQ(link.sent().size(), 1);
}

TEST(BitAccess, EmptyValueEndsTheWriteWithoutError)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::value(1, ""));
    EXPECT_FALSE(driver.writeParameterBits(link, QStringLiteral("USIGN8"), 20, 0, hex("01"), 1));
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(link.sent().size(), 2); // the read and its EOT
}

TEST(BitAccess, BitsPastTheValueAreRefused)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::value(1, "00"));
    EXPECT_FALSE(driver.writeParameterBits(link, QStringLiteral("USIGN8"), 20, 7, hex("03"), 2));
    EXPECT_EQ(driver.errorText(), QStringLiteral("invalid writing address"));
    EXPECT_EQ(link.sent().size(), 2);
}

TEST(BitAccess, ArrayWriteWritesBackEveryElementRead)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::value(1, "000000000000"));
    link.queueChunk(Reply::ack(1));
    // Bits 0 to 39 lie in the first 5 bytes: 3 USIGN16 elements are read.
    EXPECT_TRUE(driver.writeArrayParameterBits(link, QStringLiteral("USIGN16"), 20, 1, 0,
                                               hex("ff00000001"), 40));
    const QList<QByteArray> sent = link.sent();
    ASSERT_EQ(sent.size(), 4);
    EXPECT_EQ(sent[0], QByteArray("\x04" "A70020" "00001" "03" "\x05"));
    EXPECT_TRUE(sent[2].startsWith("\x04" "A\x02" "70020" "00001" "03="));
    EXPECT_EQ(valueDigits(sent[2]), QByteArray("00FF00000001"));
}

TEST(BitAccess, FixedPointBitWriteRescalesTheWholeValue)
{
    DriverLustBusServoCCDE driver;
    ScriptedLink link;
    link.queueChunk(Reply::value(1, "00010000")); // 1.00, host 100 = 0x64
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(driver.writeParameterBits(link, QStringLiteral("INT32Q16"), 20, 0, hex("01"), 1));
    // Host 101 goes back as trunc(101 * 655.36 + 0.5) = 66191.
    EXPECT_EQ(valueDigits(link.sent()[2]), QByteArray("0001028F"));
}

} // namespace

// Typed reads, writes and bit accesses through the scripted link: each case sees the
// telegram that went out and the host bytes that came back.
#include "datatypes.h"
#include "parameteraccess.h"
#include "scriptedlink.h"

#include <QtCore/QtEndian>

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

// The typed access with the transactions and the error state it reports to, as the
// driver holds them.
struct Access
{
    LustBus::ErrorState errors;
    LustBus::Transactions transactions{errors};
    LustBus::ParameterAccess typed{transactions, errors};

    QString errorText() const { return errors.text; }
};

// Names as an address text gives them, in any case; others are Unknown.
LustBus::DataType typeNamed(const char *name) { return LustBus::dataTypeFromName(QString::fromLatin1(name)); }

QByteArray le32(qint32 value)
{
    const qint32 le = qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&le), 4);
}

// The value digits of a write telegram: between "=" and ETX BCC.
QByteArray valueDigits(const QByteArray &telegram) { return telegram.mid(telegram.indexOf('=') + 1).chopped(2); }

// The plain values of each type, simply and by element, are read and written end to end
// against the simulator (test_cli, test_soak), FIXPT16 elements and rounding among them;
// these are the edges: signs, rounding, overflow, odd sizes.
TEST(TypedRead, EdgesOfEachType)
{
    // byteCount of element reads; countDigits: the count in the "70" telegram, nullptr
    // for a "20" read; errorText nullptr: no error.
    const struct { const char *type; bool element; quint8 byteCount; const char *countDigits;
                   const char *replyValue; QByteArray host; const char *errorText; } cases[] = {
        {"WORD", false, 0, nullptr, "0102", hex("0201"), nullptr}, // a simple read rejects no name
        {"fixpt16", false, 0, nullptr, "FFFF", le32(327675), nullptr}, // names ignore case
        {"INT32Q16", false, 0, nullptr, "-10000", le32(-99), nullptr}, // -100 + 0.5, truncated
        {"INT32Q16", false, 0, nullptr, "12G", QByteArray(), "unknown format from servo"},
        {"USIGN16", true, 3, "02", "12345678", hex("34127856"), nullptr},
        {"INT16", true, 4, "02", "123456", QByteArray(), "invalid address"},
        {"INT32", true, 4, "01", "112233445566", QByteArray(), "invalid address"},
        {"FLOAT32", true, 5, "02", "3F800000BF800000", hex("0000803f000080bf"), nullptr},
        {"FIXPT16", true, 4, "02", "001400", QByteArray(), "invalid address"},
        {"INT32Q16", true, 4, "01", "000100", QByteArray(), "invalid address"},
        {"INT32", true, 255, "64", "", QByteArray(), nullptr}, // nothing between "=" and ETX
        {"STRING", true, 10, nullptr, "Hello", QByteArray("Hello"), nullptr},
        {"WORD", true, 2, "", "0102", QByteArray(), "internal error"}, // "": nothing sent
    };
    for (const auto &c : cases) {
        Access access;
        ScriptedLink link;
        link.queueChunk(Reply::value(1, c.replyValue));
        const LustBus::DataType type = typeNamed(c.type);
        const QByteArray host = c.element
            ? access.typed.readArrayParameter(link, type, 100, 3, c.byteCount)
            : access.typed.readParameter(link, type, 100);
        EXPECT_EQ(host.toHex(), c.host.toHex()) << c.type << " " << c.replyValue;
        EXPECT_EQ(access.errorText(), QString::fromLatin1(c.errorText)) << c.type;
        EXPECT_EQ(link.sent().value(0),
                  !c.countDigits   ? QByteArray("\x04" "A20100\x05")
                  : *c.countDigits ? QByteArray("\x04" "A70100" "00003") + c.countDigits + "\x05"
                                   : QByteArray()) << c.type;
    }
}

TEST(TypedWrite, EdgesOfEachType)
{
    // Every host byte is sent, padded to whole elements; FIXPT16 sends twentieths
    // (rounded: add 0.5, cut toward zero) in 16 bits, INT32Q16 a 16.16 value or
    // 0x80000000 when it does not fit. An element write counts the converted
    // elements, modulo 256.
    const QByteArray many(300, '\x5A');
    // digits: the value in the telegram; countDigits: the count of an element write,
    // nullptr for a simple one.
    const struct { const char *type; QByteArray host, digits; const char *countDigits; } cases[] = {
        {"INT32", hex("010203"), "00030201", nullptr},
        {"INT8", hex("0102"), "0102", nullptr},
        {"FIXPT16", le32(8), "0002", nullptr},
        {"FIXPT16", le32(-10), "FFFF", nullptr},
        {"FIXPT16", le32(-5), "0000", nullptr},
        {"FIXPT16", le32(327678), "0000", nullptr}, // only the low 16 bits go out
        {"FIXPT16", hex("64"), "0014", nullptr},
        {"INT32Q16", le32(1), "0000028F", nullptr},
        {"INT32Q16", le32(-100), "FFFF0001", nullptr},
        {"INT32Q16", le32(3276799), "7FFFFD71", nullptr},
        {"INT32Q16", le32(-3276800), "80000001", nullptr},
        {"INT32Q16", le32(3276800), "80000000", nullptr},
        {"INT32Q16", le32(-3276801), "80000000", nullptr},
        {"INT16", hex("010203"), "02010003", "02"},
        {"FIXPT16", le32(100) + le32(200), "00140028", "02"},
        {"INT16", QByteArray(), "", "00"},
        {"usign8", many, many.toHex().toUpper(), "44"},
    };
    for (const auto &c : cases) {
        Access access;
        ScriptedLink link;
        link.queueChunk(Reply::ack(1));
        const LustBus::DataType type = typeNamed(c.type);
        EXPECT_TRUE(c.countDigits ? access.typed.writeArrayParameter(link, type, 100, 3, c.host)
                                  : access.typed.writeParameter(link, type, 100, c.host))
            << c.type << " " << access.errorText().toStdString();
        ASSERT_FALSE(link.sent().isEmpty());
        const QByteArray telegram = link.sent()[0];
        const QByteArray head = c.countDigits
            ? QByteArray("\x04" "A\x02" "7010000003") + c.countDigits + "="
            : QByteArray("\x04" "A\x02" "20100=");
        EXPECT_TRUE(telegram.startsWith(head)) << c.type << " " << telegram.left(20).constData();
        EXPECT_EQ(valueDigits(telegram), c.digits) << c.type << " " << c.host.toHex().constData();
    }
}

TEST(TypedWrite, TextGoesOnlyThroughAnElementIndex)
{
    Access access;
    ScriptedLink link;
    // A simple text write is refused: RequestCycle.WritesThroughEachAddressFormOrRefuseIt.
    // Only the text up to the first zero byte goes out.
    link.queueChunk(Reply::ack(1));
    EXPECT_TRUE(access.typed.writeArrayParameter(link, typeNamed("string"), 7, 42,
                                                 QByteArray("AB\0CD", 5)));
    EXPECT_EQ(link.sent()[0].toHex(), QByteArray("04410232303030373d4142000308"));

    EXPECT_FALSE(access.typed.writeArrayParameter(link, typeNamed("WORD"), 7, 0, "AB"));
    EXPECT_EQ(access.errorText(), QStringLiteral("internal write error"));
    EXPECT_EQ(link.sent().size(), 2); // the text telegram and its EOT only
}

TEST(BitAccess, Reads)
{
    // countDigits: the count of an element read's "70" telegram; nullptr for a simple read.
    const struct { const char *type, *countDigits, *replyValue; quint8 start, bits;
                   QByteArray result; const char *errorText; } cases[] = {
        {"USIGN32", nullptr, "80000001", 31, 1, hex("01"), nullptr},
        {"USIGN16", nullptr, "ABCD", 12, 8, QByteArray(), "invalid address"},
        {"USIGN16", nullptr, "ABCD", 5, 0, QByteArray(), nullptr},
        {"USIGN16", nullptr, "", 0, 1, QByteArray(), nullptr},
        {"USIGN16", "02", "12345678", 12, 8, hex("81"), nullptr}, // across two elements
        {"USIGN16", "02", "1234", 12, 8, QByteArray(), "invalid address"},
        {"FIXPT16", "01", "0014", 0, 8, hex("64"), nullptr}, // the scaled value's bits
    };
    for (const auto &c : cases) {
        Access access;
        ScriptedLink link;
        link.queueChunk(Reply::value(1, c.replyValue));
        const LustBus::DataType type = typeNamed(c.type);
        const QByteArray result = c.countDigits
            ? access.typed.readArrayParameterBits(link, type, 20, 1, c.start, c.bits)
            : access.typed.readParameterBits(link, type, 20, c.start, c.bits);
        EXPECT_EQ(result.toHex(), c.result.toHex()) << c.replyValue << " " << int(c.start);
        EXPECT_EQ(access.errorText(), QString::fromLatin1(c.errorText)) << c.replyValue;
        EXPECT_EQ(link.sent()[0].mid(2, 2), QByteArray(c.countDigits ? "70" : "20"));
        if (c.countDigits) {
            EXPECT_EQ(link.sent()[0].mid(12, 2), QByteArray(c.countDigits));
        }
    }
}

TEST(BitAccess, WritesReadModifyAndWriteBackTheWholeValue)
{
    // index -1: a simple parameter; request: the read's, between station and ENQ;
    // replyValue nullptr: nothing answers the read; written: the value digits written
    // back, nullptr for no write.
    const struct { const char *type; int index; const char *request, *replyValue; quint8 start;
                   QByteArray bits; qint32 count; const char *written, *errorText; } cases[] = {
        // Bits 6 to 9 of F00F become 1010 (from the bit string 0x05 = 0101, lowest first).
        {"USIGN16", -1, "20020", "F00F", 6, hex("05"), 4, "F14F", nullptr},
        // Bits 0 to 39 lie in the first 5 bytes: all 3 USIGN16 elements read go back.
        {"USIGN16", 1, "70020" "00001" "03", "000000000000", 0, hex("ff00000001"), 40,
         "00FF00000001", nullptr},
        // Host 101 goes back as trunc(101 * 655.36 + 0.5) = 66191.
        {"INT32Q16", -1, "20020", "00010000", 0, hex("01"), 1, "0001028F", nullptr},
        {"USIGN8", -1, "20020", nullptr, 3, hex("01"), 1, nullptr, "no response"},
        {"USIGN8", -1, "20020", "", 0, hex("01"), 1, nullptr, nullptr}, // nothing to change
        {"USIGN8", -1, "20020", "00", 7, hex("03"), 2, nullptr, "invalid writing address"},
    };
    for (const auto &c : cases) {
        Access access;
        ScriptedLink link;
        if (c.replyValue) {
            link.queueChunk(Reply::value(1, c.replyValue));
            link.queueChunk(Reply::ack(1));
        }
        const LustBus::DataType type = typeNamed(c.type);
        const bool written = c.index < 0
            ? access.typed.writeParameterBits(link, type, 20, c.start, c.bits, c.count)
            : access.typed.writeArrayParameterBits(link, type, 20, quint16(c.index), c.start,
                                                   c.bits, c.count);
        EXPECT_EQ(written, c.written != nullptr) << c.replyValue;
        EXPECT_EQ(access.errorText(), QString::fromLatin1(c.errorText)) << c.replyValue;
        const QList<QByteArray> sent = link.sent();
        ASSERT_EQ(sent.size(), c.written ? 4 : c.replyValue ? 2 : 1); // read, EOT, write, EOT
        EXPECT_EQ(sent[0], QByteArray("\x04" "A") + c.request + '\x05');
        if (c.written) {
            EXPECT_TRUE(sent[2].startsWith(QByteArray("\x04" "A\x02") + c.request + '='));
            EXPECT_EQ(valueDigits(sent[2]), QByteArray(c.written)) << c.replyValue;
        }
    }
}

} // namespace

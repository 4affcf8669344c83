// Address texts, address sizes and the request cycle's use of the virtual hasError.
#include "addresstext.h"
#include "driverlustbusservoccde.h"
#include "scriptedlink.h"
#include "tools/addresses.h"

#include <gtest/gtest.h>

namespace {

using LustBus::ParameterAddress;

TEST(AddressText, ValueForm)
{
    const struct
    {
        const char *text;
        bool valid;
        const char *type;
        int parameter, index;
    } cases[] = {
        {"INT16:100", true, "INT16", 100, -1},
        {"INT16:100:3", true, "INT16", 100, 3},
        {"INT16:100:3:7", true, "INT16", 100, 3},
        {"int16: +100 :-3", true, "int16", 100, -3},
        {":100", true, "", 100, -1},
        {"INT16:2147483647", true, "INT16", 2147483647, -1},
        {"INT16:2147483648", false, "", 0, 0},
        {"INT16:100:3:x", false, "", 0, 0},
        {"INT16:100:3:", false, "", 0, 0},
        {"INT16", false, "", 0, 0},
        {"", false, "", 0, 0},
        {"INT16:1:2:3:4", false, "", 0, 0},
        {"INT16:0x10", false, "", 0, 0},
        {"INT16:1 0", false, "", 0, 0},
    };
    for (const auto &c : cases) {
        ParameterAddress a;
        ASSERT_EQ(LustBus::parseParameterAddress(QString::fromLatin1(c.text), a), c.valid)
            << c.text;
        if (!c.valid)
            continue;
        EXPECT_EQ(a.type, QString::fromLatin1(c.type)) << c.text;
        EXPECT_EQ(a.parameter, c.parameter) << c.text;
        EXPECT_EQ(a.index, c.index) << c.text;
    }
}

TEST(AddressText, BitForm)
{
    const struct
    {
        const char *text;
        bool valid;
        int parameter, index, bit;
    } cases[] = {
        {"USIGN16:20.3", true, 20, -1, 3},
        {"USIGN16:20.3abc", true, 20, -1, 3},
        {"USIGN16: 20.+3", true, 20, -1, 3},
        {"USIGN16:20. -3", true, 20, -1, -3},
        {"USIGN16:20:1.3", true, 20, 1, 3},
        {"USIGN16:20:1.-2", true, 20, 1, -2},
        {"USIGN16:20:-1.2", true, 20, -1, 2},
        {"USIGN16:4294967297.1", true, 1, -1, 1}, // low 32 bits, as the C library keeps
        {"USIGN16:20", false, 0, 0, 0},
        {"USIGN16:20.", false, 0, 0, 0},
        {"USIGN16:.3", false, 0, 0, 0},
        {"USIGN16:20 .3", false, 0, 0, 0},
        {"USIGN16:20:1", false, 0, 0, 0},
        {"USIGN16:x:1.2", false, 0, 0, 0},
        {"USIGN16", false, 0, 0, 0},
        {"USIGN16:1:2:3.4", false, 0, 0, 0},
    };
    for (const auto &c : cases) {
        ParameterAddress a;
        ASSERT_EQ(LustBus::parseBitAddress(QString::fromLatin1(c.text), a), c.valid) << c.text;
        if (!c.valid)
            continue;
        EXPECT_EQ(a.type, QStringLiteral("USIGN16"));
        EXPECT_EQ(a.parameter, c.parameter) << c.text;
        EXPECT_EQ(a.index, c.index) << c.text;
        EXPECT_EQ(a.bit, c.bit) << c.text;
    }
}

DataAddress address(qint32 kind, quint64 count)
{
    DataAddress a;
    a.kind = kind;
    a.count = count;
    return a;
}

TEST(AddressSize, ByKind)
{
    const struct
    {
        qint32 kind;
        quint64 count;
        qint32 bytes;
        quint64 hostByteSize;
    } cases[] = {
        {0, 0, 0, 1},   {0, 1, 1, 1},   {0, 9, 2, 2},   {6, 9, 2, 1},     {1, 5, 5, 5},
        {5, 5, 5, 5},   {2, 3, 6, 6},   {3, 3, 12, 12}, {4, 3, 24, 24},   {7, 3, 0, 1},
        {-1, 3, 0, 1},  {2, 128, 256, 256},
        {3, 0x40000000ull, 0, 0x100000000ull},                // wraps to 0
        {1, 0x80000000ull, qint32(0x80000000u), 0x80000000ull}, // wraps below 0
    };
    for (const auto &c : cases) {
        const DataAddress a = address(c.kind, c.count);
        EXPECT_EQ(addressByteCount(a), c.bytes) << c.kind << " " << c.count;
        EXPECT_EQ(a.byteSize(), c.hostByteSize) << c.kind << " " << c.count;
    }
}

TEST(AddressSize, FitCutsAndPads)
{
    const QByteArray bytes = QByteArray::fromHex("01020304");
    EXPECT_EQ(fitToAddressSize(address(2, 1), bytes).toHex(), QByteArray("0102"));
    EXPECT_EQ(fitToAddressSize(address(3, 1), bytes).toHex(), QByteArray("01020304"));
    EXPECT_EQ(fitToAddressSize(address(4, 1), bytes).toHex(), QByteArray("0102030400000000"));
    EXPECT_TRUE(fitToAddressSize(address(9, 1), bytes).isEmpty());
    EXPECT_TRUE(fitToAddressSize(address(1, 0x80000000ull), bytes).isEmpty());
}

TEST(AddressKinds, Tests)
{
    for (qint32 kind = -1; kind <= 7; ++kind) {
        const DataAddress a = address(kind, 1);
        EXPECT_EQ(IsBitAddress(a), kind == 0);
        EXPECT_EQ(IsByteAddress(a), kind == 1);
        EXPECT_EQ(IsWordAddress(a), kind == 2);
        EXPECT_EQ(IsDWordAddress(a), kind == 3);
        EXPECT_EQ(IsStringAddress(a), kind == 5);
    }
}

// A host's subclass that overrides hasError decides the retries.
class AlwaysFailing : public DriverLustBusServoCCDE
{
public:
    bool hasError() const override { return true; }
};

TEST(RequestCycle, RetriesFollowTheVirtualHasError)
{
    AlwaysFailing driver;
    ScriptedLink link;
    link.retries = 2;
    link.answerEachRequestWith(Reply::value(1, "01"));
    DataAddress a = address(1, 1);
    a.text = QStringLiteral("USIGN8:1");
    EXPECT_EQ(driver.read(link, a).toHex(), QByteArray("01"));
    EXPECT_EQ(link.count(ScriptedLink::Call::DelayMs), 3);
    // No real failure, so the text is marked from an empty message.
    EXPECT_EQ(driver.errorText(), QStringLiteral("read USIGN8:1> "));
}

} // namespace

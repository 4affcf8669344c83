// Address texts, address sizes and the request cycle's use of the virtual hasError.
#include "addresstext.h"
#include "driverlustbusservoccde.h"
#include "hostaddress.h"
#include "scriptedlink.h"
#include "tools/addresses.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <tuple>

namespace {

using LustBus::ParameterAddress;

// type: the table's name; "" for a name outside it.
struct Decoded { const char *text, *type; int parameter, index, bit; };

void expectDecoded(bool (*parse)(const QString &, ParameterAddress &),
                   std::initializer_list<Decoded> valid,
                   std::initializer_list<const char *> invalid)
{
    for (const Decoded &c : valid) {
        ParameterAddress a;
        ASSERT_TRUE(parse(QString::fromLatin1(c.text), a)) << c.text;
        EXPECT_EQ(std::make_tuple(std::string(LustBus::dataTypeName(a.type)), a.parameter, a.index, a.bit),
                  std::make_tuple(std::string(c.type), c.parameter, c.index, c.bit)) << c.text;
    }
    ParameterAddress a;
    for (const char *text : invalid)
        EXPECT_FALSE(parse(QString::fromLatin1(text), a)) << text;
}

TEST(AddressText, ValueAndBitForms)
{
    expectDecoded(LustBus::parseParameterAddress, {
        {"INT16:100", "INT16", 100, -1, -1},
        {"INT16:100:3:7", "INT16", 100, 3, -1}, // the fourth field is checked, not used
        {"int16: +100 :-3", "INT16", 100, -3, -1},
        {"WORD:1", "", 1, -1, -1},
        {":100", "", 100, -1, -1},
        {"INT16:2147483647", "INT16", 2147483647, -1, -1},
    }, {"INT16:2147483648", "INT16:99999999999", "INT16:100:3:x", "INT16", "", "INT16:",
        "INT16:1:2:3:4", "INT16:0x10", "INT16:1e2", "INT16:1 0"});
    expectDecoded(LustBus::parseBitAddress, {
        {"USIGN16:20.3abc", "USIGN16", 20, -1, 3},
        {"USIGN16: 20.+3", "USIGN16", 20, -1, 3},
        {"USIGN16:20. -3", "USIGN16", 20, -1, -3},
        {"USIGN16:20:1.-2", "USIGN16", 20, 1, -2},
        {"USIGN16:20:-1.2", "USIGN16", 20, -1, 2},
        {"USIGN16:4294967297.1", "USIGN16", 1, -1, 1}, // low 32 bits, as the C library keeps
    }, {"USIGN16:20", "USIGN16:20.", "USIGN16:.3", "USIGN16:20 .3", "USIGN16:20:1",
        "USIGN16:x:1.2", "USIGN16:1:2:3.4"});
}

TEST(AddressSize, ByKind)
{
    // kind, count, addressByteCount, DataAddress::byteSize
    const struct { qint32 kind; quint64 count; qint32 bytes; quint64 hostByteSize; } cases[] = {
        {0, 0, 0, 1},   {0, 9, 2, 2},   {6, 9, 2, 1},   {1, 5, 5, 5},   {5, 5, 5, 5},
        {2, 3, 6, 6},   {3, 3, 12, 12}, {4, 3, 24, 24}, {7, 3, 0, 1},
        {3, 0x40000000ull, 0, 0x100000000ull}, // wraps to 0; below 0: SimpleReadsAreFittedToTheAddressSize
    };
    for (const auto &c : cases) {
        const DataAddress a = address("", c.kind, c.count);
        EXPECT_EQ(addressByteCount(a), c.bytes) << c.kind << " " << c.count;
        EXPECT_EQ(a.byteSize(), c.hostByteSize) << c.kind << " " << c.count;
    }
}

// The byte size of the tools module is what the driver returns: for the bit kinds the
// bytes of count bits (none for no bits) where the host's byteSize says 1, for the
// value kinds the host's byteSize, to which a simple read is fitted.
TEST(AddressSize, IsWhatAReadReturns)
{
    // kind, count, the servo's value, addressByteCount and size read, DataAddress::byteSize
    const struct { qint32 kind; quint64 count; const char *text; qint32 bytes;
                   quint64 hostByteSize; } cases[] = {
        {6, 0, "USIGN16:20.3", 0, 1}, {0, 0, "USIGN16:20.3", 0, 1},
        {6, 1, "USIGN16:20.3", 1, 1}, {6, 9, "USIGN16:20.3", 2, 1},
        {6, 13, "USIGN16:20.3", 2, 1}, {0, 9, "USIGN16:20.3", 2, 2},
        {1, 1, "USIGN16:20", 1, 1},   {2, 1, "USIGN16:20", 2, 2},
        {3, 1, "USIGN16:20", 4, 4},   {4, 1, "USIGN16:20", 8, 8},
        {5, 3, "USIGN16:20", 3, 3},
    };
    for (const auto &c : cases) {
        DriverLustBusServoCCDE driver;
        ScriptedLink link;
        link.queueChunk(Reply::value(1, "ABCD"));
        const DataAddress a = address(c.text, c.kind, c.count);
        EXPECT_EQ(addressByteCount(a), c.bytes) << c.kind << " " << c.count;
        EXPECT_EQ(driver.read(link, a).size(), c.bytes) << c.kind << " " << c.count;
        EXPECT_FALSE(driver.hasError()) << driver.errorText().toStdString();
        EXPECT_EQ(a.byteSize(), c.hostByteSize) << c.kind << " " << c.count;
    }
}

// A host's subclass that overrides hasError decides the retries.
struct AlwaysFailing : DriverLustBusServoCCDE
{
    bool hasError() const override { return true; }
};

TEST(RequestCycle, RetriesFollowTheVirtualHasError)
{
    AlwaysFailing driver;
    ScriptedLink link;
    link.retries = 2;
    link.answerEachRequestWith(Reply::value(1, "01"));
    EXPECT_EQ(driver.read(link, address("USIGN8:1", 1, 1)).toHex(), QByteArray("01"));
    EXPECT_EQ(link.count(ScriptedLink::Call::DelayMs), 3);
    // No real failure, so the text is marked from an empty message.
    EXPECT_EQ(driver.errorText(), QStringLiteral("read USIGN8:1> "));
}

} // namespace

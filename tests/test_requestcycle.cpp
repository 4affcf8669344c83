// The host's read and write requests end to end through DriverInterface, on a
// driver from the plugin file's CreateDriver: delay, retries, error flag and the
// marked error text, address decoding and the bytes on the wire.
#include "driverinterface.h"
#include "hostaddress.h"
#include "pluginfile.h"
#include "scriptedlink.h"

#include <gtest/gtest.h>

namespace {

using Call = ScriptedLink::Call;

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

class RequestCycle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        driver = PluginFile::createDriver();
        ASSERT_TRUE(driver);
    }

    std::unique_ptr<DriverInterface> driver;
    ScriptedLink link;
};

TEST_F(RequestCycle, WorkedExampleInt16Read)
{
    link.queueChunk(Reply::value(1, "0064"));
    const QByteArray value = driver->read(link, address("INT16:100", 2, 1));
    EXPECT_EQ(value.toHex(), QByteArray("6400"));
    EXPECT_FALSE(driver->hasError());
    ASSERT_EQ(link.sent().size(), 2);
    EXPECT_EQ(link.sent()[0].toHex(' '), QByteArray("04 41 32 30 31 30 30 05"));
    EXPECT_EQ(link.sent()[1].toHex(), QByteArray("04"));
    EXPECT_EQ(link.trace(), QStringLiteral("DCS><S>"));
}

TEST_F(RequestCycle, SimpleReadsAreFittedToTheAddressSize)
{
    const struct
    {
        const char *reply;
        qint32 kind;
        quint64 count;
        const char *host;
    } cases[] = {
        {"00000064", 2, 1, "6400"},      // cut
        {"64", 2, 1, "6400"},            // padded
        {"0064", 3, 2, "6400000000000000"},
        {"0064", 1, 0x100000000ull, ""}, // byte size wraps to 0
        {"0064", 1, 0x80000000ull, ""},  // wraps below 0
        {"0064", 4, 1, "6400000000000000"},
    };
    for (const auto &c : cases) {
        ScriptedLink link;
        link.queueChunk(Reply::value(1, c.reply));
        EXPECT_EQ(driver->read(link, address("INT16:100", c.kind, c.count)).toHex(),
                  QByteArray(c.host))
            << c.reply << " kind " << c.kind;
        EXPECT_FALSE(driver->hasError());
    }
}

TEST_F(RequestCycle, SilentServoIsAskedRetryCountPlusOneTimes)
{
    link.retries = 3;
    EXPECT_TRUE(driver->read(link, address("INT16:1000", 2, 1)).isEmpty());
    EXPECT_TRUE(driver->hasError());
    EXPECT_EQ(driver->errorText(), QStringLiteral("read INT16:1000> no response"));
    EXPECT_EQ(link.count(Call::DelayMs), 4);
    EXPECT_EQ(link.count(Call::RetryCount), 4);
    EXPECT_EQ(link.count(Call::Send), 4);

    ScriptedLink writeLink;
    writeLink.retries = 3;
    EXPECT_EQ(driver->write(writeLink, address("INT16:1000", 2, 1), hex("0100")), 0);
    EXPECT_EQ(driver->errorText(), QStringLiteral("write INT16:1000> no response"));
    EXPECT_EQ(writeLink.count(Call::DelayMs), 4);
    EXPECT_EQ(writeLink.count(Call::Send), 4);
}

TEST_F(RequestCycle, RetryCountZeroOrNegativeMeansOneAttempt)
{
    for (int retries : {0, -1, -100}) {
        ScriptedLink link;
        link.retries = retries;
        driver->read(link, address("INT16:1", 2, 1));
        EXPECT_EQ(link.count(Call::DelayMs), 1) << retries;
        EXPECT_EQ(link.count(Call::Send), 1) << retries;
        EXPECT_TRUE(driver->hasError());
    }
}

TEST_F(RequestCycle, SuccessAfterAFailureKeepsTheUnmarkedMessage)
{
    link.retries = 3;
    link.queueSilence();
    link.queueChunk(Reply::value(1, "0102"));
    EXPECT_EQ(driver->read(link, address("INT16:7", 2, 1)).toHex(), QByteArray("0201"));
    EXPECT_FALSE(driver->hasError());
    EXPECT_EQ(driver->errorText(), QStringLiteral("no response"));
    EXPECT_EQ(link.count(Call::DelayMs), 2);
    EXPECT_EQ(link.count(Call::RetryCount), 1);
}

TEST_F(RequestCycle, FirstAttemptSuccessAsksNoRetryCount)
{
    link.retries = 5;
    link.queueChunk(Reply::ack(1));
    EXPECT_NE(driver->write(link, address("USIGN8:3", 1, 1), hex("07")), 0);
    EXPECT_EQ(link.count(Call::RetryCount), 0);
    EXPECT_EQ(link.count(Call::DelayMs), 1);
}

TEST_F(RequestCycle, KindsOutsideZeroToSix)
{
    for (qint32 kind : {7, -1, 100}) {
        ScriptedLink link;
        link.retries = 2;
        EXPECT_TRUE(driver->read(link, address("INT16:1", kind, 1)).isEmpty());
        EXPECT_FALSE(driver->hasError()) << kind;
        EXPECT_EQ(link.trace(), QStringLiteral("D")) << kind;
    }
    EXPECT_TRUE(driver->errorText().isEmpty());

    link.retries = 2;
    EXPECT_EQ(driver->write(link, address("INT8:5", 7, 1), hex("01")), 0);
    EXPECT_EQ(driver->errorText(), QStringLiteral("write INT8:5> invalid writing address"));
    EXPECT_EQ(link.count(Call::DelayMs), 3);
    EXPECT_EQ(link.count(Call::Send), 0);
}

TEST_F(RequestCycle, EachFailedRequestIsMarkedOnceFromItsFreshMessage)
{
    EXPECT_TRUE(driver->read(link, address("INT16:100", 2, 1)).isEmpty());
    EXPECT_EQ(driver->errorText(), QStringLiteral("read INT16:100> no response"));
    link.queueChunk(Reply::nak(1));
    EXPECT_TRUE(driver->read(link, address("INT16:101", 2, 1)).isEmpty());
    EXPECT_EQ(driver->errorText(), QStringLiteral("read INT16:101> invalid param no."));
    EXPECT_EQ(driver->write(link, address("INT16:102", 2, 1), hex("0100")), 0);
    EXPECT_EQ(driver->errorText(), QStringLiteral("write INT16:102> no response"));
}

TEST_F(RequestCycle, PercentSignsInTheAddressStayAsTheyAre)
{
    EXPECT_TRUE(driver->read(link, address("%1%2:x", 2, 1)).isEmpty());
    EXPECT_EQ(driver->errorText(), QStringLiteral("read %1%2:x> invalid address"));
}

TEST_F(RequestCycle, NegativeDelayDoesNotWait)
{
    link.delay = -1; // as an unsigned sleep this would be 49 days
    link.queueChunk(Reply::value(1, "01"));
    EXPECT_EQ(driver->read(link, address("USIGN8:1", 1, 1)).toHex(), QByteArray("01"));
}

struct AddressCase
{
    const char *text;
    qint32 kind;
    quint64 count;
    const char *telegram; // first telegram sent, or nullptr when nothing is sent
    const char *readError;  // marked text after the read, nullptr for success
};

class AddressForms : public ::testing::TestWithParam<AddressCase>
{
};

TEST_P(AddressForms, DecodeToTheirTelegram)
{
    const AddressCase &c = GetParam();
    auto driver = PluginFile::createDriver();
    ASSERT_TRUE(driver);
    ScriptedLink link;
    link.answerEachRequestWith(Reply::value(1, "00010203"));
    driver->read(link, address(c.text, c.kind, c.count));
    if (c.telegram) {
        ASSERT_FALSE(link.sent().isEmpty()) << c.text;
        EXPECT_EQ(link.sent()[0], QByteArray(c.telegram)) << c.text;
    } else {
        EXPECT_EQ(link.count(Call::Send), 0) << c.text;
    }
    EXPECT_EQ(driver->hasError(), c.readError != nullptr) << c.text;
    if (c.readError) {
        EXPECT_EQ(driver->errorText(), QString::fromLatin1(c.readError));
    }
}

INSTANTIATE_TEST_SUITE_P(
    RequestCycle, AddressForms,
    ::testing::Values(
        AddressCase{"INT16:100", 2, 1, "\x04" "A20100\x05", nullptr},
        AddressCase{" INT16 : 100 ", 2, 1, "\x04" "A20100\x05", nullptr},
        AddressCase{"INT16:100:3", 2, 2, "\x04" "A70100" "00003" "02\x05", nullptr},
        AddressCase{"INT16:100:3", 2, 128, "\x04" "A70100" "00003" "00\x05", nullptr},
        AddressCase{"INT16:100:3:7", 2, 2, "\x04" "A70100" "00003" "02\x05", nullptr},
        AddressCase{"INT16:5:-3", 2, 1, "\x04" "A20005\x05", nullptr},
        AddressCase{":100", 2, 1, "\x04" "A20100\x05", nullptr},
        AddressCase{"INT16:100:3:x", 2, 1, nullptr, "read INT16:100:3:x> invalid address"},
        AddressCase{"INT16", 2, 1, nullptr, "read INT16> invalid address"},
        AddressCase{"INT16:1:2:3:4", 2, 1, nullptr, "read INT16:1:2:3:4> invalid address"},
        AddressCase{"", 2, 1, nullptr, "read > invalid address"},
        AddressCase{"INT16:", 2, 1, nullptr, "read INT16:> invalid address"},
        AddressCase{"INT16:1e2", 2, 1, nullptr, "read INT16:1e2> invalid address"},
        AddressCase{"INT16:99999999999", 2, 1, nullptr, "read INT16:99999999999> invalid address"},
        AddressCase{"INT16:-5", 2, 1, nullptr, "read INT16:-5> internal read error"},
        AddressCase{"INT16:65537", 2, 1, "\x04" "A20001\x05", nullptr}, // low 16 bits
        AddressCase{"USIGN32:20.3", 0, 4, "\x04" "A20020\x05", nullptr},
        AddressCase{"USIGN32:20.3abc", 6, 4, "\x04" "A20020\x05", nullptr},
        AddressCase{"USIGN32:20. 3", 0, 4, "\x04" "A20020\x05", nullptr},
        AddressCase{"USIGN16:20:1.3", 0, 4, "\x04" "A70020" "00001" "01\x05", nullptr},
        AddressCase{"USIGN16:20", 0, 4, nullptr, "read USIGN16:20> invalid address"},
        AddressCase{"USIGN16:20 .3", 0, 4, nullptr, "read USIGN16:20 .3> invalid address"},
        AddressCase{"USIGN16:20:1.-2", 0, 4, nullptr, "read USIGN16:20:1.-2> internal read error"},
        AddressCase{"USIGN16:-20.2", 0, 4, nullptr, "read USIGN16:-20.2> internal read error"},
        AddressCase{"USIGN16:x:1.2", 0, 4, nullptr, "read USIGN16:x:1.2> invalid address"},
        AddressCase{"USIGN16:1:2:3.4", 0, 4, nullptr, "read USIGN16:1:2:3.4> invalid address"}),
    [](const auto &info) { return "Case" + std::to_string(info.index); });

TEST_F(RequestCycle, BitReadsReturnTheBitsFromBitZero)
{
    link.queueChunk(Reply::value(1, "ABCD"));
    EXPECT_EQ(driver->read(link, address("USIGN16:20.4", 0, 8)).toHex(), QByteArray("bc"));
    link.queueChunk(Reply::value(1, "12345678"));
    EXPECT_EQ(driver->read(link, address("USIGN16:20:1.12", 6, 8)).toHex(), QByteArray("81"));
}

TEST_F(RequestCycle, WritesThroughEachAddressForm)
{
    const struct
    {
        const char *text;
        qint32 kind;
        quint64 count;
        QByteArray data;
        const char *telegramStart;
    } cases[] = {
        {"INT16:100", 2, 1, hex("6400"), "\x04" "A\x02" "20100=0064\x03"},
        {"INT16:100:3", 2, 1, hex("6400"), "\x04" "A\x02" "70100" "00003" "01=0064\x03"},
        {"INT16:5:-3", 2, 1, hex("6400"), "\x04" "A\x02" "20005=0064\x03"},
        {"STRING:9:0", 5, 2, QByteArray("hi"), "\x04" "A\x02" "20009=hi"},
    };
    for (const auto &c : cases) {
        ScriptedLink link;
        link.queueChunk(Reply::ack(1));
        EXPECT_EQ(driver->write(link, address(c.text, c.kind, c.count), c.data), 1) << c.text;
        EXPECT_TRUE(link.sent()[0].startsWith(c.telegramStart)) << c.text;
    }
}

TEST_F(RequestCycle, WriteDecodingFailures)
{
    const struct
    {
        const char *text;
        qint32 kind;
        const char *error;
    } cases[] = {
        {"INT16:100:3:x", 2, "write INT16:100:3:x> invalid write address"},
        {"INT16", 1, "write INT16> invalid write address"},
        {"INT16:-5", 2, "write INT16:-5> internal read error"},
        {"USIGN16:20", 0, "write USIGN16:20> invalid writing address"},
        {"USIGN16:20.-1", 0, "write USIGN16:20.-1> internal read error"},
        {"STRING:9", 5, "write STRING:9> internal error"},
    };
    for (const auto &c : cases) {
        ScriptedLink link;
        EXPECT_EQ(driver->write(link, address(c.text, c.kind, 1), hex("0100")), 0);
        EXPECT_EQ(driver->errorText(), QString::fromLatin1(c.error));
        EXPECT_EQ(link.count(Call::Send), 0) << c.text;
    }
}

TEST_F(RequestCycle, BitWriteNeedsTheBytesOfItsBitCount)
{
    link.answerEachRequestWith(Reply::value(1, "0000"));
    EXPECT_EQ(driver->write(link, address("USIGN16:20.0", 0, 12), hex("ff")), 0);
    EXPECT_TRUE(driver->hasError());
    EXPECT_EQ(driver->errorText(),
              QStringLiteral("write USIGN16:20.0> bit data shorter than bit count"));
    EXPECT_EQ(link.count(Call::Send), 0);

    // A count whose low 32 bits are negative needs more than any array holds.
    EXPECT_EQ(driver->write(link, address("USIGN16:20.0", 0, 0xFFFFFFFFull), hex("ff")), 0);
    EXPECT_EQ(link.count(Call::Send), 0);
}

TEST_F(RequestCycle, BitWriteReadsModifiesAndWritesBack)
{
    link.queueChunk(Reply::value(1, "0000"));
    link.queueChunk(Reply::ack(1));
    EXPECT_EQ(driver->write(link, address("USIGN16:20.4", 0, 12), hex("ff0f")), 1);
    ASSERT_EQ(link.sent().size(), 4);
    EXPECT_TRUE(link.sent()[2].startsWith("\x04" "A\x02" "20020=FFF0\x03"));
}

TEST_F(RequestCycle, HostFlagChangesNoRequest)
{
    auto other = PluginFile::createDriver();
    ASSERT_TRUE(other);
    other->setHostFlag(true);
    ScriptedLink plain, flagged;
    for (ScriptedLink *l : {&plain, &flagged}) {
        l->retries = 1;
        l->queueChunk(Reply::value(1, "0102"));
        l->queueChunk(Reply::nak(1));
    }
    const DataAddress a = address("INT16:1", 2, 1);
    EXPECT_EQ(driver->read(plain, a), other->read(flagged, a));
    EXPECT_EQ(driver->read(plain, a), other->read(flagged, a));
    EXPECT_EQ(plain.sentTelegrams(), flagged.sentTelegrams());
    EXPECT_EQ(plain.trace(), flagged.trace());
    EXPECT_EQ(driver->errorText(), other->errorText());
}

} // namespace

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

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

struct RequestCycle : ::testing::Test
{
    void SetUp() override { ASSERT_TRUE(driver); }

    std::unique_ptr<DriverInterface> driver = PluginFile::createDriver();
    ScriptedLink link;
};

TEST_F(RequestCycle, WorkedExampleInt16ReadAndWrite)
{
    link.queueChunk(Reply::value(1, "0064"));
    EXPECT_EQ(driver->read(link, address("INT16:100", 2, 1)).toHex(), QByteArray("6400"));
    EXPECT_FALSE(driver->hasError());
    link.queueChunk(Reply::ack(1));
    EXPECT_EQ(driver->write(link, address("INT16:100", 2, 1), hex("6400")), 1);
    EXPECT_EQ(link.sent(), QList<QByteArray>({hex("0441323031303005"), hex("04"),
                                              hex("04410232303130303d30303634030f"), hex("04")}));
    // Delay, input dropped (control 12 with 0), station, request, a reply into the whole
    // buffer or an acknowledgement of exactly 2 bytes, the station asked afresh for the
    // test, EOT. A first attempt that succeeds asks no retry count.
    EXPECT_EQ(link.trace(), QStringLiteral("DCS><S>" "DCS>=S>"));
    EXPECT_EQ(link.calls[1].code, 12);
    EXPECT_EQ(link.calls[1].value, QVariant(0));
    EXPECT_EQ(link.calls[4].room, 812);
    EXPECT_EQ(link.calls[11].room, 2);
}

TEST_F(RequestCycle, SimpleReadsAreFittedToTheAddressSize)
{
    const struct { const char *reply; qint32 kind; quint64 count; const char *host; } cases[] = {
        {"00000064", 2, 1, "6400"},      // cut
        {"0064", 3, 2, "6400000000000000"},
        {"0064", 1, 0x100000000ull, ""}, // byte size wraps to 0
        {"0064", 1, 0x80000000ull, ""},  // wraps below 0
    };
    for (const auto &c : cases) {
        ScriptedLink link;
        link.delay = -1; // as an unsigned sleep this would be 49 days
        link.queueChunk(Reply::value(1, c.reply));
        EXPECT_EQ(driver->read(link, address("INT16:100", c.kind, c.count)).toHex(),
                  QByteArray(c.host))
            << c.reply << " kind " << c.kind;
        EXPECT_FALSE(driver->hasError());
    }
}

TEST_F(RequestCycle, SilentServoIsAskedRetryCountPlusOneTimes)
{
    // A retry count of zero or below means one attempt. Each failed request is marked
    // once, from its own fresh message.
    for (const auto &[retries, attempts] : {std::pair{3, 4}, {0, 1}, {-1, 1}}) {
        ScriptedLink readLink, writeLink;
        readLink.retries = writeLink.retries = retries;
        EXPECT_TRUE(driver->read(readLink, address("INT16:1000", 2, 1)).isEmpty());
        EXPECT_TRUE(driver->hasError());
        EXPECT_EQ(driver->errorText(), QStringLiteral("read INT16:1000> no response"));
        EXPECT_EQ(driver->write(writeLink, address("INT16:1000", 2, 1), hex("0100")), 0);
        EXPECT_EQ(driver->errorText(), QStringLiteral("write INT16:1000> no response"));
        for (const ScriptedLink *l : {&readLink, &writeLink}) {
            EXPECT_EQ(l->count(Call::DelayMs), attempts) << retries;
            EXPECT_EQ(l->count(Call::RetryCount), attempts) << retries;
            EXPECT_EQ(l->count(Call::Send), attempts) << retries;
        }
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

TEST_F(RequestCycle, KindsOutsideZeroToSix)
{
    link.retries = 2;
    for (qint32 kind : {7, -1}) {
        EXPECT_TRUE(driver->read(link, address("INT16:1", kind, 1)).isEmpty());
        EXPECT_FALSE(driver->hasError()) << kind;
    }
    EXPECT_EQ(link.trace(), QStringLiteral("DD")); // one delay each, nothing else
    EXPECT_TRUE(driver->errorText().isEmpty());

    EXPECT_EQ(driver->write(link, address("INT8:5", 7, 1), hex("01")), 0);
    EXPECT_EQ(driver->errorText(), QStringLiteral("write INT8:5> invalid writing address"));
    EXPECT_EQ(link.count(Call::DelayMs), 2 + 3);
    EXPECT_EQ(link.count(Call::Send), 0);
}

// "read %1> %2": %1 becomes the address text first, then %2 the message, each by its
// own QString::arg; so markers that the address text brings are filled in too.
TEST_F(RequestCycle, TheMarkTakesTheAddressFirstThenTheMessage)
{
    const struct { const char *text, *mark; } cases[] = {
        {"INT16:%2", "read INT16:invalid address> invalid address"},
        {"%1%2:x", "read invalid address%2:x> %2"},
        {"INT16:%", "read INT16:%> invalid address"},
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(driver->read(link, address(c.text, 2, 1)).isEmpty());
        EXPECT_EQ(driver->errorText().toStdString(), c.mark);
    }
}

// telegram: the first one sent, nullptr when nothing is sent; host: hex of the bytes
// read; readError: the marked text after the read, nullptr for success.
TEST_F(RequestCycle, AddressFormsDecodeToTheirTelegram)
{
    const struct { const char *text; qint32 kind; quint64 count; const char *telegram, *host, *readError; }
        cases[] = {
        {"INT16:100", 2, 1, "\x04" "A20100\x05", "3412", nullptr},
        {"INT16:100:3", 2, 2, "\x04" "A70100" "00003" "02\x05", "cdab3412", nullptr},
        // 256 bytes are counted in 8 bits: no element asked for, and what comes is kept.
        {"INT16:100:3", 2, 128, "\x04" "A70100" "00003" "00\x05", "cdab3412", nullptr},
        {"INT16:5:-3", 2, 1, "\x04" "A20005\x05", "3412", nullptr},
        {"INT16:65537", 2, 1, "\x04" "A20001\x05", "3412", nullptr}, // low 16 bits
        {"INT16:100:3:x", 2, 1, nullptr, "", "read INT16:100:3:x> invalid address"},
        {"", 2, 1, nullptr, "", "read > invalid address"},
        {"INT16:-5", 2, 1, nullptr, "", "read INT16:-5> internal read error"},
        // Bits 3 to 6 of the value's first host byte 0x34, and of the element's 0xCD.
        {"USIGN32:20.3abc", 6, 4, "\x04" "A20020\x05", "06", nullptr},
        {"USIGN16:20:1.3", 0, 4, "\x04" "A70020" "00001" "01\x05", "09", nullptr},
        {"USIGN16:20", 0, 4, nullptr, "", "read USIGN16:20> invalid address"},
        {"USIGN16:20:1.-2", 0, 4, nullptr, "", "read USIGN16:20:1.-2> internal read error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const auto driver = PluginFile::createDriver(); // no text of the case before
        driver->setHostFlag(true); // the host's own flag changes no request
        ScriptedLink link;
        // INT16 elements CDAB 3412; a simple value 3412CDAB (host bytes, low first).
        link.answerEachRequestWith(Reply::value(1, "ABCD1234"));
        EXPECT_EQ(driver->read(link, address(c.text, c.kind, c.count)).toHex(), QByteArray(c.host));
        EXPECT_EQ(link.sent().value(0), QByteArray(c.telegram)); // none: nothing sent
        EXPECT_EQ(driver->errorText(), QString::fromLatin1(c.readError));
    }
}

// outcome: the start of the telegram sent, or the marked error with nothing sent.
TEST_F(RequestCycle, WritesThroughEachAddressFormOrRefuseIt)
{
    const struct { const char *text; qint32 kind; QByteArray data; const char *outcome; } cases[] = {
        {"INT16:100:3", 2, hex("6400"), "\x04" "A\x02" "70100" "00003" "01=0064\x03"},
        {"INT16:5:-3", 2, hex("6400"), "\x04" "A\x02" "20005=0064\x03"},
        {"STRING:9:0", 5, QByteArray("hi"), "\x04" "A\x02" "20009=hi"},
        {"INT16:100:3:x", 2, hex("0100"), "write INT16:100:3:x> invalid write address"},
        {"INT16:-5", 2, hex("0100"), "write INT16:-5> internal read error"},
        {"USIGN16:20", 0, hex("0100"), "write USIGN16:20> invalid writing address"},
        {"USIGN16:20.-1", 0, hex("0100"), "write USIGN16:20.-1> internal read error"},
        {"STRING:9", 5, hex("0100"), "write STRING:9> internal error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ScriptedLink link;
        link.queueChunk(Reply::ack(1));
        const bool sent = *c.outcome == '\x04';
        EXPECT_EQ(driver->write(link, address(c.text, c.kind, 1), c.data), sent ? 1 : 0);
        EXPECT_EQ(driver->errorText().toStdString(), sent ? "" : c.outcome);
        EXPECT_TRUE(sent ? link.sent().value(0).startsWith(c.outcome) : link.sent().isEmpty());
    }
}

TEST_F(RequestCycle, BitWriteNeedsTheBytesOfItsBitCount)
{
    link.answerEachRequestWith(Reply::value(1, "0000"));
    EXPECT_EQ(driver->write(link, address("USIGN16:20.0", 0, 12), hex("ff")), 0);
    EXPECT_TRUE(driver->hasError());
    EXPECT_EQ(driver->errorText(),
              QStringLiteral("write USIGN16:20.0> bit data shorter than bit count"));
    // A count whose low 32 bits are negative needs more than any array holds.
    EXPECT_EQ(driver->write(link, address("USIGN16:20.0", 0, 0xFFFFFFFFull), hex("ff")), 0);
    EXPECT_EQ(link.count(Call::Send), 0);
}

} // namespace

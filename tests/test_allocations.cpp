// Formatting, the reply tests and the send and receive steps work in the driver's
// fixed buffers: none of them may touch the heap.
#include "allocationcounter.h"
#include "driverlustbusservoccde.h"
#include "telegrams.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Answers every request with a fixed reply, without allocating.
class FixedReplyLink : public LinkDevice
{
public:
    explicit FixedReplyLink(const char *reply, int size) : m_reply(reply), m_size(size) {}

    int receiveExact(char *data, int count) override { return receive(data, count); }
    int receive(char *data, int room) override
    {
        const int n = m_size < room ? m_size : room;
        std::memcpy(data, m_reply, size_t(n));
        return n;
    }
    int send(const char *, int count) override { return count; }
    QVariant control(int, const QVariant &) override { return QVariant(); }
    int retryCount() const override { return 0; }
    int stationId() const override { return 1; }
    int delayMs() const override { return 0; }

private:
    const char *m_reply;
    int m_size;
};

TEST(Allocations, FormattingReplyTestsAndSendAndReceiveStepsUseNoHeap)
{
    static const char value[] = {0x12, 0x34, 0x56, 0x78};
    static const char reply[] = {0x41, 0x02, 0x3d, 0x31, 0x46, 0x03, 0x49};
    static const char ack[] = {0x41, 0x06};
    char buffer[LustBus::BufferSize];
    DriverLustBusServoCCDE driver;
    FixedReplyLink readLink(reply, sizeof reply);
    FixedReplyLink writeLink(ack, sizeof ack);
    LustBus::Request read;
    read.parameter = 45;
    LustBus::Request write;
    write.kind = LustBus::Request::WriteParameter;
    write.parameter = 45;

    const long before = AllocationCounter::count();
    for (int kind = LustBus::Request::ReadParameter; kind <= LustBus::Request::WriteArray; ++kind) {
        LustBus::Request request;
        request.kind = LustBus::Request::Kind(kind);
        request.parameter = 1234;
        request.elementCount = 2;
        request.value = value;
        request.valueSize = 4;
        ASSERT_GT(LustBus::formatRequest(1, request, buffer, LustBus::BufferSize), 0);
    }
    ASSERT_TRUE(LustBus::checkReplyStation(reply, 1));
    ASSERT_TRUE(LustBus::checkReplyChecksum(reply, sizeof reply));
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(driver.sendRequest(readLink, read));
        ASSERT_TRUE(driver.receiveReply(readLink));
        ASSERT_TRUE(driver.queryParameter(readLink, 45));
        ASSERT_TRUE(driver.sendRequest(writeLink, write));
        ASSERT_TRUE(driver.receiveAcknowledge(writeLink));
    }
    EXPECT_EQ(AllocationCounter::count() - before, 0);
    EXPECT_FALSE(driver.hasError());
    // Guards the check above against a counter that never counts.
    QByteArray bytes(100, 'x');
    EXPECT_GT(AllocationCounter::count() - before, 0);
}

} // namespace

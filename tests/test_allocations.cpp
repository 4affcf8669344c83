// Formatting, the reply tests and the send and receive steps work in the driver's
// fixed buffers: none of them may touch the heap.
#include "allocationcounter.h"
#include "driverlustbusservoccde.h"
#include "wirecodec.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Answers every request with a fixed reply, without allocating.
struct FixedReplyLink : LinkDevice
{
    FixedReplyLink(const char *reply, int size) : reply(reply), size(size) {}
    int receiveExact(char *data, int count) override { return receive(data, count); }
    int receive(char *data, int room) override
    {
        std::memcpy(data, reply, size_t(qMin(size, room)));
        return qMin(size, room);
    }
    int send(const char *, int count) override { return count; }
    QVariant control(int, const QVariant &) override { return QVariant(); }
    int retryCount() const override { return 0; }
    int stationId() const override { return 1; }
    int delayMs() const override { return 0; }
    const char *reply;
    int size;
};

TEST(Allocations, TheCodecAndTheSendAndReceiveStepsUseNoHeap)
{
    static const char value[] = {0x12, 0x34, 0x56, 0x78};
    static const char reply[] = {0x41, 0x02, 0x3d, 0x31, 0x46, 0x03, 0x49};
    static const char ack[] = {0x41, 0x06};
    char buffer[LustBus::BufferSize];
    LustBus::ErrorState errors;
    LustBus::Transactions transactions(errors);
    FixedReplyLink readLink(reply, sizeof reply);
    FixedReplyLink writeLink(ack, sizeof ack);
    LustBus::Request read, write;
    read.parameter = write.parameter = 45;
    write.kind = LustBus::Request::WriteParameter;

    const long before = AllocationCounter::count();
    for (int kind = LustBus::Request::ReadParameter; kind <= LustBus::Request::WriteArray; ++kind) {
        const LustBus::Request request{LustBus::Request::Kind(kind), 1234, 0, 2, value, 4};
        const qint32 length = LustBus::formatRequest(1, request, buffer, LustBus::BufferSize);
        ASSERT_EQ(LustBus::scanRequest(buffer, length).status, LustBus::RequestScan::Complete);
    }
    ASSERT_GT(LustBus::formatDataReply(1, "20", 2, "1F", 2, buffer, LustBus::BufferSize), 0);
    ASSERT_GT(LustBus::formatAckReply(1, buffer, LustBus::BufferSize), 0);
    ASSERT_EQ(LustBus::scanReadReply(reply, sizeof reply), LustBus::ReplyStatus::Complete);
    ASSERT_TRUE(LustBus::checkReplyStation(reply, 1));
    ASSERT_TRUE(LustBus::checkReplyChecksum(reply, sizeof reply));
    const char *text = nullptr;
    int length = 0;
    quint32 number = 0;
    ASSERT_TRUE(LustBus::replyValueText(reply, sizeof reply, &text, &length));
    ASSERT_TRUE(LustBus::replyUnsignedValue(reply, sizeof reply, &number));
    LustBus::decodeHexDigits(text, length, buffer, LustBus::hexDecodedSize(text, length));
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(transactions.sendRequest(readLink, read));
        ASSERT_TRUE(transactions.receiveReply(readLink));
        ASSERT_TRUE(transactions.queryParameter(readLink, 45));
        ASSERT_TRUE(transactions.sendRequest(writeLink, write));
        ASSERT_TRUE(transactions.receiveAcknowledge(writeLink));
    }
    EXPECT_EQ(AllocationCounter::count() - before, 0);
    EXPECT_FALSE(errors.failed);
    // Guards the check above against a counter that never counts.
    QByteArray bytes(100, 'x');
    EXPECT_GT(AllocationCounter::count() - before, 0);
}

} // namespace

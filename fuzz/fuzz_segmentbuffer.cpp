// SegmentBuffer layouts with any lengths, references and cycles, over data of any
// size: every query must stay inside the data.
#include "tools/segmentbuffer.h"

#include <cstdlib>

// The records' debug lines would flood the fuzzer's output.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t entries = qMin<size_t>(data[0] % 16, size - 1);
    QList<int> layout;
    for (size_t i = 0; i < entries; ++i)
        layout.append(int(qint8(data[1 + i])) % 24); // references -23 to -1, lengths 0 to 23
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1 + entries),
                           int(size - 1 - entries));

    SegmentBuffer buffer;
    buffer.setData(bytes);
    buffer.setLayout(layout);
    for (int i = -1; i <= buffer.segmentCount(); ++i) {
        const int offset = buffer.segmentOffset(i);
        const int length = buffer.segmentLength(i);
        const QByteArray segment = buffer.segment(i);
        if (segment.size() > buffer.size())
            std::abort();
        if (offset > 0 && length > 0 && segment.size() > length)
            std::abort();
    }
    buffer.appendSum();
    buffer.appendXorHex();
    buffer.xorExceptLast(int(size));
    buffer.dump();
    return 0;
}

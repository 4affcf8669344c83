// Request recognition, the servo's side of the wire. Any bytes, taken as a stream, are
// cut into requests and garbage: every step makes progress and nothing is read past
// the input. The same bytes, taken as the fields of a request, give a telegram that the
// formats write and the recognition gives back with those fields. Taken as the reply
// to a read and to a write, a gateway finds where they end within what came.
#include "wirecodec.h"

#include <QtCore/QByteArray>

#include <cstdlib>
#include <cstring>

namespace {

using namespace LustBus;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void scanStream(const char *bytes, int size)
{
    for (int at = 0; at < size;) {
        const RequestScan scan = scanRequest(bytes + at, size - at);
        if (scan.status == RequestScan::NeedMore)
            return;
        check(scan.length > 0 && scan.length <= size - at && scan.length <= BufferSize);
        if (scan.status == RequestScan::Complete) {
            const ReceivedRequest &r = scan.request;
            check(bytes[at] == EOT);
            check(r.valueAt >= 0 && r.valueSize >= 0 && r.valueAt + r.valueSize <= scan.length);
            check(r.write || r.valueSize == 0);
        }
        at += scan.length;
    }
}

// d[0] kind, d[1] station, d[2..3] parameter, d[4..5] first element, d[6] count, then
// the value bytes.
void roundTrip(const quint8 *d, int size)
{
    if (size < 7)
        return;
    Request request;
    request.kind = Request::Kind(d[0] % 5);
    request.parameter = quint16(d[2] | d[3] << 8);
    request.firstElement = quint16(d[4] | d[5] << 8);
    request.elementCount = d[6];
    request.value = reinterpret_cast<const char *>(d + 7);
    request.valueSize = size - 7;
    const qint8 station = qint8(d[1] % 64);
    const QByteArray value(request.value, request.valueSize);
    const bool array = request.kind == Request::ReadArray || request.kind == Request::WriteArray;
    const bool write = request.kind != Request::ReadParameter && request.kind != Request::ReadArray;
    const bool text = request.kind == Request::WriteText;
    // A text ends at its zero byte; it cannot carry ETX or EOT, which end a telegram.
    const QByteArray sentText = value.left(value.indexOf('\0') < 0 ? value.size()
                                                                    : value.indexOf('\0'));
    if (text && (sentText.contains(ETX) || sentText.contains(EOT)))
        return;

    char buffer[BufferSize];
    const qint32 length = formatRequest(station, request, buffer, BufferSize);
    if (length < 0)
        return; // too long for a telegram
    // Exactly the telegram's bytes on the heap, so that a read past them is caught.
    char *telegram = static_cast<char *>(std::malloc(size_t(length)));
    std::memcpy(telegram, buffer, size_t(length));
    const RequestScan scan = scanRequest(telegram, length);
    check(scan.status == RequestScan::Complete && scan.length == length);
    const ReceivedRequest &r = scan.request;
    const RequestTarget sent{request.parameter, array ? request.firstElement : quint16(0),
                             array ? request.elementCount : quint8(0)};
    check(r.station == station && r.write == write && r.checksumOk && r.fieldsOk);
    check(r.service == (array ? ReceivedRequest::Array : ReceivedRequest::Simple));
    check(r.target == sent || (r.ambiguous && r.alternative == sent));
    if (write) {
        const QByteArray got(telegram + r.valueAt, r.valueSize);
        check(got == (text ? sentText + '\0' : value.toHex().toUpper()));
    }
    std::free(telegram);
}

void passOn(const char *bytes, int size)
{
    // Exactly the reply's bytes on the heap, so that a read past them is caught.
    char *reply = static_cast<char *>(std::malloc(size_t(qMax(size, 1))));
    std::memcpy(reply, bytes, size_t(size));
    for (const bool write : {false, true}) {
        ReceivedRequest request;
        request.write = write;
        request.station = size > 0 ? quint8(bytes[0]) - 0x40 : 1;
        const ReplyScan scan = scanReply(request, reply, size);
        if (scan.status == ReplyStatus::Complete)
            check(scan.length >= 2 && scan.length <= qMin(size, BufferSize));
        else
            check(!scan.closedWithEot);
        if (scan.status == ReplyStatus::TooLong)
            check(!write && size >= BufferSize && scan.length == BufferSize);
        if (scan.status == ReplyStatus::NeedMore)
            check(size < (write ? 2 : BufferSize));
    }
    std::free(reply);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    const int n = int(qMin<size_t>(size, 4096));
    scanStream(reinterpret_cast<const char *>(data), n);
    roundTrip(data, n);
    passOn(reinterpret_cast<const char *>(data), n);
    return 0;
}

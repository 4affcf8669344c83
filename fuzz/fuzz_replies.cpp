// Reply bytes from a misbehaving servo, fed into read and write of every kind, data
// type and address form. The driver must neither crash nor report an unmarked error.
#include "driverlustbusservoccde.h"
#include "fuzzlink.h"

#include <cstdlib>

namespace {

const char *const types[] = {"INT8",    "USIGN8",  "INT16",    "USIGN16", "INT32", "USIGN32",
                             "FLOAT32", "FIXPT16", "INT32Q16", "STRING",  "WORD"};
const char *const forms[] = {"%1:20", "%1:20:3", "%1:20.5", "%1:20:3.5"};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    if (size < 6)
        return 0;
    const int kind = data[0] % 8; // 7 is outside the known kinds
    const char *type = types[data[1] % (sizeof types / sizeof *types)];
    const char *form = forms[data[2] % 4];
    DataAddress address;
    address.kind = kind;
    address.count = data[3];
    address.text = QString::fromLatin1(form).arg(QLatin1String(type));

    FuzzLink link;
    link.retries = data[4] % 3;
    const bool write = data[5] & 1;
    // The rest: chunks, each a length byte and that many bytes.
    QByteArray payload;
    for (size_t at = 6; at < size;) {
        const size_t n = qMin<size_t>(data[at], size - at - 1);
        const QByteArray chunk(reinterpret_cast<const char *>(data + at + 1), int(n));
        if (payload.isEmpty() && write)
            payload = chunk.isEmpty() ? QByteArray(1, '\x01') : chunk;
        else
            link.chunks.append(chunk);
        at += n + 1;
    }

    DriverLustBusServoCCDE driver;
    if (write) {
        const int result = driver.write(link, address, payload);
        check(driver.hasError() ? result == 0 : true);
    } else {
        const QByteArray result = driver.read(link, address);
        check(!driver.hasError() || result.isEmpty());
    }
    if (driver.hasError())
        check(driver.errorText().contains(QLatin1Char('>')));
    return 0;
}

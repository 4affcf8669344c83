// Address texts of any shape, read and written on a link whose servo always answers
// well: decoding must fail cleanly or reach a telegram, never crash.
#include "driverlustbusservoccde.h"
#include "fuzzlink.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    if (size < 2)
        return 0;
    DataAddress address;
    address.kind = data[0] % 8;
    address.count = data[1];
    address.text = QString::fromUtf8(reinterpret_cast<const char *>(data + 2), int(size - 2));

    DriverLustBusServoCCDE driver;
    FuzzLink link;
    link.answerRequests = true;
    const QByteArray value = driver.read(link, address);
    if (driver.hasError() && !value.isEmpty())
        std::abort();
    const int written = driver.write(link, address, QByteArray("\x01\x02\x03\x04", 4));
    if (driver.hasError() && written != 0)
        std::abort();
    return 0;
}

// Settings streams from a corrupt file or a foreign host: reading must stay bounded,
// and what was read must stream back to itself.
#include "portsettings.h"
#include "protocolsettings.h"

#include <QtCore/QDataStream>

#include <cstdlib>

namespace {

QByteArray streamed(const PortSettings &port, const ProtocolSettings &protocol)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << port << protocol;
    return bytes;
}

} // namespace

// The records' debug lines would flood the fuzzer's output.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     int(size));
    QDataStream in(input);
    PortSettings port;
    ProtocolSettings protocol;
    in >> port >> protocol;
    port.dump();
    protocol.dump();

    const QByteArray once = streamed(port, protocol);
    QDataStream again(once);
    PortSettings port2;
    ProtocolSettings protocol2;
    again >> port2 >> protocol2;
    if (streamed(port2, protocol2) != once)
        std::abort();
    return 0;
}

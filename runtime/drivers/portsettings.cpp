#include "portsettings.h"

#include <QtCore/QDataStream>
#include <QtCore/QtGlobal>

PortSettings::PortSettings(quint32 type, const QString &string, qint32 baudrate,
                           qint32 databits, qint32 stopbits, qint32 parity)
    : type(type), string(string), baudrate(baudrate), databits(databits),
      stopbits(stopbits), parity(parity)
{
}

PortSettings::PortSettings(quint32 type, const QString &string, qint32 baudrate,
                           qint32 databits, qint32 stopbits, qint32 parity, qint32 option,
                           const QString &text)
    : type(type), string(string), baudrate(baudrate), databits(databits),
      stopbits(stopbits), parity(parity), option(option), text(text)
{
}

qint32 PortSettings::entryIndex(qint32 index) const
{
    if (index == -1)
        index = current;
    return index >= 0 && index < entries.size() ? index : -1;
}

void PortSettings::setCurrent(qint32 index)
{
    if (index >= 0 && index < entries.size())
        current = index;
}

QString PortSettings::ip(qint32 index) const
{
    const qint32 i = entryIndex(index);
    return i < 0 ? QString() : entries.at(i).ip;
}

quint16 PortSettings::port(qint32 index) const
{
    const qint32 i = entryIndex(index);
    return i < 0 ? quint16(0) : entries.at(i).port;
}

void PortSettings::setIp(const QString &ip, qint32 index)
{
    const qint32 i = entryIndex(index);
    if (i >= 0)
        entries[i].ip = ip;
}

void PortSettings::setPort(quint16 port, qint32 index)
{
    const qint32 i = entryIndex(index);
    if (i >= 0)
        entries[i].port = port;
}

void PortSettings::setEntries(const QList<QPair<QString, QString>> &pairs)
{
    QList<PortEntry> list;
    for (const auto &pair : pairs) {
        bool ok = false;
        const quint16 port = pair.second.toUShort(&ok, 10);
        list.append(PortEntry{pair.first, ok ? port : quint16(0)});
    }
    entries = list;
}

QString PortSettings::debugLine() const
{
    // Built by concatenation: QString::arg would rescan the device name for markers.
    return QLatin1String("type: ") + QString::number(type)
        + QLatin1String(" string: \"") + string
        + QLatin1String("\" baudrate: ") + QString::number(baudrate)
        + QLatin1String(" databits: ") + QString::number(databits)
        + QLatin1String(" stopbits: ") + QString::number(stopbits)
        + QLatin1String(" parity: ") + QString::number(parity)
        + QLatin1String(" linkID: ") + QString::number(linkID)
        + QLatin1String(" current ip: \"") + ip()
        + QLatin1String("\" current port: ") + QString::number(port()) + QLatin1Char(' ');
}

void PortSettings::dump() const
{
    qt_message_output(QtDebugMsg, QMessageLogContext(), debugLine());
}

QDataStream &operator<<(QDataStream &stream, const PortSettings &settings)
{
    stream << settings.type << settings.string << settings.baudrate << settings.databits
           << settings.stopbits << settings.parity << settings.option << settings.linkID
           << settings.current << quint32(settings.entries.size());
    for (const PortEntry &entry : settings.entries)
        stream << entry.ip << entry.port;
    return stream;
}

QDataStream &operator>>(QDataStream &stream, PortSettings &settings)
{
    stream >> settings.type >> settings.string >> settings.baudrate >> settings.databits
        >> settings.stopbits >> settings.parity >> settings.option >> settings.linkID;
    qint32 storedCurrent = 0;
    quint32 count = 0;
    stream >> storedCurrent >> count;

    // The announced count is not trusted: a short stream ends the list early, so a
    // corrupt count can neither loop long nor allocate ahead of the data.
    QList<PortEntry> list;
    for (quint32 i = 0; i < count; ++i) {
        PortEntry entry;
        stream >> entry.ip >> entry.port;
        list.append(entry);
        if (stream.atEnd())
            break;
    }
    settings.entries = list;
    settings.setCurrent(storedCurrent);
    return stream;
}

// How the host sets up a link: link type code, device name, line parameters, link id
// and a list of network endpoints, one of which is the current one. The record only
// carries values; the meaning of the codes belongs to the host.
#ifndef PORTSETTINGS_H
#define PORTSETTINGS_H

#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QString>

class QDataStream;

struct PortEntry
{
    QString ip;
    quint16 port = 0;
};

class PortSettings
{
public:
    PortSettings() = default;
    PortSettings(quint32 type, const QString &string, qint32 baudrate, qint32 databits,
                 qint32 stopbits, qint32 parity);
    PortSettings(quint32 type, const QString &string, qint32 baudrate, qint32 databits,
                 qint32 stopbits, qint32 parity, qint32 option, const QString &text);

    // Index -1 selects the current entry; an index naming no entry gives "" / 0 and
    // makes the setters do nothing.
    void setCurrent(qint32 index);
    QString ip(qint32 index = -1) const;
    quint16 port(qint32 index = -1) const;
    void setIp(const QString &ip, qint32 index = -1);
    void setPort(quint16 port, qint32 index = -1);
    // One entry per (address, port text) pair; a port text that is not a decimal
    // number from 0 to 65535 gives port 0. current is left as it is.
    void setEntries(const QList<QPair<QString, QString>> &pairs);

    // One debug line through Qt's message output.
    void dump() const;
    QString debugLine() const;

    quint32 type = 0;
    QString string;
    qint32 baudrate = 0;
    qint32 databits = 0;
    qint32 stopbits = 0;
    qint32 parity = 0;
    qint32 option = 0;
    QString text; //!< in memory only: neither streamed nor printed
    qint32 linkID = -1;
    qint32 current = 0;
    QList<PortEntry> entries;

private:
    qint32 entryIndex(qint32 index) const; //!< -1 when no entry is named
};

QDataStream &operator<<(QDataStream &stream, const PortSettings &settings);
QDataStream &operator>>(QDataStream &stream, PortSettings &settings);

#endif // PORTSETTINGS_H

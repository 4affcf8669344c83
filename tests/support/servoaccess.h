// Random read and write requests against a simulated servo's table, and what the driver
// must answer to each: the host bytes of a read and the table entry after a write,
// worked out from the table alone, in the host's data forms. Shared by the soak and
// the gateway's parallel drivers.
#ifndef SERVOACCESS_H
#define SERVOACCESS_H

#include "driverinterface.h"
#include "parametertable.h"
#include "simulator.h"

#include <QtCore/QByteArray>

#include <random>
#include <string>

namespace ServoAccess {

enum class Form { Simple, Element, Bit, ElementBit };

struct Access
{
    bool write = false;
    Form form = Form::Simple;
    quint16 parameter = 0;
    int index = -1;   //!< first element (element forms)
    int count = 1;    //!< elements, bytes of a text or bits
    int bit = 0;      //!< first bit (bit forms)
    DataAddress address;
    QByteArray data;  //!< host bytes of a write

    std::string describe() const;
};

// Every parameter of the default table with new random values, plus arrays of the
// types it has no array of (110 INT8, 111 USIGN16, 112 USIGN32), so that every data
// type is reached simply and by element. Texts stay printable.
LustBusSim::ParameterTable randomTable(std::mt19937 &random);

// A random request on a parameter of table: reads of any, writes only of writable ones.
Access randomAccess(std::mt19937 &random, const LustBusSim::ParameterTable &table,
                    double writeShare = 0.4);

// The host bytes a read of access must return while the servo holds parameter.
QByteArray expectedRead(const Access &access, const LustBusSim::Parameter &parameter);

// The parameter as the servo must hold it after a write of access to before.
LustBusSim::Parameter expectedAfterWrite(const Access &access,
                                         const LustBusSim::Parameter &before);

std::string hex(const QByteArray &bytes);

// Runs access with driver on link against station of sim and checks the value read, or
// the entry after the write: empty when right, else what went wrong.
std::string run(DriverInterface &driver, LinkDevice &link, LustBusSim::Simulator &sim,
                int station, const Access &access);

} // namespace ServoAccess

#endif // SERVOACCESS_H

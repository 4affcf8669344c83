// Typed reads, writes and bit accesses of servo parameters, one exchange each through
// the transactions: host data and telegram data go into each other by the data type's
// row of the type table (datatypes.h); the servo is never asked for a type. Reads
// return empty on failure, writes false; both set the error state.
#ifndef LUSTBUS_PARAMETERACCESS_H
#define LUSTBUS_PARAMETERACCESS_H

#include "datatypes.h"
#include "driverinterface.h"
#include "errorstate.h"
#include "transactions.h"

#include <QtCore/QByteArray>

namespace LustBus {

class ParameterAccess
{
public:
    // transactions and errors must outlive the access.
    ParameterAccess(Transactions &transactions, ErrorState &errors)
        : m_transactions(transactions), m_errors(errors)
    {
    }
    ParameterAccess(const ParameterAccess &) = delete;
    ParameterAccess &operator=(const ParameterAccess &) = delete;

    // Simple parameters ("20" telegrams) and runs of array elements ("70"). An element
    // read counts byte_count in telegram elements, so a FIXPT16 element gives 4 host
    // bytes for 2 asked; "invalid address" when the reply holds no whole elements.
    QByteArray readParameter(LinkDevice &link, DataType type, quint16 parameter);
    QByteArray readArrayParameter(LinkDevice &link, DataType type, quint16 parameter,
                                  quint16 index, quint8 byte_count);
    bool writeParameter(LinkDevice &link, DataType type, quint16 parameter,
                        const QByteArray &data);
    bool writeArrayParameter(LinkDevice &link, DataType type, quint16 parameter,
                             quint16 index, const QByteArray &data);

    // Runs of bits inside a value: reads cut them out, writes read the whole value,
    // change the bits and write it all back.
    QByteArray readParameterBits(LinkDevice &link, DataType type, quint16 parameter,
                                 quint8 start_bit, quint8 num_of_bits);
    QByteArray readArrayParameterBits(LinkDevice &link, DataType type, quint16 parameter,
                                      quint16 index, quint8 start_bit, quint8 num_of_bits);
    bool writeParameterBits(LinkDevice &link, DataType type, quint16 parameter,
                            quint8 start_bit, const QByteArray &bits, qint32 num_of_bits);
    bool writeArrayParameterBits(LinkDevice &link, DataType type, quint16 parameter,
                                 quint16 index, quint8 start_bit, const QByteArray &bits,
                                 qint32 num_of_bits);

private:
    QByteArray cutBits(QByteArray value, quint8 start_bit, quint8 num_of_bits);
    bool changeBits(QByteArray &value, quint8 start_bit, const QByteArray &bits,
                    qint32 num_of_bits);

    Transactions &m_transactions;
    ErrorState &m_errors;
};

} // namespace LustBus

#endif // LUSTBUS_PARAMETERACCESS_H

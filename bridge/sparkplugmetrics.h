// A catalogue parameter as a Sparkplug B metric, and a command's metric as the JSON
// value a set message carries: pure conversions, no session.
//
// Datatypes: INT8 Int8, USIGN8 UInt8, INT16 Int16, USIGN16 UInt16, INT32 Int32,
// USIGN32 UInt32, FLOAT32 Float, FIXPT16 and INT32Q16 Double (their decimals),
// STRING String; an array is one metric of the matching array type (Int8Array ...
// DoubleArray), its elements packed little-endian in the bytes value. The 32-bit and
// narrower integers travel in the int value, the signed ones as two's complement.
// A device metric's alias is its station times 65536 plus its parameter number:
// stable over restarts and catalogue edits, and unique across the node's devices.
#ifndef LUSTBUS_SPARKPLUGMETRICS_H
#define LUSTBUS_SPARKPLUGMETRICS_H

#include "sparkplugpayload.pb.h"

#include <QtCore/QJsonValue>
#include <QtCore/QString>

namespace LustBus {
struct CatalogueEntry;
}

class SparkplugMetrics
{
public:
    using Metric = org::eclipse::tahu::protobuf::Payload_Metric;
    using Payload = org::eclipse::tahu::protobuf::Payload;

    // The datatype codes the node uses.
    enum DataType : quint32 {
        Int8 = 1, Int16 = 2, Int32 = 3, Int64 = 4, UInt8 = 5, UInt16 = 6, UInt32 = 7,
        UInt64 = 8, Float = 9, Double = 10, Boolean = 11, String = 12,
        Int8Array = 22, Int16Array = 23, Int32Array = 24, UInt8Array = 26, UInt16Array = 27,
        UInt32Array = 28, FloatArray = 30, DoubleArray = 31,
    };

    static quint32 dataType(const LustBus::CatalogueEntry &entry);
    // The datatype of one element: the metric's own for a simple parameter.
    static quint32 elementType(const LustBus::CatalogueEntry &entry);
    static QString typeName(quint32 type);
    static quint64 alias(int station, const LustBus::CatalogueEntry &entry);

    // The metric of a device's birth: name, alias, datatype, the properties engUnit,
    // engLow and engHigh (those the catalogue gives, typed as one element) and
    // readOnly, and the value; null for an undefined value (never read).
    static void setBirth(Metric *metric, int station, const LustBus::CatalogueEntry &entry,
                         const QJsonValue &value);
    // The value of a parameter as the bridge reads it (a number, a text, a list),
    // or null for an undefined one.
    static void setValue(Metric *metric, const LustBus::CatalogueEntry &entry,
                         const QJsonValue &value);
    // A node metric's scalar value: Boolean, UInt64 or String.
    static void setScalar(Metric *metric, quint32 type, const QJsonValue &value);

    // The value a command's metric asks entry to take, as a set message's payload;
    // false with the cause for a datatype other than the birth's, a null, or a value
    // of the wrong kind or size.
    static bool commandPayload(const Metric &metric, const LustBus::CatalogueEntry &entry,
                               QByteArray *payload, QString *error);
};

#endif // LUSTBUS_SPARKPLUGMETRICS_H

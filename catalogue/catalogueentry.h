// One parameter of a drive's catalogue: how the tools name it and what the simulator
// serves. Values are in the servo's own units (FIXPT16 and INT32Q16 as decimals,
// FLOAT32 as a float, the integer types as whole numbers), as the catalogue file
// gives them.
#ifndef LUSTBUS_CATALOGUEENTRY_H
#define LUSTBUS_CATALOGUEENTRY_H

#include "datatypes.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QVector>

#include <optional>

namespace LustBus {

struct CatalogueEntry
{
    // A bit of a simple integer that is published as an entity of its own.
    struct Bit
    {
        QString name;
        int index = 0; //!< 0: the least significant
    };

    QString name; //!< empty only in a simulator's table that gives none
    quint16 number = 0;
    DataType type = DataType::Unknown;
    int elements = 0; //!< 0: a simple parameter; above: an array ("70" telegrams)
    QString unit;
    bool readOnly = false;
    bool identity = false; //!< part of what tells this drive from another (read-only, simple)
    std::optional<double> min;
    std::optional<double> max;
    QString description;
    QVector<double> start; //!< the simulator's start value, one per element
    QByteArray startText;  //!< STRING: the start text, Latin-1
    QString deviceClass;   //!< Home Assistant's device class of its entity; empty: none
    QVector<Bit> bits;     //!< named bits, by name; only on a simple integer

    bool isArray() const { return elements > 0; }
    int valueCount() const { return isArray() ? elements : 1; }
    // The bits of a simple integer's value; 0 for any other parameter.
    int bitWidth() const;
    // Whether value lies within min and max (those given); a FLOAT32 compares as the
    // float the servo holds, so that a max of 0.1 takes the float nearest to 0.1.
    bool allows(double value) const;
    // The index of the first of values that allows() refuses, or -1.
    int firstOutside(const QVector<double> &values) const;
    // "-3000 to 3000", "0 or more", "100 or less", or empty without min and max.
    QString rangeText() const;
    // A value in the servo's units as the catalogue gives it: 1.25, -3000, 0.1.
    static QString numberText(double value);
};

} // namespace LustBus

#endif // LUSTBUS_CATALOGUEENTRY_H

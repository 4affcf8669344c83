// Catalogues and parameter sets from a file: any bytes are refused with a message or
// give a catalogue the simulator can serve, and a set reads back as itself once it has
// been written.
#include "catalogue.h"
#include "parameterset.h"
#include "parametertable.h"

#include <QtCore/QJsonDocument>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     int(size));
    QString error;
    for (LustBus::Catalogue::Use use :
         {LustBus::Catalogue::Use::Tools, LustBus::Catalogue::Use::Simulator}) {
        LustBus::Catalogue catalogue;
        if (!LustBus::Catalogue::fromJson(input, QStringLiteral("fuzz"), use, &catalogue,
                                          &error)) {
            if (error.isEmpty())
                std::abort();
            continue;
        }
        const LustBusSim::ParameterTable table =
            LustBusSim::ParameterTable::fromCatalogue(catalogue);
        if (table.size() != catalogue.entries.size())
            std::abort();
        for (const LustBus::CatalogueEntry &entry : catalogue.entries)
            (void)entry.rangeText();
    }

    ParameterSet set;
    if (!ParameterSet::fromJson(input, QStringLiteral("fuzz"), &set, &error))
        return 0;
    const QByteArray once = QJsonDocument(set.toJson()).toJson();
    ParameterSet again;
    if (!ParameterSet::fromJson(once, QStringLiteral("again"), &again, &error)
        || QJsonDocument(again.toJson()).toJson() != once)
        std::abort();
    return 0;
}

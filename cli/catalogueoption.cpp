#include "catalogueoption.h"

#include "linkoptions.h"
#include "options.h"

namespace CatalogueOption {

QCommandLineOption option()
{
    return Options::Catalogue.with("The drive's parameter catalogue (JSON, see "
                                   "docs/catalogue.md): names, units, access and ranges. "
                                   "Default: $LUSTBUS_CATALOGUE.");
}

bool load(const QCommandLineParser &parser, const QProcessEnvironment &environment,
          LustBus::Catalogue *catalogue, bool *loaded, QString *error)
{
    const LinkOptions::Setting file =
        LinkOptions::setting(parser, environment, "catalogue", "LUSTBUS_CATALOGUE");
    *loaded = false;
    if (!file.given())
        return true;
    if (!LustBus::Catalogue::load(file.text, catalogue, error)) {
        if (!file.source.startsWith(QLatin1Char('-')))
            error->prepend(file.source + QStringLiteral(": "));
        return false;
    }
    *loaded = true;
    return true;
}

QString missingError()
{
    return QStringLiteral("no catalogue given: name the drive's parameter catalogue with "
                          "--catalogue FILE or set LUSTBUS_CATALOGUE");
}

} // namespace CatalogueOption

// --catalogue FILE, or LUSTBUS_CATALOGUE in the environment where the option is not
// given: the drive's parameter catalogue (see docs/catalogue.md), for the commands
// that name parameters (read, write, watch, list, backup, restore, diff) and for the
// simulator's table.
#ifndef LUSTBUS_CATALOGUEOPTION_H
#define LUSTBUS_CATALOGUEOPTION_H

#include "catalogue.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QProcessEnvironment>

namespace CatalogueOption {

QCommandLineOption option();

// Loads the catalogue that the option or the variable names; *loaded false when
// neither does. False with the message of a usage error: the catalogue's own, which
// names the file, the entry and the cause (after "LUSTBUS_CATALOGUE: " when it came
// from there).
bool load(const QCommandLineParser &parser, const QProcessEnvironment &environment,
          LustBus::Catalogue *catalogue, bool *loaded, QString *error);

// For a command that cannot go without one.
QString missingError();

} // namespace CatalogueOption

#endif // LUSTBUS_CATALOGUEOPTION_H

// lustbus list: the catalogue as a table, with --values each parameter's live value.
#ifndef LUSTBUS_LISTCOMMAND_H
#define LUSTBUS_LISTCOMMAND_H

#include "linkcommand.h"

class ListCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("list"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

    // An entry as list --json shows it: name, number, type, elements, unit, access,
    // min, max, description (those given).
    static QJsonObject entryJson(const LustBus::CatalogueEntry &entry);
};

#endif // LUSTBUS_LISTCOMMAND_H

// lustbus backup: every parameter of the catalogue from one station, saved as a
// parameter set (see parameterset.h).
#ifndef LUSTBUS_BACKUPCOMMAND_H
#define LUSTBUS_BACKUPCOMMAND_H

#include "linkcommand.h"
#include "parameterset.h"

class BackupCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("backup"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

private:
    // Writes set to -o output (see SetFile) and says so; failed names the parameters
    // that could not be read, message says how many. The exit status.
    int save(const ParameterSet &set, const QStringList &failed, QString message,
             const QString &output, bool force, bool json);
    // Reads the station's identity and every parameter into set, the names of those
    // that could not be read into failed; *lost says why the rest was not read when the
    // link was reopened and the drive could not be told to be the same. False when a
    // signal came.
    bool readSet(ParameterSet *set, QStringList *failed, QString *lost);
};

#endif // LUSTBUS_BACKUPCOMMAND_H

// lustbus demo: a short tour of the driver against the built-in simulator on a
// pseudo-terminal, every telegram traced.
#ifndef LUSTBUS_DEMOCOMMAND_H
#define LUSTBUS_DEMOCOMMAND_H

#include "linkcommand.h"

class DemoCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("demo"); }
    QString summary() const override;
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // A short tour: Ctrl-C ends it at any time, as signals do by default.
    int signalsToEnd() const override { return 0; }

private:
    bool read(const QString &text, const QString &count = QString());
    bool write(const QString &text, const QString &value);
    int m_failures = 0;
};

#endif // LUSTBUS_DEMOCOMMAND_H

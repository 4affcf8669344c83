// The driver's error state, which every layer of a request reports to: a failure sets
// the flag and replaces the text; each attempt of a request clears only the flag, so
// the text keeps the last failure's message.
#ifndef LUSTBUS_ERRORSTATE_H
#define LUSTBUS_ERRORSTATE_H

#include <QtCore/QString>

namespace LustBus {

struct ErrorState
{
    bool failed = false;
    QString text;

    void set(const QString &message)
    {
        failed = true;
        text = message;
    }
};

} // namespace LustBus

#endif // LUSTBUS_ERRORSTATE_H

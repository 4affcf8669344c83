// A one-line progress bar on stderr that redraws itself with ANSI sequences; enabled
// only where stderr takes them (Console::errIsAnsiTerminal), so that logs, pipes and
// dumb terminals get only the results.
#ifndef LUSTBUS_PROGRESSBAR_H
#define LUSTBUS_PROGRESSBAR_H

#include <QtCore/QString>

class ProgressBar
{
public:
    ProgressBar(int total, bool enabled) : m_total(total), m_enabled(enabled) {}
    ~ProgressBar() { clear(); }

    void show(int done, const QString &label);
    void clear(); //!< wipes the line, so that a result can be printed

    // "[#####---------------]  5/20 station 4", the line show() draws.
    static QString line(int done, int total, const QString &label, int width = 20);

private:
    int m_total;
    bool m_enabled;
    bool m_drawn = false;
};

#endif // LUSTBUS_PROGRESSBAR_H

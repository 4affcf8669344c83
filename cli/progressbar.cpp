#include "progressbar.h"

#include "console.h"

QString ProgressBar::line(int done, int total, const QString &label, int width)
{
    const int filled = total > 0 ? int(qint64(done) * width / total) : width;
    return QStringLiteral("[%1%2] %3/%4 %5")
        .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('-')))
        .arg(done, QString::number(total).size())
        .arg(total)
        .arg(label);
}

void ProgressBar::show(int done, const QString &label)
{
    if (!m_enabled)
        return;
    Console::err() << "\r\033[K" << line(done, m_total, label) << Qt::flush;
    m_drawn = true;
}

void ProgressBar::clear()
{
    if (!m_drawn)
        return;
    Console::err() << "\r\033[K" << Qt::flush;
    m_drawn = false;
}

#include "sparkplugstate.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSaveFile>

QString SparkplugState::defaultFileName(const QString &group, const QString &edgeNode)
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QStringLiteral("%1/lustbus/sparkplug-%2+%3.bdseq").arg(base, group, edgeNode);
}

bool SparkplugState::load(QString *error)
{
    QFile file(m_fileName);
    if (!file.exists()) {
        m_last = -1;
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the Sparkplug state file '%1': %2")
                     .arg(m_fileName, file.errorString());
        return false;
    }
    const QByteArray text = file.read(64).trimmed();
    bool ok = false;
    const int last = text.toInt(&ok);
    if (!ok || last < 0 || last > 255) {
        *error = QStringLiteral("the Sparkplug state file '%1' holds '%2', not a bdSeq of 0 to "
                                "255; remove it to start at 0")
                     .arg(m_fileName, QString::fromUtf8(text.left(20)));
        return false;
    }
    m_last = last;
    return true;
}

int SparkplugState::next(QString *error)
{
    m_last = (m_last + 1) % 256;
    const QByteArray text = QByteArray::number(m_last) + '\n';
    const QString directory = QFileInfo(m_fileName).absolutePath();
    QSaveFile file(m_fileName);
    if (!QDir().mkpath(directory)) {
        *error = QStringLiteral("cannot write the Sparkplug state file '%1': cannot make its "
                                "directory %2")
                     .arg(m_fileName, directory);
    } else if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()
               || !file.commit()) {
        *error = QStringLiteral("cannot write the Sparkplug state file '%1': %2")
                     .arg(m_fileName, file.errorString());
    }
    return m_last;
}

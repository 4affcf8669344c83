// The lines lustbus watch writes when its output is not a terminal, for logs and plots:
//
//   CSV          a header "time,address,value,error", then one line per sample; the
//                value as read prints it (or hex), empty after a failure, and the
//                driver's error text. Fields with a comma, a double quote, a line break
//                or blanks at either end are quoted, quotes doubled (RFC 4180), so that
//                lists such as "1, 2, 3" stay one field.
//   JSON lines   one object per sample: time, address, kind, count and hex and value as
//                read --json has them, or error.
//
// time is UTC in ISO 8601 with milliseconds: 2026-12-06T19:20:01.042Z.
#ifndef LUSTBUS_WATCHLOG_H
#define LUSTBUS_WATCHLOG_H

#include <QtCore/QByteArray>
#include <QtCore/QDateTime>
#include <QtCore/QJsonObject>
#include <QtCore/QString>

class RequestAddress;

namespace WatchLog {

QString timeText(const QDateTime &time);

QString csvField(const QString &text);
QString csvHeader();
// One sample: value is empty when error is not.
QString csvSample(const QDateTime &time, const QString &address, const QString &value,
                  const QString &error);

// One sample: the host bytes read, or the error text when failed.
QJsonObject jsonSample(const QDateTime &time, const RequestAddress &address,
                       const QByteArray &host, bool failed, const QString &error);

} // namespace WatchLog

#endif // LUSTBUS_WATCHLOG_H

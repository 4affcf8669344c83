// What the bridge needs of its bus: catalogue parameters read and written by station,
// in their JSON form, what the line did with each request, and how often the link was
// reopened. The command that owns the link provides it.
#ifndef LUSTBUS_BUSACCESS_H
#define LUSTBUS_BUSACCESS_H

#include "catalogueentry.h"

#include <QtCore/QJsonValue>
#include <QtCore/QString>

class BusAccess
{
public:
    enum Outcome {
        Done,    //!< read: the value came; write: the servo acknowledged it
        Failed,  //!< read: no value; write: refused, by a check before sending or by the
                 //!< servo itself: not carried out
        Unknown, //!< write: the request went out and no valid reply came, so the servo
                 //!< may hold the new value
        Stopped, //!< the program is to end
    };
    // What the line did with the request.
    enum Line {
        NotSent,    //!< refused before anything went out
        Answered,   //!< the station answered, whatever it said
        NoResponse, //!< the link carried the request and nothing came back
        LinkLost,   //!< the link itself failed: device gone, connection closed
    };
    struct Result
    {
        Outcome outcome = Failed;
        Line line = NotSent;
        QString error;     //!< not Done: the driver's error text or the check's cause
        QString linkError; //!< LinkLost: why, in the link's words
    };

    virtual ~BusAccess() = default;

    // The whole parameter as JSON: a number, a text for STRING, a list for an array.
    // once: a single attempt, without the link's retries.
    virtual Result read(int station, const LustBus::CatalogueEntry &entry, QJsonValue *value,
                        bool once) = 0;
    // Checks value against the parameter's type and range first: a refused value is
    // Failed with the cause before anything goes on the bus. *sent: the value as it
    // went out in the parameter's type, for a comparison with what is read back.
    virtual Result write(int station, const LustBus::CatalogueEntry &entry,
                         const QJsonValue &value, QJsonValue *sent) = 0;

    // How often the link was reopened since it opened: after a reopen another drive may
    // answer at a station, so its identity is read again before anything is written.
    virtual int reopens() const = 0;
    // Writes go out only while the link has been reopened this often (when the drive
    // was last identified): one whose request finds it reopened is Failed, not sent.
    virtual void holdWritesTo(int reopens) = 0;
};

#endif // LUSTBUS_BUSACCESS_H

// What became of a write. Between the driver and its link for one write request, it
// sees whether a write telegram went out (the wire codec recognises it), and tells:
//
//   done     the servo acknowledged it
//   refused  the servo said no (NAK), or nothing was sent (a check before sending, a
//            station that does not answer, a link reopened under an identified drive)
//   unknown  a write telegram went out and no valid reply came: the servo may hold the
//            new value or not
//
// An unknown write is settled by reading the value back where the command can (settle).
#ifndef LUSTBUS_WRITEWATCH_H
#define LUSTBUS_WRITEWATCH_H

#include "driverinterface.h"

class WriteWatch : public LinkDevice
{
public:
    enum Outcome { Done, Refused, Unknown };

    explicit WriteWatch(LinkDevice &link) : m_link(link) {}

    // "done", "refused", "unknown": the texts of the text lines and of --json.
    static const char *name(Outcome outcome);

    // After the driver's write on this link returned: its error flag and text.
    Outcome outcome(bool failed, const QString &errorText) const;

    // An unknown write, settled by the value read back: the new value -> done
    // ("confirmed by read back"); the value from before (or, where the command does not
    // know it, any other) -> refused ("no reply; read back shows VALUE: not carried
    // out"); a value that is neither, or a read back that failed -> unknown ("read
    // back: ERROR"). readBack: the value's text or the read's error.
    static Outcome settle(bool readOk, bool isNew, bool isOld, const QString &readBack,
                          QString *note);

    int receiveExact(char *data, int count) override { return m_link.receiveExact(data, count); }
    int receive(char *data, int room) override { return m_link.receive(data, room); }
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override
    {
        return m_link.control(code, value);
    }
    int retryCount() const override { return m_link.retryCount(); }
    int stationId() const override { return m_link.stationId(); }
    int delayMs() const override { return m_link.delayMs(); }

private:
    LinkDevice &m_link;
    bool m_writeSent = false; //!< a write telegram went out, wholly or in part
};

#endif // LUSTBUS_WRITEWATCH_H

// Which stations on the gateway's bus do not answer, so that one switched off costs
// the other clients nearly nothing. A station is silent once SilentAfter requests to it
// in a row got no byte of reply within the bus's time-out (a bus that failed says
// nothing about a station). Reads for a silent station are then not sent: its client
// gets no reply, as from the bus, without the bus waiting for it. One read in a probe
// interval is let through to try it; writes always go. The first reply of any kind
// ends the silence.
//
// The gateway makes the probe interval 40 bus time-outs (Gateway::silentProbeIntervalMs),
// so a silent station holds the bus at most a fortieth of the time; 0 (--keep-trying)
// sends every request.
#ifndef LUSTBUS_SILENTSTATIONS_H
#define LUSTBUS_SILENTSTATIONS_H

#include <QtCore/QHash>

class SilentStations
{
public:
    static constexpr int SilentAfter = 2;

    explicit SilentStations(qint64 probeIntervalUs) : m_probeIntervalUs(probeIntervalUs) {}

    // Whether a request may go to the bus now. A read for a silent station passes only
    // as the probe that is due; the next probe is then a whole interval away.
    bool mayPass(int station, bool write, qint64 nowUs);

    enum class Change { None, FellSilent, AnswersAgain };
    // After a request to station went out on a working bus: whether any reply came.
    Change noteReply(int station, bool answered, qint64 nowUs);

private:
    struct Station
    {
        int unanswered = 0; //!< requests in a row without a reply
        bool silent = false;
        qint64 nextProbeUs = 0;
    };

    qint64 m_probeIntervalUs;
    QHash<int, Station> m_stations;
};

#endif // LUSTBUS_SILENTSTATIONS_H

#include "silentstations.h"

bool SilentStations::mayPass(int station, bool write, qint64 nowUs)
{
    const auto it = m_stations.find(station);
    if (it == m_stations.end() || !it->silent || write)
        return true;
    if (nowUs < it->nextProbeUs)
        return false;
    it->nextProbeUs = nowUs + m_probeIntervalUs;
    return true;
}

SilentStations::Change SilentStations::noteReply(int station, bool answered, qint64 nowUs)
{
    if (m_probeIntervalUs <= 0)
        return Change::None;
    Station &s = m_stations[station];
    if (answered) {
        const bool wasSilent = s.silent;
        m_stations.remove(station);
        return wasSilent ? Change::AnswersAgain : Change::None;
    }
    if (s.silent || ++s.unanswered < SilentAfter)
        return Change::None;
    s.silent = true;
    s.nextProbeUs = nowUs + m_probeIntervalUs;
    return Change::FellSilent;
}

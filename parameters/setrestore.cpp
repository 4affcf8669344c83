#include "setrestore.h"

#include "linkbusaccess.h"
#include "requestguard.h"
#include "valuetext.h"

using LustBus::CatalogueEntry;

namespace {

SetRestore::Outcome outcomeOf(WriteWatch::Outcome written)
{
    return written == WriteWatch::Done      ? SetRestore::Done
           : written == WriteWatch::Refused ? SetRestore::Refused
                                            : SetRestore::Unknown;
}

// Empty when every value of host lies within the entry's range.
QString outsideRange(const CatalogueEntry &entry, const ParameterSet::Value &value)
{
    const int i = entry.firstOutside(ValueText::numbers(entry.type, value.host));
    if (i < 0)
        return QString();
    return QStringLiteral("the set's value%1 lies outside the range %2; not written")
        .arg(entry.isArray() ? QStringLiteral(" at element %1").arg(i) : QString(),
             entry.rangeText());
}

} // namespace

const char *SetRestore::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Unchanged: return "unchanged";
    case Done: return WriteWatch::name(WriteWatch::Done);
    case Refused: return WriteWatch::name(WriteWatch::Refused);
    case Unknown: return WriteWatch::name(WriteWatch::Unknown);
    case WouldWrite: return "would write";
    case ReadOnlyDifferent: return "read-only and different";
    case Skipped: return "skipped";
    case NotTried: return "not tried";
    case Failed: break;
    }
    return "failed";
}

void SetRestore::Step::decide(Outcome what, const QString &text)
{
    decided = true;
    outcome = what;
    if (!text.isNull())
        why = text;
    troubled = what == Refused || what == Unknown || what == Failed || what == NotTried;
}

SetRestore::SetRestore(LinkBusAccess &bus, const LustBus::Catalogue &catalogue, int station,
                       Confirm confirm)
    : m_bus(bus), m_catalogue(catalogue), m_station(station), m_confirm(std::move(confirm))
{
}

QString SetRestore::lacksValues(const ParameterSet &set)
{
    if (set.values.isEmpty())
        return QStringLiteral("%1 holds no parameter to restore").arg(set.path);
    QStringList missing;
    for (const ParameterSet::Value &value : set.values) {
        if (!value.error.isEmpty())
            missing.append(value.name);
    }
    if (missing.size() == set.values.size())
        return QStringLiteral("%1 holds no value to restore (%2 parameters, none read)")
            .arg(set.path)
            .arg(set.values.size());
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("%1 is incomplete: %2 of %3 parameters have no value (%4); "
                          "--partial restores the others")
        .arg(set.path)
        .arg(missing.size())
        .arg(set.values.size())
        .arg(missing.join(QLatin1String(", ")));
}

QJsonObject SetRestore::toJson(const ParameterSet::Value &saved, const Step &step)
{
    QJsonObject object{{QStringLiteral("name"), saved.name},
                       {QStringLiteral("outcome"), QLatin1String(outcomeName(step.outcome))}};
    if (saved.error.isEmpty())
        object.insert(QStringLiteral("set"),
                      ValueText::toJson(saved.type, saved.host, saved.isArray()));
    if (step.outcome != Skipped && !step.live.isEmpty())
        object.insert(QStringLiteral("live"),
                      ValueText::toJson(saved.type, step.live, saved.isArray()));
    if (!step.why.isEmpty())
        object.insert(step.troubled || step.outcome == Skipped ? QStringLiteral("error")
                                                               : QStringLiteral("note"),
                      step.why);
    return object;
}

SetRestore::Next SetRestore::afterRequest(const BusAccess::Result &result)
{
    if (result.outcome == BusAccess::Stopped)
        return Next::Signal;
    const IdentityCheck::Outcome identity = m_confirm(&m_lost);
    return identity == IdentityCheck::Same      ? Next::Go
           : identity == IdentityCheck::Stopped ? Next::Signal
                                                : Next::IdentityLost;
}

SetRestore::Next SetRestore::restoreOne(const ParameterSet::Value &saved, bool dryRun, Step *step)
{
    const CatalogueEntry *entry = m_catalogue.find(saved.name);
    if (!saved.error.isEmpty()) {
        step->decide(Skipped, QStringLiteral("the set holds no value (%1)").arg(saved.error));
        return Next::Go;
    }
    if (!entry || !saved.matches(*entry)) {
        step->decide(Skipped, QStringLiteral("not in catalogue %1 as in the set")
                                  .arg(m_catalogue.fileName()));
        return Next::Go;
    }
    const BusAccess::Result read = m_bus.readHost(m_station, *entry, &step->live);
    // A value read over a link reopened since is not taken: it may be another drive's.
    if (const Next next = afterRequest(read); next != Next::Go)
        return next;
    if (read.outcome != BusAccess::Done)
        step->decide(read.error == RequestGuard::notTriedText(m_station) ? NotTried : Failed,
                     read.error);
    else if (step->live == saved.host)
        step->decide(Unchanged);
    else if (entry->readOnly)
        step->decide(ReadOnlyDifferent);
    else if (const QString outside = outsideRange(*entry, saved); !outside.isEmpty())
        step->decide(Refused, outside);
    else if (dryRun)
        step->decide(WouldWrite);
    else
        return writeOne(*entry, saved, step);
    return Next::Go;
}

SetRestore::Next SetRestore::writeOne(const CatalogueEntry &entry,
                                      const ParameterSet::Value &saved, Step *step)
{
    WriteWatch::Outcome written = WriteWatch::Refused;
    const BusAccess::Result sent = m_bus.writeHost(m_station, entry, saved.host, &written);
    step->decide(outcomeOf(written), sent.error);
    if (const Next next = afterRequest(sent); next != Next::Go || written == WriteWatch::Refused)
        return next;
    // Every write that may have gone out is read back: it confirms a done one and
    // settles an unknown one.
    QByteArray back;
    const BusAccess::Result read = m_bus.readHost(m_station, entry, &back);
    if (const Next next = afterRequest(read); next != Next::Go)
        return next;
    const bool readOk = read.outcome == BusAccess::Done;
    if (written == WriteWatch::Unknown) {
        QString note;
        const Outcome settled = outcomeOf(WriteWatch::settle(
            readOk, back == saved.host, back == step->live,
            readOk ? saved.text(back) : read.error, &note));
        step->decide(settled, settled == Unknown ? sent.error + QStringLiteral("; ") + note : note);
    } else if (!readOk || back != saved.host) {
        step->why = readOk ? QStringLiteral("read back %1, not %2").arg(saved.text(back),
                                                                         saved.text())
                           : QStringLiteral("read back: ") + read.error;
        step->troubled = true;
    }
    return Next::Go;
}

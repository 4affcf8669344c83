#include "websets.h"

#include "setbackup.h"
#include "setcomparison.h"
#include "setrestore.h"
#include "valuetext.h"
#include "webjson.h"
#include "websessions.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QMap>
#include <QtCore/QSet>

#include <algorithm>

using LustBus::CatalogueEntry;
using WebJson::error;

namespace {

QJsonValue orNull(const QJsonValue &value)
{
    return value.isUndefined() ? QJsonValue(QJsonValue::Null) : value;
}

QJsonValue valueJson(const ParameterSet::Value *value)
{
    if (!value || !value->error.isEmpty())
        return QJsonValue::Null;
    return ValueText::toJson(value->type, value->host, value->isArray());
}

// The drive at station as a backup or restore started with it: Same until the link is
// reopened, then the identity read again.
SetBackup::Confirm driveConfirm(WebBus &bus, int station)
{
    return [&bus, station, reopens = bus.bus().reopens()](QString *lost) mutable {
        if (bus.bus().reopens() == reopens)
            return IdentityCheck::Same;
        const QString refusal = bus.writeRefusal(station);
        if (bus.isEnding())
            return IdentityCheck::Stopped;
        if (!refusal.isEmpty()) {
            *lost = refusal;
            return IdentityCheck::Changed;
        }
        reopens = bus.bus().reopens();
        return IdentityCheck::Same;
    };
}

// A row of a restore's preview: name, saved and live values, the action and why.
QJsonObject previewRow(const ParameterSet::Value &saved, const SetRestore::Step &step)
{
    QJsonObject row = SetRestore::toJson(saved, step);
    const QString outcome = row.take(QStringLiteral("outcome")).toString();
    const QString why = row.take(QStringLiteral("error")).toString();
    row.remove(QStringLiteral("note"));
    row.insert(QStringLiteral("saved"), row.take(QStringLiteral("set")));
    row.insert(QStringLiteral("live"), orNull(row.value(QStringLiteral("live"))));
    const bool write = step.outcome == SetRestore::WouldWrite;
    const bool unchanged = step.outcome == SetRestore::Unchanged;
    row.insert(QStringLiteral("action"), write       ? QStringLiteral("write")
                                         : unchanged ? QStringLiteral("unchanged")
                                                     : QStringLiteral("skip"));
    row.insert(QStringLiteral("why"), write || unchanged ? QString()
                                      : why.isEmpty()    ? outcome
                                                         : outcome + QStringLiteral(": ") + why);
    return row;
}

} // namespace

struct WebSets::Restore
{
    int id = 0;
    int station = 0;
    QString user;
    ParameterSet set;
    std::unique_ptr<SetRestore> restore;
    int done = 0;
    QMap<QString, int> counts;
    QJsonObject item;
    QString error;
    bool finished = false;
};

bool WebSets::readSet(const QJsonObject &json, const char *field, ParameterSet *set,
                      WebBus::Reply *refusal, bool sameCatalogue) const
{
    const QJsonValue value = json.value(QLatin1String(field));
    QString why;
    if (!value.isObject()
        || !ParameterSet::fromJson(QJsonDocument(value.toObject()).toJson(),
                                   QStringLiteral("the set \"%1\"").arg(QLatin1String(field)), set,
                                   &why)) {
        *refusal = error(400, why.isEmpty() ? QStringLiteral("\"%1\" must be a parameter set")
                                                  .arg(QLatin1String(field))
                                            : why);
        return false;
    }
    if (!sameCatalogue)
        return true;
    const LustBus::Catalogue *catalogue = m_bus.catalogue();
    QStringList unknown;
    for (const ParameterSet::Value &saved : set->values) {
        if (!catalogue || !catalogue->find(saved.name))
            unknown.append(saved.name);
    }
    if (!unknown.isEmpty()) {
        *refusal = error(422, QStringLiteral("the set comes from another catalogue: %1 has no "
                                             "%2")
                                  .arg(catalogue ? catalogue->fileName()
                                                 : QStringLiteral("lustbus web without a "
                                                                  "catalogue"),
                                       unknown.join(QLatin1String(", "))));
        return false;
    }
    return true;
}

std::function<bool(WebBus::Reply *)> WebSets::backupSteps(int station, Done done)
{
    auto backup = std::make_shared<std::unique_ptr<SetBackup>>();
    return [this, station, backup, done](WebBus::Reply *reply) {
        if (!*backup) {
            // The identity first, as lustbus backup reads it; a drive that cannot be
            // identified is backed up all the same.
            m_bus.writeRefusal(station);
            *backup = std::make_unique<SetBackup>(
                m_bus.bus(), *m_bus.catalogue(), station, m_bus.settings().linkDescription,
                m_bus.identity(station), driveConfirm(m_bus, station));
            return false;
        }
        if (!(*backup)->atEnd() && !(*backup)->readNext())
            *reply = error(503, QStringLiteral("the server stops"));
        else if (!(*backup)->atEnd())
            return false;
        else
            done((*backup)->set(), reply);
        return true;
    };
}

WebBus::Reply WebSets::backup(int station)
{
    if (!m_bus.catalogue())
        return error(409, QStringLiteral("a backup needs a catalogue: start lustbus web with "
                                         "--catalogue FILE"));
    return m_bus.run(backupSteps(station, [station](const ParameterSet &set, WebBus::Reply *reply) {
        // As lustbus backup -o FILE writes it.
        reply->file = QJsonDocument(set.toJson()).toJson();
        reply->fileName = QStringLiteral("station%1.json").arg(station);
    }));
}

QByteArray WebSets::fingerprint(int station, const ParameterSet &set)
{
    return QCryptographicHash::hash(QByteArray::number(station) + '\n'
                                        + QJsonDocument(set.toJson()).toJson(QJsonDocument::Compact),
                                    QCryptographicHash::Sha256);
}

WebBus::Reply WebSets::preview(int station, const QJsonObject &json)
{
    auto set = std::make_shared<ParameterSet>();
    WebBus::Reply refusal;
    if (!readSet(json, "set", set.get(), &refusal))
        return refusal;
    auto rows = std::make_shared<QJsonArray>();
    auto restore = std::make_shared<std::unique_ptr<SetRestore>>();
    const QByteArray token = WebSessions::randomToken();
    return m_bus.run([this, station, set, rows, restore, token](WebBus::Reply *reply) {
        if (!*restore) {
            m_bus.writeRefusal(station); // the drive's identity, for the comparison
            *restore = std::make_unique<SetRestore>(m_bus.bus(), *m_bus.catalogue(), station,
                                                    driveConfirm(m_bus, station));
        }
        if (rows->size() < set->values.size()) {
            const ParameterSet::Value &saved = set->values.at(rows->size());
            SetRestore::Step step;
            const SetRestore::Next next = (*restore)->restoreOne(saved, true, &step);
            if (next != SetRestore::Next::Go) {
                *reply = error(next == SetRestore::Next::Signal ? 503 : 409,
                               next == SetRestore::Next::Signal ? QStringLiteral("the server stops")
                                                                : (*restore)->lost());
                return true;
            }
            rows->append(previewRow(saved, step));
            return false;
        }
        const DriveIdentity drive = m_bus.identity(station);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tokens.insert(token, fingerprint(station, *set));
            m_tokenOrder.append(token);
            if (m_tokenOrder.size() > KeptTokens)
                m_tokens.remove(m_tokenOrder.takeFirst());
        }
        const LustBus::Catalogue &catalogue = *m_bus.catalogue();
        *reply = {200,
                  {{QStringLiteral("rows"), *rows},
                   {QStringLiteral("identity"),
                    QJsonObject{{QStringLiteral("set"), set->identity.toJson()},
                                {QStringLiteral("drive"), drive.toJson()},
                                {QStringLiteral("same"), set->identity == drive}}},
                   {QStringLiteral("catalogue"), set->catalogueMismatch(catalogue).isEmpty()
                                                     ? QJsonValue(QJsonValue::Null)
                                                     : QJsonValue(set->catalogueMismatch(catalogue))},
                   {QStringLiteral("token"), QString::fromLatin1(token)}}};
        return true;
    });
}

WebBus::Reply WebSets::restore(int station, const QJsonObject &json, const QString &token,
                               const QString &user)
{
    auto state = std::make_shared<Restore>();
    WebBus::Reply refusal;
    if (!readSet(json, "set", &state->set, &refusal))
        return refusal;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto previewed = m_tokens.constFind(token.toLatin1());
        if (token.isEmpty() || previewed == m_tokens.cend()
            || *previewed != fingerprint(station, state->set))
            return error(409, QStringLiteral("no preview of this set on station %1: preview it "
                                             "first")
                                  .arg(station));
        state->id = ++m_lastId;
    }
    state->station = station;
    state->user = user;
    return m_bus.call([this, state] {
        const QString refused = m_bus.writeRefusal(state->station);
        if (!refused.isEmpty())
            return WebBus::Reply{409, {{QStringLiteral("outcome"), QStringLiteral("refused")},
                                       {QStringLiteral("error"), refused}}};
        state->restore = std::make_unique<SetRestore>(m_bus.bus(), *m_bus.catalogue(),
                                                      state->station,
                                                      driveConfirm(m_bus, state->station));
        publish(*state);
        // It runs to its end, whether its client stays or not.
        m_bus.post([this, state] { return restoreStep(*state); }, [this, state] {
            state->finished = true;
            state->error = QStringLiteral("the server stops");
            publish(*state);
        });
        return WebBus::Reply{202, {{QStringLiteral("id"), state->id}}};
    });
}

bool WebSets::restoreStep(Restore &state)
{
    const ParameterSet::Value &saved = state.set.values.at(state.done);
    SetRestore::Step step;
    m_bus.holdWritesFor(state.station);
    const SetRestore::Next next = state.restore->restoreOne(saved, false, &step);
    if (step.decided) {
        const QJsonObject row = SetRestore::toJson(saved, step);
        const QString outcome = row.value(QStringLiteral("outcome")).toString();
        ++state.counts[outcome];
        state.item = {{QStringLiteral("name"), saved.name}, {QStringLiteral("outcome"), outcome}};
        if (step.troubled || step.outcome == SetRestore::Skipped)
            state.item.insert(QStringLiteral("error"), step.why);
        else
            state.item.insert(QStringLiteral("value"), row.value(QStringLiteral("set")));
        if (step.outcome == SetRestore::Done || step.outcome == SetRestore::Refused
            || step.outcome == SetRestore::Unknown)
            m_bus.logWrite(state.user, state.station, saved.name,
                           row.value(QStringLiteral("live")), row.value(QStringLiteral("set")),
                           outcome);
    }
    ++state.done;
    if (next != SetRestore::Next::Go) {
        state.error = next == SetRestore::Next::Signal ? QStringLiteral("the server stops")
                                                       : state.restore->lost()
                                                             + QStringLiteral("; nothing more "
                                                                              "is written");
        state.finished = true;
    }
    state.finished = state.finished || state.done >= state.set.values.size();
    publish(state, step.decided ? state.item : QJsonObject());
    return state.finished;
}

void WebSets::publish(const Restore &state, const QJsonObject &newItem)
{
    QJsonObject summary;
    for (auto it = state.counts.cbegin(); it != state.counts.cend(); ++it)
        summary.insert(it.key(), it.value());
    QJsonObject event{{QStringLiteral("id"), state.id},
                      {QStringLiteral("station"), state.station},
                      {QStringLiteral("done"), state.done},
                      {QStringLiteral("total"), int(state.set.values.size())},
                      {QStringLiteral("item"), state.item.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                    : QJsonValue(state.item)},
                      {QStringLiteral("finished"), state.finished},
                      {QStringLiteral("summary"), summary}};
    if (!state.error.isEmpty())
        event.insert(QStringLiteral("error"), state.error);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Kept &kept = m_restores[state.id];
        kept.last = event;
        if (!newItem.isEmpty())
            kept.items.append(newItem);
        while (m_restores.size() > KeptRestores)
            m_restores.remove(*std::min_element(m_restores.keyBegin(), m_restores.keyEnd()));
    }
    m_bus.broadcast("restore", event);
}

WebBus::Reply WebSets::restoreState(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_restores.constFind(id);
    if (it == m_restores.cend())
        return error(404, QStringLiteral("no restore %1").arg(id));
    QJsonObject state = it->last;
    state.insert(QStringLiteral("items"), it->items);
    return {200, state};
}

WebBus::Reply WebSets::comparison(const ParameterSet &a, const ParameterSet &b)
{
    QStringList names;
    for (const ParameterSet *set : {&a, &b}) {
        for (const ParameterSet::Value &value : set->values) {
            if (!names.contains(value.name))
                names.append(value.name);
        }
    }
    QSet<QString> different;
    for (const SetComparison::Difference &difference : SetComparison::compare(a, b))
        different.insert(difference.json.value(QStringLiteral("name")).toString());
    QJsonArray rows;
    for (const QString &name : qAsConst(names))
        rows.append(QJsonObject{{QStringLiteral("name"), name},
                                {QStringLiteral("a"), valueJson(a.find(name))},
                                {QStringLiteral("b"), valueJson(b.find(name))},
                                {QStringLiteral("same"), !different.contains(name)}});
    return {200, {{QStringLiteral("rows"), rows},
                  {QStringLiteral("different"), int(different.size())}}};
}

WebBus::Reply WebSets::compare(const QJsonObject &a, const QJsonObject &b)
{
    ParameterSet first, second;
    WebBus::Reply refusal;
    if (!readSet({{QStringLiteral("a"), a}}, "a", &first, &refusal, false)
        || !readSet({{QStringLiteral("b"), b}}, "b", &second, &refusal, false))
        return refusal;
    return comparison(first, second);
}

WebBus::Reply WebSets::compareLive(const QJsonObject &a, int station)
{
    auto first = std::make_shared<ParameterSet>();
    WebBus::Reply refusal;
    if (!readSet({{QStringLiteral("a"), a}}, "a", first.get(), &refusal, false))
        return refusal;
    if (!m_bus.catalogue())
        return error(409, QStringLiteral("a comparison with the drive needs a catalogue: start "
                                         "lustbus web with --catalogue FILE"));
    return m_bus.run(backupSteps(station, [first](const ParameterSet &live, WebBus::Reply *reply) {
        *reply = comparison(*first, live);
    }));
}

WebBus::Reply WebSets::scan(int from, int to)
{
    int id = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        id = ++m_lastId;
    }
    CatalogueEntry probe;
    QString why;
    m_bus.resolve(QStringLiteral("USIGN32:1"), &probe, &why);
    auto found = std::make_shared<QJsonArray>();
    auto next = std::make_shared<int>(from);
    const auto event = [id, from, to, found, next](bool finished) {
        return QJsonObject{{QStringLiteral("id"), id},
                           {QStringLiteral("done"), *next - from},
                           {QStringLiteral("total"), to - from + 1},
                           {QStringLiteral("found"), *found},
                           {QStringLiteral("finished"), finished}};
    };
    m_bus.post([this, probe, found, next, to, event] {
        // One attempt per station: a station that answers at all is there.
        QJsonValue value;
        const int station = (*next)++;
        const BusAccess::Result result = m_bus.bus().read(station, probe, &value, true);
        m_bus.noteLine(station, result, 0);
        if (result.line == BusAccess::Answered)
            found->append(station);
        const bool finished = *next > to || result.outcome == BusAccess::Stopped;
        m_bus.broadcast("scan", event(finished));
        return finished;
    }, [this, event] { m_bus.broadcast("scan", event(true)); });
    return {202, {{QStringLiteral("id"), id}}};
}

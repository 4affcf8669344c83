#include "faultplan.h"

#include <QtCore/QStringList>

namespace LustBusSim {

namespace {

const char *const kindNames[FaultKindCount] = {"noreply", "truncate", "corrupt",
                                               "wrongstation", "nak", "split",
                                               "delay", "garbage"};

int defaultMs(FaultKind kind)
{
    return kind == FaultKind::Delay ? 1000 : kind == FaultKind::Split ? 2 : 0;
}

} // namespace

QString faultKindName(FaultKind kind)
{
    return QLatin1String(kindNames[int(kind)]);
}

bool operator==(const FaultRule &a, const FaultRule &b)
{
    return a.kind == b.kind && a.count == b.count && a.rate == b.rate && a.ms == b.ms;
}

bool FaultPlan::parse(const QString &text, FaultPlan *plan, QString *error)
{
    FaultPlan parsed;
    const QStringList entries = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &rawEntry : entries) {
        const QString entry = rawEntry.trimmed();
        auto fail = [&](const QString &why) {
            *error = QStringLiteral("fault \"%1\": %2").arg(entry, why);
            return false;
        };
        const int colon = entry.indexOf(QLatin1Char(':'));
        if (colon < 0)
            return fail(QStringLiteral("expected KIND:AMOUNT"));
        const QString name = entry.left(colon).trimmed().toLower();
        QString amount = entry.mid(colon + 1).trimmed();
        bool ok = false;

        if (name == QLatin1String("seed")) {
            const uint seed = amount.toUInt(&ok, 10);
            if (!ok)
                return fail(QStringLiteral("seed \"%1\" is not a whole number").arg(amount));
            parsed.seed = seed;
            continue;
        }
        FaultRule rule;
        int kind = 0;
        while (kind < FaultKindCount && name != QLatin1String(kindNames[kind]))
            ++kind;
        if (kind == FaultKindCount) {
            return fail(QStringLiteral("unknown kind \"%1\" (noreply, truncate, corrupt, "
                                       "wrongstation, nak, split, delay, garbage or seed)")
                            .arg(name));
        }
        rule.kind = FaultKind(kind);
        rule.ms = defaultMs(rule.kind);
        const int at = amount.indexOf(QLatin1Char('@'));
        if (at >= 0) {
            if (rule.kind != FaultKind::Delay && rule.kind != FaultKind::Split)
                return fail(QStringLiteral("only delay and split take @MS"));
            const QString msText = amount.mid(at + 1).trimmed();
            rule.ms = msText.toInt(&ok, 10);
            if (!ok || rule.ms < 0 || msText.startsWith(QLatin1Char('+')))
                return fail(QStringLiteral("\"%1\" is not a number of milliseconds").arg(msText));
            amount = amount.left(at).trimmed();
        }
        if (amount.contains(QLatin1Char('.'))) {
            rule.rate = amount.toDouble(&ok);
            if (!ok || !(rule.rate >= 0.0 && rule.rate <= 1.0))
                return fail(QStringLiteral("rate \"%1\" is not from 0 to 1").arg(amount));
        } else {
            rule.count = amount.toInt(&ok, 10);
            if (!ok || rule.count < 1 || amount.startsWith(QLatin1Char('+'))) {
                return fail(QStringLiteral("amount \"%1\" is neither a count of 1 or more nor "
                                           "a rate with a decimal point").arg(amount));
            }
        }
        parsed.rules.append(rule);
    }
    *plan = parsed;
    return true;
}

QString FaultPlan::toText() const
{
    QStringList entries;
    for (const FaultRule &rule : rules) {
        QString entry = faultKindName(rule.kind) + QLatin1Char(':');
        if (rule.count > 0)
            entry += QString::number(rule.count);
        else
            entry += QString::number(rule.rate, 'f', qMax(1, 6));
        if (rule.ms != defaultMs(rule.kind))
            entry += QLatin1Char('@') + QString::number(rule.ms);
        entries.append(entry);
    }
    entries.append(QStringLiteral("seed:%1").arg(seed));
    return entries.join(QLatin1Char(','));
}

} // namespace LustBusSim

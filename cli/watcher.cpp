#include "watcher.h"

#include <QSet>

#include <algorithm>

namespace {
bool SameClaim(const Appliance& a, const Appliance& b)
{
    return a.nIp == b.nIp && a.strSerial == b.strSerial;
}
} // namespace

QList<WatchEvent> CWatcher::Round(const QList<Appliance>& heard)
{
    QList<WatchEvent> events;
    QHash<QString, Appliance> heardOnce;
    QSet<QString> answered;
    for (const Appliance& heardAs : heard) {
        const QString& strKey = heardAs.strMacKey;
        if (strKey.isEmpty() || !heardAs.Proven()) {
            ++m_nUnproven;
            continue;
        }
        answered.insert(strKey);
        const auto known = m_known.find(strKey);
        Appliance a = heardAs;
        if (!a.otherClaims.isEmpty() && (known == m_known.end() || a.nIp != known->appliance.nIp)) {
            // Two hosts answer for one MAC, each from the address it names:
            // the one where it is known to be is taken; if neither is there,
            // nothing of it changes while the contest lasts.
            const auto there = std::find_if(a.otherClaims.cbegin(), a.otherClaims.cend(),
                                            [&](const ApplianceClaim& c) {
                                                return known != m_known.end() && c.nIp == known->appliance.nIp;
                                            });
            if (there == a.otherClaims.cend()) {
                if (known != m_known.end())
                    known->nMissed = 0;
                continue;
            }
            a.strIp = there->strIp;
            a.nIp = a.nFrom = there->nIp;
            a.strSerial = there->strSerial;
        }
        if (known != m_known.end() && SameClaim(known->appliance, a)) {
            known->appliance = a;
            known->nMissed = 0;
            continue;
        }
        // New, or somewhere new: believed when the next round says the same.
        const auto once = m_heardOnce.constFind(strKey);
        if (once == m_heardOnce.constEnd() || !SameClaim(*once, a)) {
            heardOnce.insert(strKey, a);
            if (known != m_known.end())
                known->nMissed = 0;
            continue;
        }
        if (known == m_known.end()) {
            events.append({WatchEvent::EKind::Appeared, a, {}, {}, {}});
            m_known.insert(strKey, {a, 0});
            continue;
        }
        if (known->appliance.nIp != a.nIp)
            events.append({WatchEvent::EKind::Moved, a, known->appliance.strIp, {}, {}});
        if (known->appliance.strSerial != a.strSerial)
            events.append({WatchEvent::EKind::Changed, a, {}, known->appliance.strSerial, {}});
        *known = {a, 0};
    }
    m_heardOnce = std::move(heardOnce);

    QList<Appliance> gone;
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (!answered.contains(it.key()) && ++it->nMissed >= m_nGoneAfter) {
            gone.append(it->appliance);
            it = m_known.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(gone.begin(), gone.end(), MacOrder);
    for (const Appliance& a : gone)
        events.append({WatchEvent::EKind::Gone, a, {}, {}, {}});
    return events;
}

void CWatcher::Place(const Appliance& appliance)
{
    m_known.insert(appliance.strMacKey, {appliance, 0});
    m_heardOnce.remove(appliance.strMacKey);
}

QList<Appliance> CWatcher::Present() const
{
    QList<Appliance> list;
    list.reserve(m_known.size());
    for (const Known& known : m_known)
        list.append(known.appliance);
    std::sort(list.begin(), list.end(), MacOrder);
    return list;
}

QList<Appliance> CWatcher::Answering() const
{
    QList<Appliance> list;
    for (const Known& known : m_known)
        if (known.nMissed == 0)
            list.append(known.appliance);
    std::sort(list.begin(), list.end(), MacOrder);
    return list;
}

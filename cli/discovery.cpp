#include "discovery.h"

#include "addresssweep.h"
#include "devicereplies.h"

#include <QNetworkInterface>

#include <algorithm>

namespace {
// Replies come in any order; the lists keep one, so that two runs over the
// same network print the same: interfaces by name, and in foundBy the
// broadcasts by interface name, then the sweep.
void AddInOrder(QStringList& to, const QString& strWhat)
{
    if (strWhat.isEmpty() || to.contains(strWhat))
        return;
    const auto before = [](const QString& a, const QString& b) {
        const bool bScanA = a == QLatin1String("scan"), bScanB = b == QLatin1String("scan");
        return bScanA != bScanB ? bScanB : a < b;
    };
    to.insert(std::upper_bound(to.cbegin(), to.cend(), strWhat, before), strWhat);
}
} // namespace

void CDiscovery::Add(const DeviceOrigin& origin, Appliance appliance)
{
    // What merges an appliance: its MAC in the one form, or the text
    // upper-cased when it is no MAC, so such an appliance is still listed.
    const QString strKey = appliance.strMacKey.isEmpty() ? appliance.strMac.toUpper() : appliance.strMacKey;
    const auto it = m_byMac.constFind(strKey);
    if (it != m_byMac.constEnd()) {
        Appliance& heard = m_found[*it];
        // A reply from the address it reports stands: a later one naming
        // the same MAC, from anyone, may not displace it. One from the
        // address it names elsewhere is kept beside it.
        if (heard.Proven() && !appliance.SameIp(heard)) {
            const bool bNew = std::none_of(heard.otherClaims.cbegin(), heard.otherClaims.cend(),
                                           [&](const ApplianceClaim& c) { return c.nIp == appliance.nFrom; });
            if (appliance.Proven() && bNew)
                heard.otherClaims.append({appliance.nFrom, appliance.strIp, appliance.strSerial});
            return;
        }
        if (heard.Proven() && !appliance.Proven())
            return;
        appliance.interfaces = heard.interfaces;
        appliance.foundBy = heard.foundBy;
        appliance.otherClaims = heard.otherClaims;
    }
    AddInOrder(appliance.interfaces, InterfaceName(origin.nInterface));
    AddInOrder(appliance.foundBy, FoundBy(appliance.nFrom, origin.nInterface));
    if (it != m_byMac.constEnd()) {
        m_found[*it] = std::move(appliance);
        return;
    }
    m_byMac.insert(strKey, m_found.size());
    m_found.append(std::move(appliance));
}

QString CDiscovery::FoundBy(quint32 nAddress, int nInterface)
{
    // The first reply from an address after the sweep's request to it is
    // the sweep's; one before it, or a second one, the broadcast's.
    const bool bSwept = m_sweep.HasSent(nAddress);
    if (!m_bBroadcast || (bSwept && m_sweepReplies[nAddress]++ == 0))
        return QStringLiteral("scan");
    const QString strInterface = InterfaceName(nInterface);
    return strInterface.isEmpty() ? QStringLiteral("broadcast") : QStringLiteral("broadcast:") + strInterface;
}

// Asked of the system once per interface: thousands of replies come in on a few.
const QString& CDiscovery::InterfaceName(int nInterface)
{
    auto it = m_interfaceNames.find(nInterface);
    if (it == m_interfaceNames.end())
        it = m_interfaceNames.insert(nInterface, QNetworkInterface::interfaceNameFromIndex(nInterface));
    return *it;
}

QList<Appliance> CDiscovery::Sorted() const
{
    QList<Appliance> list = m_found;
    std::stable_sort(list.begin(), list.end(), MacOrder);
    return list;
}

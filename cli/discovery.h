// CDiscovery: the replies of one discovery gathered into appliances, merged
// by MAC (in any form, by strMacKey), each with the interfaces it was heard on and how it
// was found. A reply does not say which request it answers: the sweep's
// are told from the broadcast's by when they come (FoundBy).
#pragma once

#include "addressrange.h"
#include "addresssweep.h"
#include "appliance.h"

#include <QHash>
#include <QList>

// A sweep of address ranges beside (or instead of) the broadcast.
struct SweepOptions {
    CAddressRanges ranges;
    int nRate = SWEEP_DEFAULT_RATE;
    bool bBroadcast = true;
};

struct DeviceOrigin;

class CDiscovery {
public:
    CDiscovery(const CAddressSweep& sweep, bool bBroadcast) : m_sweep(sweep), m_bBroadcast(bBroadcast) {}

    // A round begins: the sweep asks every address again.
    void NewRound() { m_sweepReplies.clear(); }
    // One reply from origin, as Appliance::Heard parsed it.
    void Add(const DeviceOrigin& origin, Appliance heard);

    // In the order first heard.
    const QList<Appliance>& Found() const { return m_found; }
    // In MAC order (MacOrder), for output.
    QList<Appliance> Sorted() const;

private:
    QString FoundBy(quint32 nAddress, int nInterface);
    const QString& InterfaceName(int nInterface);

    const CAddressSweep& m_sweep;
    bool m_bBroadcast = true;
    QList<Appliance> m_found;
    QHash<QString, qsizetype> m_byMac;     // strMacKey, or the text upper-cased -> index in m_found
    QHash<quint32, int> m_sweepReplies;    // this round's replies from swept addresses
    QHash<int, QString> m_interfaceNames;  // by index
};

// The host's network interfaces as the endpoint uses them: a limited
// broadcast leaves by the default route's interface only, so discovery and
// the change of address go out once on each broadcast-capable interface, and
// a command goes out of the interface its appliance answered on.
#pragma once

#include "ipv4text.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QSet>

// Interfaces that are up, running and broadcast-capable and hold an IPv4
// address, in the system's order.
QList<QNetworkInterface> BroadcastInterfaces();

// True when an IPv4 subnet of some interface of this host holds addr.
bool InLocalSubnet(const QHostAddress& addr);

// The IPv4 subnets of this host with hosts besides their network and
// broadcast addresses (not /31, /32): a unicast to either of those reaches
// every host.
using LocalSubnet = Ipv4Subnet;
QList<LocalSubnet> LocalSubnets();
// UnusableIpv4Reason (ipv4text.h) against the subnets of this host.
QString UnusableIpv4Reason(quint32 nIp);
// Their network and broadcast addresses.
QSet<quint32> LocalSubnetEdges();

// An IPv4 address of this host, with the interface that holds it.
struct LocalAddress {
    quint32 nIp = 0;
    QString strInterface;
};
QList<LocalAddress> LocalAddresses();

// One look at this host's interfaces, for checks of many addresses against
// them: a plan of half a million would otherwise list every interface that
// often. Taken for such a check only, as interfaces come and go.
class CInterfaceSnapshot {
public:
    CInterfaceSnapshot();

    const QList<LocalSubnet>& Subnets() const { return m_subnets; }
    const QList<LocalAddress>& Addresses() const { return m_addresses; }
    // UnusableIpv4Reason (ipv4text.h) against these subnets.
    QString UnusableReason(quint32 nIp) const { return UnusableIpv4Reason(nIp, m_subnets); }

private:
    QList<LocalSubnet> m_subnets;
    QList<LocalAddress> m_addresses;
};

#include "interfaces.h"

#include <algorithm>

namespace {
QList<LocalSubnet> ReadSubnets(const QList<QNetworkInterface>& interfaces)
{
    QList<LocalSubnet> subnets;
    for (const QNetworkInterface& iface : interfaces) {
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            const int nPrefix = entry.prefixLength();
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && nPrefix >= 1 && nPrefix <= 30)
                subnets.append(Ipv4Subnet::Of(entry.ip().toIPv4Address(), nPrefix));
        }
    }
    return subnets;
}

QList<LocalAddress> ReadAddresses(const QList<QNetworkInterface>& interfaces)
{
    QList<LocalAddress> addresses;
    for (const QNetworkInterface& iface : interfaces)
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                addresses.append({entry.ip().toIPv4Address(), iface.name()});
    return addresses;
}

bool HasIpv4(const QNetworkInterface& iface)
{
    const QList<QNetworkAddressEntry> entries = iface.addressEntries();
    return std::any_of(entries.begin(), entries.end(), [](const QNetworkAddressEntry& entry) {
        return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
    });
}
} // namespace

QList<QNetworkInterface> BroadcastInterfaces()
{
    QList<QNetworkInterface> list;
    const auto wanted = QNetworkInterface::IsUp | QNetworkInterface::IsRunning | QNetworkInterface::CanBroadcast;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        if ((iface.flags() & wanted) == wanted && !(iface.flags() & QNetworkInterface::IsLoopBack) && HasIpv4(iface))
            list.append(iface);
    return list;
}

bool InLocalSubnet(const QHostAddress& addr)
{
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && entry.prefixLength() > 0 &&
                addr.isInSubnet(entry.ip(), entry.prefixLength()))
                return true;
    return false;
}

QList<LocalSubnet> LocalSubnets()
{
    return ReadSubnets(QNetworkInterface::allInterfaces());
}

QSet<quint32> LocalSubnetEdges()
{
    QSet<quint32> edges;
    for (const LocalSubnet& subnet : LocalSubnets())
        edges << subnet.nNetwork << subnet.Broadcast();
    return edges;
}

QList<LocalAddress> LocalAddresses()
{
    return ReadAddresses(QNetworkInterface::allInterfaces());
}

CInterfaceSnapshot::CInterfaceSnapshot()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    m_subnets = ReadSubnets(interfaces);
    m_addresses = ReadAddresses(interfaces);
}

QString UnusableIpv4Reason(quint32 nIp)
{
    return UnusableIpv4Reason(nIp, LocalSubnets());
}

#include "appliance.h"

#include "ipv4text.h"
#include "targets.h"

Appliance Appliance::Heard(const QString& strMac, const QString& strIp, const QString& strSerial, quint32 nFrom)
{
    quint32 nIp = 0;
    const bool bIp = ParseIpv4(strIp, nIp);
    return {.strMac = strMac,
            .strIp = strIp,
            .strSerial = strSerial,
            .strMacKey = CanonicalMac(strMac),
            .bIp = bIp,
            .nIp = nIp,
            .nFrom = nFrom};
}

QString Appliance::FromText() const
{
    return nFrom ? Ipv4Text(nFrom) : QString();
}

QString Appliance::IpText() const
{
    return bIp ? Ipv4Text(nIp) : QString();
}

bool MacOrder(const Appliance& a, const Appliance& b)
{
    const auto key = [](const Appliance& x) { return x.strMacKey.isEmpty() ? x.strMac.toUpper() : x.strMacKey; };
    return key(a) < key(b);
}

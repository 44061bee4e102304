#include "segmentguard.h"

#include <QHostAddress>
#include <QNetworkInterface>

// Windows has no network namespaces. The tests run there under wine inside
// tools/private-segment, where wine reports the namespace's loopback alone,
// holding 10.200.0.1; a real Windows machine has an adapter besides.
std::string SegmentRefusal()
{
    bool bSegmentAddress = false;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!(iface.flags() & QNetworkInterface::IsLoopBack))
            return "interface " + iface.humanReadableName().toStdString() + " is not loopback";
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            bSegmentAddress = bSegmentAddress || entry.ip() == QHostAddress(QStringLiteral("10.200.0.1"));
    }
    return bSegmentAddress ? std::string() : "no interface holds 10.200.0.1, the address tools/private-segment gives";
}

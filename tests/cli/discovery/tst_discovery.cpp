// CDiscovery's merge by MAC, fed replies directly: no socket is opened.
#include "addresssweep.h"
#include "devicereplies.h"
#include "devicesocket.h"
#include "discovery.h"

#include <gtest/gtest.h>

namespace {

// A reply from pszFrom, as the session hands it on.
void Add(CDiscovery& discovery, const char* pszFrom, const char* pszSerial, const char* pszMac, const char* pszIp)
{
    const DeviceOrigin origin{QHostAddress(QString::fromLatin1(pszFrom)), 8400, 0};
    discovery.Add(origin, Appliance::Heard(pszMac, pszIp, pszSerial, origin.addr.toIPv4Address()));
}

// Another host may name an appliance anywhere, before or after its own
// reply: the reply from the address it reports is the one kept, and a
// claim from its own address elsewhere is kept beside it.
TEST(Discovery, AReplyFromItsOwnAddressStandsWhateverElseNamesItsMac)
{
    CDeviceSocket socket;
    CAddressSweep sweep(socket);
    CDiscovery discovery(sweep, true);
    Add(discovery, "10.200.1.99", "FORGED", "00:1A:2B:00:00:01", "10.200.1.50");
    Add(discovery, "10.200.1.1", "NV1", "00-1a-2b-00-00-01", "10.200.1.1");
    Add(discovery, "10.200.1.99", "FORGED", "00:1A:2B:00:00:01", "10.200.1.50");
    Add(discovery, "10.200.1.77", "FORGED", "00:1A:2B:00:00:01", "10.200.1.77");
    Add(discovery, "10.200.1.99", "FORGED", "00:1A:2B:00:00:01", "10.200.1.1");
    ASSERT_EQ(discovery.Found().size(), 1);
    const Appliance& a = discovery.Found()[0];
    EXPECT_EQ(a.strSerial, "NV1");
    EXPECT_EQ(a.FromText(), "10.200.1.1");
    ASSERT_EQ(a.otherClaims.size(), 1);
    EXPECT_EQ(a.otherClaims[0].strIp, "10.200.1.77");
    EXPECT_EQ(a.foundBy, QStringList{"broadcast"});
}

} // namespace

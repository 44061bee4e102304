// CDiscovery's merge by MAC, fed replies directly: no socket is opened.
#include "addressrange.h"
#include "addresssweep.h"
#include "devicereplies.h"
#include "devicesocket.h"
#include "discovery.h"

#include <QCoreApplication>
#include <QNetworkInterface>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A reply from pszFrom, as the session hands it on.
void Add(CDiscovery& discovery, const char* pszFrom, const char* pszSerial, const char* pszMac, const char* pszIp,
         int nInterface = 0)
{
    const DeviceOrigin origin{QHostAddress(QString::fromLatin1(pszFrom)), 8400, nInterface};
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

// Appliances write their MAC in several forms, and some write none at all:
// each is one appliance whatever the form, and the lists come out the same
// whichever order the replies came in.
TEST(Discovery, OneAppliancePerMacInAnyFormListedInOneOrder)
{
    CDeviceSocket socket;
    CAddressSweep sweep(socket);
    CDiscovery discovery(sweep, true);
    Add(discovery, "10.200.1.2", "NV2", "00-1a-2b-00-00-02", "10.200.1.2");
    Add(discovery, "10.200.1.9", "ODD", "00:1a:2b:00:00:01-x", "10.200.1.9");
    Add(discovery, "10.200.1.1", "NV1", "001a.2b00.0001", "10.200.1.1");
    Add(discovery, "10.200.1.2", "NV2", "00:1A:2B:00:00:02", "10.200.1.2");
    Add(discovery, "10.200.1.9", "ODD", "00:1A:2B:00:00:01-X", "10.200.1.9");
    Add(discovery, "10.200.1.2", "NV2", "001A2B000002", "10.200.1.2");
    ASSERT_EQ(discovery.Found().size(), 3);
    EXPECT_EQ(discovery.Found()[0].strMac, "001A2B000002"); // the latest form, to name it on the wire
    QStringList sorted;
    for (const Appliance& a : discovery.Sorted())
        sorted << a.strSerial;
    // No MAC, yet among them by its text upper-cased.
    EXPECT_EQ(sorted, QStringList({"NV1", "ODD", "NV2"}));

    // Interfaces and broadcasts by name: not as heard, nor by index. The
    // names are the system's; on most hosts its first and last interface
    // ("lo", "eth0") sort the other way round by name.
    QList<QNetworkInterface> two = QNetworkInterface::allInterfaces();
    if (two.size() < 2)
        GTEST_SKIP() << "this host has fewer than two interfaces to order";
    std::sort(two.begin(), two.end(), [](const auto& a, const auto& b) { return a.index() < b.index(); });
    two = {two.first(), two.last()};
    std::sort(two.begin(), two.end(), [](const auto& a, const auto& b) { return a.name() < b.name(); });
    Add(discovery, "10.200.1.1", "NV1", "00:1A:2B:00:00:01", "10.200.1.1", two[1].index());
    Add(discovery, "10.200.1.1", "NV1", "00:1A:2B:00:00:01", "10.200.1.1", two[0].index());
    const Appliance& nv1 = discovery.Found()[2];
    EXPECT_EQ(nv1.interfaces, QStringList({two[0].name(), two[1].name()}));
    EXPECT_EQ(nv1.foundBy, QStringList({"broadcast", "broadcast:" + two[0].name(), "broadcast:" + two[1].name()}));
}

// A reply does not say which request it answers: from a swept address the
// first of a round is the sweep's, a second one the broadcast's.
TEST(Discovery, FirstReplyFromASweptAddressEachRoundIsTheScans)
{
    int argc = 1;
    char arg0[] = "tst_watcher";
    char* argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv); // the sweep's pacing timer needs one
    // Never opened (no Create): the sweep counts its request as made, and
    // nothing leaves this host.
    CDeviceSocket socket;
    CAddressSweep sweep(socket);
    CAddressRanges ranges;
    QString strError;
    ASSERT_TRUE(ranges.Add(QStringLiteral("10.200.1.5"), strError)) << strError.toStdString();
    sweep.Start(ranges, SWEEP_DEFAULT_RATE);
    ASSERT_FALSE(socket.IsOpen());
    ASSERT_EQ(sweep.Sent(), 0u);
    ASSERT_TRUE(sweep.HasSent(QHostAddress(QStringLiteral("10.200.1.5")).toIPv4Address()));

    CDiscovery discovery(sweep, true);
    Add(discovery, "10.200.1.5", "NV5", "00:1A:2B:00:00:05", "10.200.1.5");
    discovery.NewRound();
    Add(discovery, "10.200.1.5", "NV5", "00:1A:2B:00:00:05", "10.200.1.5");
    EXPECT_EQ(discovery.Found()[0].foundBy, QStringList{"scan"});
    Add(discovery, "10.200.1.5", "NV5", "00:1A:2B:00:00:05", "10.200.1.5");
    EXPECT_EQ(discovery.Found()[0].foundBy, QStringList({"broadcast", "scan"}));
}

} // namespace

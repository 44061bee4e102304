// A host with two interfaces (tools/support/multi-segment): segment A behind ca with
// the default route, segment B behind cb, and on B an appliance at
// 192.168.77.100, in no subnet of this host. The page and norvane must find
// all of them and reach each out of the interface it answered on.
#include "pagetest.h"
#include "segmentcli.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

namespace {

const QSet<QString> kSegmentA{"10.201.0.130", "10.201.0.131", "10.201.0.132"};
const QSet<QString> kSegmentB{"10.202.0.130", "10.202.0.131", "192.168.77.100"};

class MultiSegment : public PageTest {
protected:
    QSet<QString> Rows() const
    {
        QSet<QString> ips;
        for (int i = 0; i < m_page.m_listDevices->GetItemCount(); ++i)
            ips.insert(m_page.m_listDevices->GetItemText(i, 1));
        return ips;
    }
    int RowOf(const QString& strIp) const
    {
        for (int i = 0; i < m_page.m_listDevices->GetItemCount(); ++i)
            if (m_page.m_listDevices->GetItemText(i, 1) == strIp)
                return i;
        return -1;
    }
};

TEST_F(MultiSegment, ThePageListsBothSegmentsAndStartsTheForeignAppliancesLogin)
{
    m_page.OnTimer(TIMER_FIRST_DISCOVERY);
    ASSERT_TRUE(WaitFor([&] { return Rows() == (kSegmentA | kSegmentB); })) << Rows().size() << " rows";
    m_page.OnClickDeviceList(RowOf(QStringLiteral("192.168.77.100")));
    Click("IDC_START_CONFIG");
    ASSERT_TRUE(WaitFor([&] { return !m_ui.m_urls.empty() || !m_ui.m_messages.isEmpty(); }, 6000));
    ASSERT_EQ(m_ui.m_urls.size(), 1u) << m_ui.m_messages.join(' ').toStdString();
    EXPECT_EQ(m_ui.m_urls[0].host(), "192.168.77.100");
}

TEST_F(MultiSegment, AnInterfaceTakenDownLeavesDiscoveryOnTheOtherWithoutBoxes)
{
    m_page.OnTimer(TIMER_FIRST_DISCOVERY);
    ASSERT_TRUE(WaitFor([&] { return Rows().size() == 6; }));
    ASSERT_EQ(QProcess::execute("ip", {"link", "set", "cb", "down"}), 0);
    for (int nRound = 0; nRound < 3; ++nRound) {
        m_page.OnTimer(TIMER_REFRESH);
        EXPECT_TRUE(WaitFor([&] { return Rows() == kSegmentA; }));
    }
    EXPECT_TRUE(m_ui.m_messages.isEmpty()) << m_ui.m_messages.join('|').toStdString();
    const CliRun run = Cli({"discover", "--format", "json", "--timeout", "0.5", "--verbose"});
    EXPECT_EQ(Listed(run.strOut), kSegmentA);
    // Discovery leaves on ca alone, and nothing is said about cb.
    EXPECT_TRUE(run.strErr.contains(QLatin1String("255.255.255.255:8400 on ca"))) << run.strErr.toStdString();
    EXPECT_FALSE(run.strErr.contains(QLatin1String("cb"))) << run.strErr.toStdString();
    const CliRun listed = Cli({"--list-interfaces"});
    EXPECT_TRUE(listed.strOut.startsWith(QLatin1String("ca "))) << listed.strOut.toStdString();
    EXPECT_FALSE(listed.strOut.contains(QLatin1String("cb"))) << listed.strOut.toStdString();
    ASSERT_EQ(QProcess::execute("ip", {"link", "set", "cb", "up"}), 0);
}

TEST(MultiSegmentCli, DiscoverFindsBothSegmentsAndInterfaceRestricts)
{
    const CliRun all = Cli({"discover", "--format", "json", "--timeout", "0.5"});
    ASSERT_EQ(all.nExit, 0) << all.strErr.toStdString();
    EXPECT_EQ(Listed(all.strOut), kSegmentA | kSegmentB);
    for (const QJsonValue& value : QJsonDocument::fromJson(all.strOut.toUtf8()).array()) {
        const QJsonObject entry = value.toObject();
        EXPECT_EQ(entry["interfaces"].toArray(),
                  QJsonArray{kSegmentA.contains(entry["ip"].toString()) ? "ca" : "cb"});
    }
    EXPECT_EQ(Listed(Cli({"discover", "--format", "json", "--timeout", "0.5", "--interface", "cb"}).strOut), kSegmentB);
    EXPECT_EQ(Cli({"discover", "--interface", "nosuch0"}).nExit, 2);
}

TEST(MultiSegmentCli, CommandsReachTheApplianceOutsideEveryLocalSubnet)
{
    QTemporaryDir dir;
    const CliRun backup = Cli({"backup", "192.168.77.100", dir.filePath("foreign.cfg"), "--timeout", "2"});
    EXPECT_EQ(backup.nExit, 0) << backup.strErr.toStdString();
    const CliRun reboot = Cli({"reboot", "192.168.77.100", "--yes", "--timeout", "2"});
    EXPECT_EQ(reboot.nExit, 0) << reboot.strErr.toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    // Only inside tools/support/multi-segment: interfaces lo, ca and cb, nothing else.
    RequirePrivateSegmentOrExit();
    QSet<QString> names;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        names.insert(iface.name());
    if (names != QSet<QString>{"lo", "ca", "cb"}) {
        std::fprintf(stderr, "refusing to run: this test needs the interfaces of tools/support/multi-segment\n");
        return 3;
    }
    qputenv("NORVANE_PASSWORD", "pw");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Appliances behind a router (tools/support/routed-segment): two near ones on the
// client's link, five far ones in 10.212.0.0/16 beyond the router. No
// broadcast crosses it; a sweep of the range must find them, at its rate,
// and set-ip must reach a swept appliance by unicast.
#include "pagetest.h"
#include "segmentcli.h"

#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

const QSet<QString> kNear{"10.210.0.130", "10.210.0.131"};
const QSet<QString> kFar{"10.212.0.1", "10.212.0.2", "10.212.0.3", "10.212.0.4", "10.212.0.5"};

QJsonObject EntryOf(const QString& strJson, const QString& strIp)
{
    for (const QJsonValue& entry : QJsonDocument::fromJson(strJson.toUtf8()).array())
        if (entry.toObject()["ip"].toString() == strIp)
            return entry.toObject();
    return {};
}

// The far simulator's requests whose destination matches, as (type, to, seconds).
struct Logged {
    QString strType;
    QString strTo;
    double dSeconds = 0;
};
QList<Logged> FarRequests(const QString& strToPattern)
{
    QFile log(qEnvironmentVariable("NORVANE_SIM_LOG_FAR"));
    EXPECT_TRUE(log.open(QIODevice::ReadOnly));
    const QRegularExpression line(
        QStringLiteral("^req type=(\\S+) from=\\S+ to=(%1) len=\\d+ t=([0-9.]+)$").arg(strToPattern),
        QRegularExpression::MultilineOption);
    QList<Logged> requests;
    for (auto it = line.globalMatch(QString::fromLatin1(log.readAll())); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        requests.append({match.captured(1), match.captured(2), match.captured(3).toDouble()});
    }
    return requests;
}

TEST(RoutedCli, TheBroadcastStopsAtTheRouterAndTheSweepFindsEveryAppliance)
{
    const CliRun broadcast = Cli({"discover", "--format", "json", "--timeout", "0.5"});
    ASSERT_EQ(broadcast.nExit, 0) << broadcast.strErr.toStdString();
    EXPECT_EQ(Listed(broadcast.strOut), kNear);

    // The near range is swept too: its appliances answer both ways.
    const CliRun swept =
        Cli({"discover", "--format", "json", "--timeout", "0.5", "--scan", "10.212.0.0/24,10.210.0.128/25"});
    ASSERT_EQ(swept.nExit, 0) << swept.strErr.toStdString();
    EXPECT_EQ(Listed(swept.strOut), kNear | kFar);
    EXPECT_EQ(EntryOf(swept.strOut, "10.212.0.4")["found_by"].toArray(), QJsonArray{"scan"});
    // Each round's sweep asks again: its replies are the sweep's, not a broadcast's.
    const CliRun twice = Cli({"discover", "--format", "json", "--timeout", "0.5", "--rounds", "2", "--scan",
                              "10.212.0.0/29"});
    EXPECT_EQ(EntryOf(twice.strOut, "10.212.0.4")["found_by"].toArray(), QJsonArray{"scan"});
    EXPECT_EQ(EntryOf(swept.strOut, "10.210.0.130")["found_by"].toArray(), (QJsonArray{"broadcast:cr", "scan"}));

    const CliRun table = Cli({"discover", "--timeout", "0.5", "--scan", "10.212.0.5", "--no-broadcast"});
    EXPECT_EQ(table.strOut, "MAC                IP          SERIAL      INTERFACE  FOUND BY\n"
                            "00:1A:2B:00:27:15  10.212.0.5  NV10010005  cr         scan\n");
}

TEST(RoutedCli, ARangeWithoutAppliancesFindsNoneAndExitsAsDiscoverDoes)
{
    const CliRun run = Cli({"discover", "--format", "json", "--timeout", "0.3", "--scan", "10.212.50.0/28",
                            "--no-broadcast"});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.strOut.trimmed(), "[\n]");
    EXPECT_TRUE(run.strErr.contains("no appliance answered")) << run.strErr.toStdString();
    EXPECT_EQ(FarRequests("10\\.212\\.50\\.\\d+").size(), 14);
}

TEST(RoutedCli, TheSweepKeepsToItsRate)
{
    const CliRun run = Cli({"discover", "--timeout", "0.2", "--scan", "10.212.100.0/24", "--no-broadcast",
                            "--rate", "200"});
    ASSERT_EQ(run.nExit, 0) << run.strErr.toStdString();
    const QList<Logged> requests = FarRequests("10\\.212\\.100\\.\\d+");
    ASSERT_EQ(requests.size(), 254);
    // Loosely: no half second holds much more than the rate allows, and the
    // whole did not go out as one burst.
    qsizetype nMost = 0;
    for (qsizetype i = 0, j = 0; j < requests.size(); ++j) {
        while (requests[j].dSeconds - requests[i].dSeconds > 0.5)
            ++i;
        nMost = std::max(nMost, j - i + 1);
    }
    EXPECT_LE(nMost, 100 + 10);
    EXPECT_GE(requests.last().dSeconds - requests.first().dSeconds, 1.0);
}

TEST(RoutedCli, MoreThan65536AddressesNeedForce)
{
    const QStringList scan{"--scan", "10.213.0.0/16", "--scan", "10.214.0.0/29"};
    const CliRun refused = Cli(QStringList{"discover"} + scan);
    EXPECT_EQ(refused.nExit, 2);
    EXPECT_TRUE(refused.strErr.contains("65540 addresses")) << refused.strErr.toStdString();
    EXPECT_EQ(Cli(QStringList{"reboot", "10.212.0.1", "--yes"} + scan).nExit, 2);
    EXPECT_EQ(Cli({"discover", "--scan", "10.213.0.0/16,10.214.0.0/30", "--list-interfaces"}).nExit, 0);
    EXPECT_EQ(Cli(QStringList{"discover", "--force", "--list-interfaces"} + scan).nExit, 0);
    EXPECT_EQ(Cli({"discover", "--scan", "127.0.0.0/30"}).nExit, 2);
    EXPECT_EQ(FarRequests("10\\.21[34]\\.\\S+").size(), 0);
}

TEST(RoutedCli, CommandsByMacFindASweptApplianceAndSetIpGoesByUnicast)
{
    const QStringList scan{"--scan", "10.212.0.0/29", "--discover-timeout", "1"};
    QTemporaryDir dir;
    const CliRun backup = Cli(QStringList{"backup", "00:1A:2B:00:27:12", dir.filePath("far.cfg")} + scan);
    EXPECT_EQ(backup.nExit, 0) << backup.strErr.toStdString();
    EXPECT_EQ(QFile(dir.filePath("far.cfg")).size(), 8192);

    const CliRun setIp = Cli(QStringList{"set-ip", "00:1A:2B:00:27:13", "10.212.7.7"} + scan);
    EXPECT_EQ(setIp.nExit, 0) << setIp.strErr.toStdString();
    EXPECT_EQ(setIp.strOut, "IP Address changed - OK\n00:1A:2B:00:27:13 answers from 10.212.7.7\n");
    const QList<Logged> changes = FarRequests("\\S+");
    const auto it = std::find_if(changes.begin(), changes.end(), [](const Logged& r) { return r.strType == "0x11"; });
    ASSERT_NE(it, changes.end());
    EXPECT_EQ(it->strTo, "10.212.0.3");
}

class RoutedPage : public PageTest {};

TEST_F(RoutedPage, EachRefreshSweepsTheRangesGiven)
{
    CAddressRanges ranges;
    QString strError;
    // Two far appliances the other tests leave where they are.
    ASSERT_TRUE(ranges.Add("10.212.0.4/31", strError));
    m_page.SetScanRanges(ranges);
    for (const int nTimer : {TIMER_FIRST_DISCOVERY, TIMER_REFRESH}) {
        m_page.OnTimer(nTimer);
        EXPECT_TRUE(WaitFor([&] { return m_page.m_listDevices->GetItemCount() == 4; }))
            << m_page.m_listDevices->GetItemCount();
    }
    EXPECT_TRUE(m_ui.m_messages.isEmpty()) << m_ui.m_messages.join('|').toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    RequirePrivateSegmentOrExit();
    QSet<QString> names;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        names.insert(iface.name());
    if (names != QSet<QString>{"lo", "cr"}) {
        std::fprintf(stderr, "refusing to run: this test needs the interfaces of tools/support/routed-segment\n");
        return 3;
    }
    qputenv("NORVANE_PASSWORD", "pw");
    return RunTests(argc, argv);
}

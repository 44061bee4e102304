// Fleet runs a whole site relies on: reports that never replace what a run
// reads or writes, addresses that would clash, interrupted runs, and
// appliances taken on their word alone.
#include "clifixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonArray Report(const QString& strPath)
{
    return QJsonDocument::fromJson(ReadFile(strPath)).array();
}

TEST_F(CliFleetTest, AReportThatIsAFileTheRunReadsOrWritesIsRefusedBeforeAnythingIsSent)
{
    ASSERT_TRUE(StartSim({"--count", "2"}));
    const QString strDir = m_dir.filePath(QStringLiteral("images"));
    QDir().mkdir(strDir);
    const QString strImage = strDir + "/00-1A-2B-00-00-01.cfg";
    WriteFile(strImage, Image(1));
    const QString strPlan = Plan("mac,ip\n00:1A:2B:00:00:01,10.200.5.1\n");
    ASSERT_TRUE(QFile::link(strPlan, m_dir.filePath(QStringLiteral("alias.csv"))));
    const QStringList cases[] = {
        {"backup-all", strDir, "--report", strDir + "/00-1A-2B-00-00-02.cfg"}, // yet to be written
        {"backup-all", strDir, "--report", strDir + "/../images"},
        {"restore-all", strDir, "--yes", "--report", strDir + "/./00-1A-2B-00-00-01.cfg"},
        {"provision", strPlan, "--report", m_dir.filePath(QStringLiteral("alias.csv"))},
        {"provision", strPlan, "--report", ""},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = Run(args + kQuick);
        EXPECT_EQ(run.nExit, 2) << run.strErr.toStdString();
    }
    EXPECT_EQ(ReadFile(strImage), Image(1));
    EXPECT_EQ(ReadFile(strPlan), "mac,ip\n00:1A:2B:00:00:01,10.200.5.1\n");
    EXPECT_FALSE(QFile::exists(strDir + "/00-1A-2B-00-00-02.cfg"));
    EXPECT_EQ(ReadText(m_strLog), "");
}

TEST_F(CliFleetTest, AnAddressOfThisHostOrAnotherAppliancesIsNeverGivenToAnAppliance)
{
    // The segment's own address is 10.200.0.1, on lo.
    ASSERT_TRUE(StartSim({"--count", "2"}));
    const QStringList cases[] = {
        {"set-ip", "00:1A:2B:00:00:01", "10.200.0.1"},
        {"provision", Plan("mac,ip\n00:1A:2B:00:00:01,10.200.0.1\n")},
        {"provision", "--from", "10.200.0.1"},
        {"set-ip", "00:1A:2B:00:00:01", "10.210.1.255", "--scan", "10.210.1.0/24"},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = Run(args + kQuick);
        EXPECT_EQ(run.nExit, 2);
        EXPECT_TRUE(run.strErr.contains("on interface lo") || run.strErr.contains("broadcast address of the --scan"))
            << run.strErr.toStdString();
    }
    const CliRun taken = Run(QStringList{"set-ip", "00:1A:2B:00:00:01", "10.200.1.2"} + kQuick);
    EXPECT_EQ(taken.nExit, 2);
    EXPECT_TRUE(taken.strErr.contains("10.200.1.2 already answers for another appliance, 00:1A:2B:00:00:02: "
                                      "00:1A:2B:00:00:01 would clash"))
        << taken.strErr.toStdString();
    EXPECT_EQ(Received("0x11"), 0);
}

TEST_F(CliFleetTest, NumberingThatFindsNothingStillReplacesTheLastReport)
{
    ASSERT_TRUE(StartSim({"--count", "1"}));
    const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
    WriteFile(strReport, "[{\"outcome\": \"moved\"}]");
    const CliRun none = Run(QStringList{"provision", "--from", "10.200.9.1", "--match", "NV9*", "--report", strReport} + kQuick);
    EXPECT_EQ(none.nExit, 14);
    EXPECT_EQ(Report(strReport), QJsonArray());
}

TEST_F(CliFleetTest, DryRunsExitAsTheRealRunWould)
{
    ASSERT_TRUE(StartSim({"--count", "1"}));
    EXPECT_EQ(Run(QStringList{"provision", Plan("mac,ip\n"), "--dry-run"} + kQuick).nExit, 14);
    const CliRun missing =
        Run(QStringList{"provision", Plan("mac,ip\n00:1A:2B:00:00:01,10.200.5.1\n00:1A:2B:00:00:09,10.200.5.9\n"),
                        "--dry-run", "--format", "csv"} + kQuick);
    EXPECT_EQ(missing.nExit, 1);
    EXPECT_TRUE(missing.strOut.endsWith("00:1A:2B:00:00:09,,10.200.5.9,not found\n")) << missing.strOut.toStdString();
    EXPECT_EQ(Received("0x11"), 0);
}

// A row's own password is the one sent for it; a refusal is final.
TEST_F(CliFleetTest, ARowsPasswordIsUsedAndARefusalIsNotAskedAgain)
{
    ASSERT_TRUE(StartSim({"--count", "2", "--password", "row"}));
    const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
    const CliRun run = Run(QStringList{"provision", Plan("mac,ip,password\n00:1A:2B:00:00:01,10.200.5.1,row\n"
                                                         "00:1A:2B:00:00:02,10.200.5.2,\n"),
                                       "--retries", "3", "--report", strReport} + kQuick);
    EXPECT_EQ(run.nExit, 1);
    const QJsonArray report = Report(strReport);
    ASSERT_EQ(report.size(), 2);
    EXPECT_EQ(report[0].toObject()["outcome"], "moved");
    EXPECT_EQ(report[1].toObject()["outcome"], "failed");
    EXPECT_EQ(report[1].toObject()["attempts"], 1);
    EXPECT_EQ(report[1].toObject()["error"], "Invalid Password !!!");
    EXPECT_EQ(Received("0x11"), 2);
}

TEST_F(CliFleetTest, RestoreAllRefusesEveryEntryNamedLikeAnImageThatIsNoReadableFile)
{
    ASSERT_TRUE(StartSim({"--count", "1"}));
    const QString strDir = m_dir.filePath(QStringLiteral("images"));
    QDir().mkpath(strDir + "/00-1A-2B-00-00-01.cfg"); // a mistaken cp -r
    WriteFile(strDir + "/00-1A-2B-00-00-02.cfg", Image(2));
    const CliRun dir = Run(QStringList{"restore-all", strDir, "--yes"} + kQuick);
    EXPECT_EQ(dir.nExit, 2);
    EXPECT_TRUE(dir.strErr.contains("00-1A-2B-00-00-01.cfg: not a regular file: Is a directory")) << dir.strErr.toStdString();

    QDir(strDir + "/00-1A-2B-00-00-01.cfg").removeRecursively();
    ASSERT_TRUE(QFile::link(m_dir.path(), strDir + "/00-1A-2B-00-00-03.cfg"));
    ASSERT_TRUE(QFile::link(strDir + "/nothing", strDir + "/00-1A-2B-00-00-04.cfg"));
    WriteFile(strDir + "/001a2b000002.CFG", Image(5)); // the same appliance as :02
    const CliRun links = Run(QStringList{"restore-all", strDir, "--yes"} + kQuick);
    EXPECT_EQ(links.nExit, 2);
    for (const char* psz : {"00-1A-2B-00-00-03.cfg: not a regular file: Is a directory",
                            "00-1A-2B-00-00-04.cfg: not a regular file: No such file or directory",
                            "are both for 00:1A:2B:00:00:02"})
        EXPECT_TRUE(links.strErr.contains(QLatin1String(psz))) << psz << links.strErr.toStdString();

    // Root reads any directory: there the system's refusal cannot be shown.
    QFile::setPermissions(strDir, QFileDevice::WriteOwner);
    if (QDir(strDir).entryList(QDir::Files | QDir::System).isEmpty()) {
        const CliRun unlistable = Run(QStringList{"restore-all", strDir, "--yes"} + kQuick);
        EXPECT_EQ(unlistable.nExit, 2);
        EXPECT_TRUE(unlistable.strErr.contains("Permission denied")) << unlistable.strErr.toStdString();
    }
    QFile::setPermissions(strDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(ReadText(m_strLog), "");
}

// Anyone can send a datagram claiming an address: the appliance is moved
// (and checked) unless it answers from its planned address itself.
TEST_F(CliTest, ProvisionTakesAnApplianceForInPlaceOnlyWhenItAnswersFromThere)
{
    const QString strPlan = m_dir.filePath(QStringLiteral("plan.csv"));
    WriteFile(strPlan, "mac,ip\n00:1A:2B:00:00:07,10.200.9.9\n");
    const auto claim = Answer(DM_DISCOVER, DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.9.9"));
    const CliRun dry = Run({"provision", strPlan, "--dry-run", "--format", "csv", "--discover-timeout", "0.3"}, claim);
    EXPECT_TRUE(dry.strOut.endsWith(",change\n")) << dry.strOut.toStdString();
    const CliRun run =
        Run({"provision", strPlan, "--retries", "0", "--timeout", "0.3", "--discover-timeout", "0.3"}, claim);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(std::any_of(m_requests.begin(), m_requests.end(),
                            [](const QNetworkDatagram& d) { return d.data().startsWith(char(DM_SET_IP)); }));
}

// Only the target's own MAC at NEW_IP proves the move.
TEST_F(CliTest, SetIpIsNotVerifiedByAnotherApplianceAnsweringAtTheNewAddress)
{
    int nDiscovers = 0;
    const CliRun run = Run({"set-ip", "00:1A:2B:00:00:07", "10.200.9.9", "--timeout", "1", "--discover-timeout", "0.3"},
                           [&](const QNetworkDatagram& r) {
                               QNetworkDatagram reply(Msg(DM_SET_IP_ACK));
                               if (r.data().startsWith(char(DM_DISCOVER)) && ++nDiscovers == 2) {
                                   reply = QNetworkDatagram(DeviceInfo("NV8", "00:1A:2B:00:00:08", "10.200.9.9"));
                                   reply.setSender(QHostAddress(QStringLiteral("10.200.9.9")), DEVICE_PORT);
                               } else if (r.data().startsWith(char(DM_DISCOVER))) {
                                   reply = QNetworkDatagram(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9"));
                               }
                               return QList<QNetworkDatagram>{reply};
                           });
    EXPECT_EQ(nDiscovers >= 2, true);
    EXPECT_EQ(run.nExit, 11) << run.strErr.toStdString();
}

TEST_F(CliTest, ScanWithATargetGivenAsAnAddressIsRefusedAndHelpHelpHelps)
{
    EXPECT_EQ(Run({"reboot", "10.200.7.9", "--yes", "--scan", "10.9.0.0/24"}).nExit, 2);
    EXPECT_TRUE(m_requests.isEmpty());
    const CliRun help = Run({"help", "help"});
    EXPECT_EQ(help.nExit, 0);
    EXPECT_TRUE(help.strOut.startsWith("Usage: norvane SUBCOMMAND"));
}

} // namespace

// The command line under hostile use: the change of address and MACs in every form the appliances write.
#include "clifixture.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

TEST_F(CliTest, SetIpFindsAMacInAnyFormAndSendsItAsTheApplianceWritesIt)
{
    const std::pair<const char*, const char*> cases[] = {{"001A2B000007", "00:1a:2b:00:00:07"},
                                                         {"00-1a-2b-00-00-07", "001a.2b00.0007"},
                                                         {"001A.2B00.0007", "00-1A-2B-00-00-07"},
                                                         {"00:1A:2B:00:00:07", "001a2b000007"}};
    for (const auto& [pszGiven, pszReported] : cases) {
        SCOPED_TRACE(pszGiven);
        m_requests.clear();
        const CliRun run = Run({"set-ip", pszGiven, "10.200.9.9", "--no-verify"}, [&](const QNetworkDatagram& r) {
            return QList<QNetworkDatagram>{QNetworkDatagram(
                r.data().startsWith(char(DM_DISCOVER)) ? DeviceInfo("NV7", pszReported, "10.200.7.9") : Msg(DM_SET_IP_ACK))};
        });
        EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
        EXPECT_EQ(m_requests.value(1).data(),
                  '\x11' + TextField("abcde", 10) + '\0' + TextField(pszReported, 18) + TextField("10.200.9.9", 16));
    }
}

TEST_F(CliTest, SetIpTakesTheAckFromTheOldOrTheNewAddressOnly)
{
    const std::pair<const char*, int> cases[] = {{"10.200.7.9", 0}, {"10.200.9.9", 0}, {"10.200.7.10", 3}};
    for (const auto& [pszFrom, nExit] : cases) {
        SCOPED_TRACE(pszFrom);
        const CliRun run = Run({"set-ip", "00:1A:2B:00:00:07", "10.200.9.9", "--no-verify", "--timeout", "0.5"},
                               [&](const QNetworkDatagram& r) {
                                   QNetworkDatagram reply(Msg(DM_SET_IP_ACK));
                                   reply.setSender(QHostAddress(QLatin1String(pszFrom)), DEVICE_PORT);
                                   if (r.data().startsWith(char(DM_DISCOVER)))
                                       reply = QNetworkDatagram(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9"));
                                   return QList<QNetworkDatagram>{reply};
                               });
        EXPECT_EQ(run.nExit, nExit) << run.strErr.toStdString();
    }
}

TEST_F(CliSimTest, AppliancesWritingTheirMacInAnyFormAreBackedUpAndMoved)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("dump"));
    const std::pair<const char*, const char*> cases[] = {
        {"dash", "001a2b000002"}, {"bare", "00:1A:2B:00:00:02"}, {"dotted", "00-1A-2B-00-00-02"}, {"colon", "001A.2B00.0002"}};
    for (const auto& [pszFormat, pszGiven] : cases) {
        SCOPED_TRACE(pszFormat);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--count", "2", "--mac-format", pszFormat, "--dump-dir", m_dir.filePath("dump")}));
        const QString strOut = m_dir.filePath(QLatin1String(pszFormat));
        EXPECT_EQ(Run({"backup-all", strOut, "--discover-timeout", "0.3"}).nExit, 0);
        EXPECT_EQ(ReadFile(strOut + "/00-1A-2B-00-00-02.cfg"), ReadFile(Dump("10.200.1.2")));
        const CliRun backup = Run({"backup", pszGiven, m_dir.filePath("one.cfg")});
        EXPECT_EQ(backup.nExit, 0) << backup.strErr.toStdString();
        EXPECT_EQ(ReadFile(m_dir.filePath("one.cfg")), ReadFile(Dump("10.200.1.2")));
        const CliRun moved = Run({"set-ip", pszGiven, "10.200.4.4"});
        EXPECT_TRUE(moved.strOut.endsWith("00:1A:2B:00:00:02 answers from 10.200.4.4\n")) << moved.strErr.toStdString();
    }
}

TEST_F(CliSimTest, SetIpPassesFromWhicheverAddressTheAckComesAndFailsWhenTheApplianceStays)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("dump"));
    const struct {
        QStringList sim;
        const char* pszVerify;
        int nExit;
    } cases[] = {{{"--setip-ack-from", "old"}, "", 0},
                 {{"--setip-ack-from", "new"}, "", 0},
                 {{"--setip-ack-from", "old"}, "--no-verify", 0},
                 {{"--setip-ack-from", "new"}, "--no-verify", 0},
                 {{"--setip-no-move"}, "", 11}};
    for (const auto& [simOptions, pszVerify, nExit] : cases) {
        SCOPED_TRACE((simOptions.join(' ') + ' ' + pszVerify).toStdString());
        QFile::remove(Dump("10.200.4.4"));
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(simOptions + QStringList{"--dump-dir", m_dir.filePath("dump")}));
        QStringList args{"set-ip", "00:1A:2B:00:00:01", "10.200.4.4", "--timeout", "1"};
        if (*pszVerify)
            args << pszVerify;
        const CliRun run = Run(args);
        EXPECT_EQ(run.nExit, nExit) << run.strErr.toStdString();
        EXPECT_EQ(QFile::exists(Dump("10.200.4.4")), nExit == 0); // where the appliance really is
        EXPECT_EQ(run.strErr, nExit ? "norvane: 00:1A:2B:00:00:01 still answers from 10.200.1.1, not 10.200.4.4\n" : "");
    }
}

TEST_F(CliSimTest, BackupAllMakesExactlyRetriesPlusOneAttempts)
{
    // --lose-first, --retries, the outcome and attempts of each appliance.
    // Which attempt ends a job is the runner's (tst_fleet); here, that
    // backup-all reads --retries, 0 included, and reports each attempt.
    const std::tuple<const char*, const char*, const char*, int> cases[] = {
        {"3", "2", "failed", 3}, {"getflash=1", "0", "failed", 1}};
    for (const auto& [pszLose, pszRetries, pszOutcome, nAttempts] : cases) {
        SCOPED_TRACE(pszLose);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--count", "2", "--lose-first", pszLose}));
        const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
        const CliRun run = Run({"backup-all", m_dir.filePath("out"), "--retries", pszRetries, "--timeout", "0.5",
                                "--discover-timeout", "0.3", "--report", strReport});
        EXPECT_EQ(run.nExit, pszOutcome == std::string("ok") ? 0 : 1); // 1: all failed
        const QJsonArray report = QJsonDocument::fromJson(ReadFile(strReport)).array();
        ASSERT_EQ(report.size(), 2);
        for (const QJsonValue& entry : report) {
            EXPECT_EQ(entry["outcome"].toString(), pszOutcome);
            EXPECT_EQ(entry["attempts"].toInt(), nAttempts);
        }
    }
}

} // namespace

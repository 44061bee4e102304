// The command line under hostile use: the change of address and MACs in every form the appliances write.
#include "clifixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

TEST_F(CliTest, AMacInAnyFormFindsAnApplianceThatWritesItInAnother)
{
    struct Case {
        const char* pszGiven;
        const char* pszReported;
    };
    const Case cases[] = {{"001A2B000007", "00:1a:2b:00:00:07"},
                          {"00-1a-2b-00-00-07", "001a.2b00.0007"},
                          {"001A.2B00.0007", "00-1A-2B-00-00-07"},
                          {"00:1A:2B:00:00:07", "001a2b000007"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszGiven);
        const auto answer = [&](const QNetworkDatagram& r) {
            const int nType = r.data().at(0);
            return QList<QNetworkDatagram>{QNetworkDatagram(
                nType == DM_DISCOVER ? DeviceInfo("NV7", c.pszReported, "10.200.7.9") : Msg(nType + 0x10))};
        };
        m_requests.clear();
        const CliRun reboot = Run({"reboot", c.pszGiven, "--yes"}, answer);
        EXPECT_EQ(reboot.nExit, 0) << reboot.strErr.toStdString();
        EXPECT_EQ(m_requests.value(1).destinationAddress(), kAppliance);
        const CliRun moved = Run({"set-ip", c.pszGiven, "10.200.9.9", "--no-verify"}, answer);
        EXPECT_EQ(moved.nExit, 0) << moved.strErr.toStdString();
        // The MAC goes out as the appliance writes it, byte for byte.
        EXPECT_EQ(m_requests.value(3).data(),
                  '\x11' + Text("abcde", 10) + '\0' + Text(c.pszReported, 18) + Text("10.200.9.9", 16));
    }
}

TEST_F(CliTest, SetIpTakesTheAckFromTheOldOrTheNewAddressOnly)
{
    struct Case {
        const char* pszFrom;
        int nExit;
    };
    const Case cases[] = {{"10.200.7.9", 0}, {"10.200.9.9", 0}, {"10.200.7.10", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszFrom);
        const CliRun run = Run({"set-ip", "00:1A:2B:00:00:07", "10.200.9.9", "--no-verify", "--timeout", "0.5"},
                               [&](const QNetworkDatagram& r) {
                                   QNetworkDatagram reply(Msg(DM_SET_IP_ACK));
                                   reply.setSender(QHostAddress(QLatin1String(c.pszFrom)), DEVICE_PORT);
                                   if (r.data().startsWith(char(DM_DISCOVER)))
                                       reply = QNetworkDatagram(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9"));
                                   return QList<QNetworkDatagram>{reply};
                               });
        EXPECT_EQ(run.nExit, c.nExit) << run.strErr.toStdString();
        EXPECT_EQ(run.strOut, c.nExit ? "" : "IP Address changed - OK\n");
    }
}

TEST_F(CliSimTest, AppliancesWritingTheirMacInAnyFormAreBackedUpAndMoved)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("dump"));
    struct Case {
        const char* pszFormat;
        const char* pszGiven;
    };
    const Case cases[] = {{"dash", "001a2b000002"},
                          {"bare", "00:1A:2B:00:00:02"},
                          {"dotted", "00-1A-2B-00-00-02"},
                          {"colon", "001A.2B00.0002"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszFormat);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--count", "2", "--mac-format", c.pszFormat, "--password", "pw", "--dump-dir",
                               m_dir.filePath("dump")}));
        const QString strOut = m_dir.filePath(QLatin1String(c.pszFormat));
        const CliRun all = Run({"backup-all", strOut, "--discover-timeout", "0.3"});
        EXPECT_EQ(all.nExit, 0) << all.strErr.toStdString();
        for (const char* pszLast : {"1", "2"})
            EXPECT_EQ(ReadFile(strOut + QStringLiteral("/00-1A-2B-00-00-0%1.cfg").arg(pszLast)),
                      ReadFile(Dump(QStringLiteral("10.200.1.") + pszLast)));

        const QString strOne = m_dir.filePath(QStringLiteral("one.cfg"));
        const CliRun backup = Run({"backup", c.pszGiven, strOne});
        EXPECT_EQ(backup.nExit, 0) << backup.strErr.toStdString();
        EXPECT_EQ(ReadFile(strOne), ReadFile(Dump("10.200.1.2")));
        const CliRun moved = Run({"set-ip", c.pszGiven, "10.200.4.4"});
        EXPECT_EQ(moved.nExit, 0) << moved.strErr.toStdString();
        EXPECT_TRUE(moved.strOut.endsWith("00:1A:2B:00:00:02 answers from 10.200.4.4\n")) << moved.strOut.toStdString();
    }
}

TEST_F(CliSimTest, SetIpPassesFromWhicheverAddressTheAckComesAndFailsWhenTheApplianceStays)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("dump"));
    struct Case {
        QStringList sim;
        QStringList options;
        int nExit;
        QString strOut;
        QString strErr;
    };
    const QString strAck = QStringLiteral("IP Address changed - OK\n");
    const QString strMoved = strAck + QStringLiteral("00:1A:2B:00:00:01 answers from 10.200.4.4\n");
    const QList<Case> cases = {
        {{"--setip-ack-from", "old"}, {}, 0, strMoved, ""},
        {{"--setip-ack-from", "new"}, {}, 0, strMoved, ""},
        {{"--setip-ack-from", "old"}, {"--no-verify"}, 0, strAck, ""},
        {{"--setip-ack-from", "new"}, {"--no-verify"}, 0, strAck, ""},
        {{"--setip-no-move"}, {}, 11, strAck, "norvane: 00:1A:2B:00:00:01 still answers from 10.200.1.1, not 10.200.4.4\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.sim + c.options).join(' ').toStdString());
        QFile::remove(Dump("10.200.4.4"));
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(c.sim + QStringList{"--count", "2", "--dump-dir", m_dir.filePath("dump")}));
        const CliRun run = Run(QStringList{"set-ip", "00:1A:2B:00:00:01", "10.200.4.4", "--timeout", "1"} + c.options);
        EXPECT_EQ(run.nExit, c.nExit) << run.strErr.toStdString();
        EXPECT_EQ(run.strOut, c.strOut);
        EXPECT_EQ(run.strErr, c.strErr);
        EXPECT_EQ(QFile::exists(Dump("10.200.4.4")), c.nExit == 0); // where the appliance really is
    }
}

TEST_F(CliSimTest, BackupAllMakesExactlyRetriesPlusOneAttempts)
{
    struct Case {
        const char* pszLose; // --lose-first
        const char* pszRetries;
        const char* pszOutcome;
        int nAttempts;
        int nExit;
    };
    const Case cases[] = {{"2", "2", "ok", 3, 0},
                          {"3", "2", "failed", 3, 1},
                          {"getflash=1", "0", "failed", 1, 1},
                          {"reboot=5", "0", "ok", 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszLose) + " retries " + c.pszRetries);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--count", "2", "--lose-first", c.pszLose}));
        const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
        const CliRun run = Run({"backup-all", m_dir.filePath("out"), "--retries", c.pszRetries, "--timeout", "0.5",
                                "--discover-timeout", "0.3", "--report", strReport});
        EXPECT_EQ(run.nExit, c.nExit) << run.strErr.toStdString();
        const QJsonArray report = QJsonDocument::fromJson(ReadFile(strReport)).array();
        ASSERT_EQ(report.size(), 2);
        for (const QJsonValue& value : report) {
            EXPECT_EQ(value["outcome"].toString(), c.pszOutcome);
            EXPECT_EQ(value["attempts"].toInt(), c.nAttempts);
        }
    }
}

} // namespace

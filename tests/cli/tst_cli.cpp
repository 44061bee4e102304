// `norvane` as a real process inside the private segment: against a peer
// socket on port 8400 that checks each request's bytes and scripts the
// replies, and against norvane-sim for whole fleets.
#include "clifixture.h"
#include "coremain.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

namespace {

TEST_F(CliTest, EachSubcommandSendsItsExactRequestAndReportsTheReply)
{
    const QByteArray image = Image(3);
    WriteFile(Path("long.cfg"), image + "tail");
    const QByteArray pw = TextField("abcde", 10);
    struct Case {
        const char* pszName;
        QStringList args;
        int nReplyType;
        QByteArray reply;
        QByteArray request;
        QString strOut;
    };
    const QList<Case> cases = {
        {"reboot", {"reboot", "10.200.7.9", "--yes"}, DM_REBOOT, Msg(DM_REBOOT_ACK), '\x13' + pw + '\0',
         "Rebooting ... OK.\n"},
        {"login-url", {"login-url", "10.200.7.9"}, DM_GET_LOGIN, LoginReply("op&x", 8080), '\x12' + pw + '\0',
         "http://10.200.7.9:8080/cgi-bin/qx_login-act.cgi?USER_NAME=op%26x&USER_PASSWD=abcde\n"},
        {"backup", {"backup", "10.200.7.9", Path("saved.cfg")}, DM_GET_FLASHINFO, ImageReply(image),
         '\x14' + pw + '\0', Path("saved.cfg") + ": 8192 bytes from 10.200.7.9\n"},
        {"restore sends the first 8192 bytes", {"restore", "10.200.7.9", Path("long.cfg"), "--yes"},
         DM_PUT_FLASHINFO, Msg(DM_PUT_FLASHINFO_ACK), '\x15' + pw + '\0' + image, "Load FlashInfo ... OK.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_requests.clear();
        const CliRun run = Run(c.args, Answer(c.nReplyType, c.reply));
        EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
        EXPECT_EQ(run.strOut, c.strOut);
        ASSERT_EQ(m_requests.size(), 1);
        EXPECT_EQ(m_requests[0].data(), c.request);
        EXPECT_EQ(m_requests[0].destinationAddress(), kAppliance);
        EXPECT_EQ(m_requests[0].destinationPort(), DEVICE_PORT);
    }
    EXPECT_EQ(ReadFile(Path("saved.cfg")), image);
}

TEST_F(CliTest, SetIpFindsTheMacTextByDiscoveryThenBroadcastsTheChange)
{
    const CliRun run = Run({"set-ip", "00-1a-2b-00-00-07", "10.200.9.9", "--no-verify"}, [](const QNetworkDatagram& r) {
        QNetworkDatagram reply(r.data().startsWith('\x10') ? DeviceInfo("NV7", "00:1a:2B:00:00:07", "10.200.7.9")
                                                           : Msg(DM_SET_IP_ACK));
        return QList<QNetworkDatagram>{reply};
    });
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    EXPECT_EQ(run.strOut, "IP Address changed - OK\n");
    ASSERT_EQ(m_requests.size(), 2);
    EXPECT_EQ(m_requests[0].data(), kDiscover);
    // The MAC goes out as the appliance spelt it.
    EXPECT_EQ(m_requests[1].data(), '\x11' + TextField("abcde", 10) + '\0' + TextField("00:1a:2B:00:00:07", 18)
                                        + TextField("10.200.9.9", 16));
    for (const QNetworkDatagram& request : m_requests)
        EXPECT_EQ(request.destinationAddress(), QHostAddress(QHostAddress::Broadcast));
}

TEST_F(CliTest, DiscoverMergesByMacSortsAndPrintsJsonAndCsv)
{
    const auto answer = [](const QNetworkDatagram&) {
        return QList<QNetworkDatagram>{QNetworkDatagram(DeviceInfo("NV2, \"B\"", "00:1A:2B:00:00:02", "10.200.1.2")),
                                       QNetworkDatagram(DeviceInfo("NV1-old", "00:1a:2b:00:00:01", "10.200.1.9")),
                                       QNetworkDatagram(DeviceInfo("NV1", "00:1A:2B:00:00:01", "10.200.1.1"))};
    };
    const CliRun json = Run({"discover", "--format", "json", "--timeout", "0.3"}, answer);
    ASSERT_EQ(json.nExit, 0);
    EXPECT_EQ(m_requests.value(0).data(), kDiscover);
    const QJsonArray list = QJsonDocument::fromJson(json.strOut.toUtf8()).array();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toObject(), (QJsonObject{{"mac", "00:1A:2B:00:00:01"},
                                               {"ip", "10.200.1.1"},
                                               {"serial", "NV1"},
                                               {"interfaces", QJsonArray{"lo"}},
                                               {"found_by", QJsonArray{"broadcast:lo"}}}));
    EXPECT_EQ(list[1].toObject()["serial"].toString(), "NV2, \"B\"");

    const CliRun csv = Run({"discover", "--format", "csv", "--timeout", "0.3", "--rounds", "2"}, answer);
    EXPECT_EQ(csv.strOut, "mac,ip,serial,interfaces,found_by\n00:1A:2B:00:00:01,10.200.1.1,NV1,lo,broadcast:lo\n"
                          "00:1A:2B:00:00:02,10.200.1.2,\"NV2, \"\"B\"\"\",lo,broadcast:lo\n");
    EXPECT_EQ(m_requests.size(), 3); // one round, then two
}

TEST_F(CliTest, StatusRepliesAndSilenceGiveTheirTextAndExitCode)
{
    struct Case {
        int nStatus; // -1: no reply at all
        int nExit;
        const char* pszText;
    };
    const Case cases[] = {{1, 4, "Invalid Password !!!"},  {2, 5, "Invalid REQUEST !!!"},
                          {3, 6, "Internal Error !!!"},    {4, 7, "FlashInfo Version Mismatched Error !!!"},
                          {9, 8, "UnKnown Error !!!"},     {-1, 3, "No Response !!!"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nStatus);
        const CliRun run = Run({"backup", "10.200.7.9", Path("status.cfg"), "--timeout", "0.3"},
                               c.nStatus < 0 ? nullptr : Answer(DM_GET_FLASHINFO, Msg(DM_FLASHINFO, "", c.nStatus)));
        EXPECT_EQ(run.nExit, c.nExit);
        EXPECT_EQ(run.strErr, QStringLiteral("norvane: 10.200.7.9: %1\n").arg(QLatin1String(c.pszText)));
        EXPECT_FALSE(QFile::exists(Path("status.cfg")));
    }
}

TEST_F(CliTest, ForeignDatagramsNeverEndACommand)
{
    const auto answer = [](const QNetworkDatagram&) {
        QNetworkDatagram otherSender(Msg(DM_REBOOT_ACK));
        otherSender.setSender(QHostAddress(QStringLiteral("10.200.7.10")), DEVICE_PORT);
        QNetworkDatagram otherError(Msg(DM_REBOOT_ACK, "", 1));
        otherError.setSender(QHostAddress(QStringLiteral("10.200.7.10")), DEVICE_PORT);
        QNetworkDatagram otherPort(Msg(DM_REBOOT_ACK, "", 1));
        otherPort.setSender(kAppliance, 8401);
        return QList<QNetworkDatagram>{otherSender, otherError, otherPort, QNetworkDatagram(Msg(DM_PUT_FLASHINFO_ACK)),
                                       QNetworkDatagram(Msg(DM_REBOOT_ACK))};
    };
    const CliRun run = Run({"reboot", "10.200.7.9", "--yes", "--verbose"}, answer);
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    EXPECT_EQ(run.strErr.count(QLatin1String("ignored a datagram")), 4) << run.strErr.toStdString();
    EXPECT_TRUE(run.strErr.contains(QLatin1String("10.200.7.9:8401: from port 8401, not 8400")));
    EXPECT_TRUE(run.strErr.contains(QLatin1String("datagrams ignored")));
    EXPECT_FALSE(run.strErr.contains(QLatin1String("abcde"))); // the password is never logged
}

TEST_F(CliTest, BadInputIsRefusedWithTheUsageCodeAndNothingSent)
{
    WriteFile(Path("short.cfg"), QByteArray(FLASHINFO_SIZE - 1, 'x'));
    WriteFile(Path("plain-file"), "x");
    const QList<QStringList> cases = {
        {"set-ip", "00:1A:2B:00:00", "10.200.9.9"},
        {"set-ip", "00:1A:2B:00:00:07", "10.200.9"},
        {"reboot", "0.0.0.0", "--yes"},
        {"reboot", "255.255.255.255", "--yes"},
        {"reboot", "10.200.7.9"}, // no --yes, and input is not a terminal
        {"explode"},
        {"discover", "--colour"},
        {"discover", "--format", "xml"},
        {"backup", "10.200.7.9", Path("no-such-dir/x.cfg")},
        {"restore", "10.200.7.9", Path("missing.cfg"), "--yes"},
        {"restore", "10.200.7.9", Path("short.cfg"), "--yes"},
        {"backup-all", Path("plain-file")},
        {"backup", "10.200.7.9", Path("x.cfg"), "--password-file", Path("no-password-file")},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = Run(args, Answer(DM_REBOOT, Msg(DM_REBOOT_ACK)));
        EXPECT_EQ(run.nExit, 2);
        EXPECT_EQ(run.strErr.count(QLatin1Char('\n')), 1) << run.strErr.toStdString();
        EXPECT_TRUE(m_requests.isEmpty());
    }
    // A MAC nobody answers for: only the discovery that looked for it.
    const CliRun run = Run({"reboot", "00:1A:2B:00:00:99", "--yes", "--discover-timeout", "0.3"});
    EXPECT_EQ(run.nExit, 2);
    EXPECT_EQ(run.strErr, "norvane: no appliance answers for MAC 00:1A:2B:00:00:99\n");
    ASSERT_EQ(m_requests.size(), 1);
    EXPECT_EQ(m_requests[0].data(), kDiscover);
}

TEST_F(CliTest, PasswordComesFromItsFileAndNeverReachesTheReport)
{
    WriteFile(Path("pw"), "s3cret\n");
    const CliRun run = Run({"backup-all", Path("out"), "--password-file", Path("pw"), "--report", Path("r.json"),
                            "--discover-timeout", "0.3"},
                           [](const QNetworkDatagram& r) {
                               return QList<QNetworkDatagram>{QNetworkDatagram(
                                   r.data().startsWith('\x10') ? DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9")
                                                               : ImageReply(Image(5)))};
                           },
                           QStringLiteral("from-environment"));
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    ASSERT_EQ(m_requests.size(), 2);
    EXPECT_EQ(m_requests[1].data(), '\x14' + TextField("s3cret", 10) + '\0');
    const QByteArray report = ReadFile(Path("r.json"));
    EXPECT_FALSE(report.contains("s3cret"));
    const QJsonObject entry = QJsonDocument::fromJson(report).array().at(0).toObject();
    EXPECT_EQ(entry["file"].toString(), Path("out/00-1A-2B-00-00-07.cfg"));
    EXPECT_EQ(entry["sha256"].toString(),
              QString::fromLatin1(QCryptographicHash::hash(Image(5), QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(ReadFile(Path("out/00-1A-2B-00-00-07.cfg")), Image(5));
}

TEST_F(CliSimTest, BackupRestoreAndSetIpAreByteExactOnTheAppliance)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("dump"));
    ASSERT_TRUE(m_sim.Start({"--count", "3", "--password", "pw", "--dump-dir", m_dir.filePath("dump")}));
    const QString strSaved = m_dir.filePath(QStringLiteral("a.cfg"));
    ASSERT_EQ(Run({"backup", "00:1A:2B:00:00:02", strSaved}).nExit, 0);
    EXPECT_EQ(ReadFile(strSaved), ReadFile(Dump("10.200.1.2")));

    WriteFile(m_dir.filePath("new.cfg"), Image(9));
    ASSERT_EQ(Run({"restore", "10.200.1.3", m_dir.filePath("new.cfg"), "--yes"}).nExit, 0);
    EXPECT_EQ(ReadFile(Dump("10.200.1.3")), Image(9));

    const CliRun moved = Run({"set-ip", "00:1A:2B:00:00:01", "10.200.4.4"});
    EXPECT_EQ(moved.nExit, 0) << moved.strErr.toStdString();
    EXPECT_EQ(moved.strOut, "IP Address changed - OK\n00:1A:2B:00:00:01 answers from 10.200.4.4\n");
}

TEST_F(CliSimTest, BackupAllOfTwoHundredSurvivesLostRepliesByteExact)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("dump"));
    ASSERT_TRUE(m_sim.Start({"--count", "200", "--drop", "0.05", "--password", "pw", "--dump-dir", m_dir.filePath("dump")}));
    const QString strOut = m_dir.filePath(QStringLiteral("out"));
    const CliRun run = Run({"backup-all", strOut, "--rounds", "4", "--discover-timeout", "0.5", "--timeout", "0.3",
                            "--retries", "6", "--report", m_dir.filePath("r.json")});
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    const QJsonArray report = QJsonDocument::fromJson(ReadFile(m_dir.filePath("r.json"))).array();
    ASSERT_EQ(report.size(), 200);
    int nRetried = 0;
    for (const QJsonValue& value : report) {
        const QJsonObject entry = value.toObject();
        EXPECT_EQ(entry["outcome"].toString(), "ok");
        EXPECT_EQ(ReadFile(entry["file"].toString()), ReadFile(Dump(entry["ip"].toString())));
        nRetried += entry["attempts"].toInt() > 1;
    }
    EXPECT_GT(nRetried, 0); // the drops did hit image replies
}

#ifdef Q_OS_UNIX // holds the process still with SIGSTOP
TEST_F(CliSimTest, DiscoverWarnsWhenTheSystemDroppedReplies)
{
    const QString strLog = m_dir.filePath(QStringLiteral("sim.log"));
    ASSERT_TRUE(m_sim.Start({"--count", "60000", "--log", strLog}));
    QProcess process;
    process.start(qEnvironmentVariable("NORVANE_CLI"), {"discover", "--format", "csv", "--timeout", "2"});
    // Held still while the burst arrives: far more than any receive buffer holds.
    ASSERT_TRUE(WaitFor([&] { return ReadFile(strLog).contains("type=0x10"); }));
    ::kill(pid_t(process.processId()), SIGSTOP);
    QThread::msleep(1000);
    ::kill(pid_t(process.processId()), SIGCONT);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_LT(process.readAllStandardOutput().count('\n'), 60001);
    EXPECT_TRUE(process.readAllStandardError().contains("the system dropped"));
}
#endif

} // namespace

int main(int argc, char** argv)
{
    return RunCoreSegmentTests(argc, argv);
}

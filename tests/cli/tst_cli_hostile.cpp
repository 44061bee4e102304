// The command line under hostile use: refusals, streams, passwords, signals
// and the default time-outs.
#include "clifixture.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

TEST_F(CliTest, AddressesThatReachEveryHostOrNoneAreRefusedWithTheReason)
{
    WriteFile(Path("image.cfg"), Image(1));
    struct Case {
        QStringList args;
        const char* pszReason;
    };
    const QList<Case> cases = {
        {{"restore", "10.200.255.255", Path("image.cfg"), "--yes"}, "broadcast address of the local subnet 10.200.0.0/16"},
        {{"reboot", "10.200.0.0", "--yes"}, "network address of the local subnet 10.200.0.0/16"},
        {{"login-url", "127.0.0.1"}, "loopback"},
        {{"backup", "0.1.2.3", Path("x.cfg")}, "names this host"},
        {{"reboot", "224.0.0.1", "--yes"}, "multicast"},
        {{"reboot", "240.0.0.1", "--yes"}, "reserved"},
        {{"reboot", "010.200.001.002", "--yes"}, "leading zero"},
        {{"set-ip", "00:1A:2B:00:00:07", "127.0.0.1"}, "loopback"},
        {{"set-ip", "00:1A:2B:00:00:07", "240.0.0.1"}, "reserved"},
        {{"set-ip", "00:1A:2B:00:00:07", "10.200.255.255"}, "broadcast address of the local subnet"},
        {{"set-ip", "00:1A:2B:00:00:07", "10.200.09.9"}, "leading zero"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        m_requests.clear();
        const CliRun run = Run(c.args, Answer(DM_REBOOT, Msg(DM_REBOOT_ACK)));
        EXPECT_EQ(run.nExit, 2);
        EXPECT_TRUE(run.strErr.contains(QLatin1String(c.pszReason))) << run.strErr.toStdString();
        EXPECT_EQ(run.strErr.count(QLatin1Char('\n')), 1);
        EXPECT_TRUE(m_requests.isEmpty());
    }
}

TEST_F(CliTest, PasswordSourcesWinInTheDocumentedOrderAndLatin1FilesSendTheirBytes)
{
    WriteFile(Path("pw"), "from-file\n");
    WriteFile(Path("latin1"), "s\xe9" "cret\n");
    WriteFile(Path("utf8"), "s\xc3\xa9" "cret\n");
    struct Case {
        QStringList options;
        QByteArray sent;
    };
    const QList<Case> cases = {
        {{"--password-file", Path("pw"), "--password", "option"}, "from-file"},
        {{"--password", "option"}, "option"},
        {{}, "abcde"}, // NORVANE_PASSWORD
        {{"--password-file", Path("latin1")}, "s\xe9" "cret"},
        {{"--password-file", Path("utf8")}, "s\xe9" "cret"},
        {{"--password", "0123456789"}, "0123456789"}, // the whole field
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        m_requests.clear();
        const CliRun run = Run(QStringList{"reboot", "10.200.7.9", "--yes"} + c.options,
                               Answer(DM_REBOOT, Msg(DM_REBOOT_ACK)));
        EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
        ASSERT_EQ(m_requests.size(), 1);
        EXPECT_EQ(m_requests[0].data(), '\x13' + TextField(c.sent, 10) + '\0');
    }
    const CliRun euro = Run({"reboot", "10.200.7.9", "--yes", "--password", "s\u20accret"});
    EXPECT_EQ(euro.nExit, 2);
    EXPECT_TRUE(euro.strErr.contains(QLatin1String("Latin-1"))) << euro.strErr.toStdString();
    // The appliance's field holds 10 bytes: a longer password would be cut
    // to another one, from any source.
    WriteFile(Path("long"), "0123456789-and-more\n");
    WriteFile(Path("plan.csv"), "mac,ip,password\n00:1A:2B:00:00:07,10.200.3.7,0123456789-and-more\n");
    m_requests.clear();
    for (const QStringList& args :
         {QStringList{"reboot", "10.200.7.9", "--yes", "--password-file", Path("long")},
          QStringList{"reboot", "10.200.7.9", "--yes", "--password", "0123456789-and-more"},
          QStringList{"reboot", "10.200.7.9", "--yes", "--password", "0123456789A"},
          QStringList{"provision", Path("plan.csv")}, QStringList{"reboot", "10.200.7.9", "--yes"}}) {
        const CliRun run = Run(args, {}, QStringLiteral("0123456789-and-more"));
        EXPECT_EQ(run.nExit, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.strErr.contains(QLatin1String("at most 10"))) << run.strErr.toStdString();
    }
    EXPECT_TRUE(m_requests.isEmpty());
}

// The report may not be a file the run reads, nor "-": that would be a file
// named so, not standard output.
TEST_F(CliTest, AReportOnThePasswordFileOrOnADashIsRefusedBeforeAnythingIsSent)
{
    WriteFile(Path("pw"), "s3cret\n");
    for (const QString& strReport : {Path("pw"), QStringLiteral("-")}) {
        const CliRun run = Run({"backup-all", Path("out"), "--password-file", Path("pw"), "--report", strReport});
        EXPECT_EQ(run.nExit, 2) << run.strErr.toStdString();
    }
    EXPECT_EQ(ReadFile(Path("pw")), "s3cret\n");
    EXPECT_FALSE(QFile::exists(QStringLiteral("-")));
    EXPECT_TRUE(m_requests.isEmpty());
}

TEST_F(CliTest, VerboseListsEveryRequestSentAndEveryDatagramIgnoredWithTheReason)
{
    const auto answer = [](const QNetworkDatagram& r) {
        if (r.data().startsWith(char(DM_DISCOVER)))
            return QList<QNetworkDatagram>{QNetworkDatagram(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9"))};
        return QList<QNetworkDatagram>{QNetworkDatagram(QByteArray("\x23\0\0", 3)),
                                       QNetworkDatagram(Msg(DM_LOGIN_INFO) + "abc"),
                                       QNetworkDatagram(LoginReply("admin", 80))};
    };
    const CliRun run = Run({"login-url", "00:1A:2B:00:00:07", "--verbose", "--discover-timeout", "0.3"}, answer);
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    for (const char* pszLine : {"sent request 0x10 to 255.255.255.255:8400", "sent request 0x12 to 10.200.7.9:8400",
                                "from 10.200.7.9:8400: 3 bytes, shorter than any message",
                                "from 10.200.7.9:8400: 15 bytes, shorter than a message of type 0x22"})
        EXPECT_TRUE(run.strErr.contains(QLatin1String(pszLine))) << pszLine << '\n' << run.strErr.toStdString();
}

// A status byte of 255 was shown as -1, and a datagram too long for any
// message was ignored without a word of who sent it.
TEST_F(CliTest, VerboseShowsAStatusByteUnsignedAndWhoSentAnOversizedDatagram)
{
    const auto answer = [](const QNetworkDatagram&) {
        return QList<QNetworkDatagram>{QNetworkDatagram(Msg(DM_REBOOT_ACK, "", 255)),
                                       QNetworkDatagram(QByteArray(DEVMSG_BUF_SIZE + 1, 'x')),
                                       QNetworkDatagram(LoginReply("admin", 80))};
    };
    const CliRun run = Run({"login-url", "10.200.7.9", "--verbose"}, answer);
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    for (const char* pszLine : {"from 10.200.7.9:8400: type 0x23 status 255: not the reply awaited",
                                "from 10.200.7.9:8400: more than 9216 bytes, longer than any message"})
        EXPECT_TRUE(run.strErr.contains(QLatin1String(pszLine))) << pszLine << '\n' << run.strErr.toStdString();
}

// found_by was in the order the replies came. Here the sweep's reply comes
// first (the second from the address counts as the broadcast's), yet the
// broadcast is listed first, and table and CSV part the items alike.
TEST_F(CliTest, FoundByListsTheBroadcastsBeforeTheSweepWhicheverAnsweredFirst)
{
    const auto answer = [](const QNetworkDatagram& r) {
        const QNetworkDatagram info(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9"));
        return r.destinationAddress() == kAppliance ? QList<QNetworkDatagram>{info, info} : QList<QNetworkDatagram>{};
    };
    const QStringList args{"discover", "--scan", "10.200.7.9", "--timeout", "0.3"};
    const CliRun table = Run(args, answer);
    EXPECT_TRUE(table.strOut.endsWith(QLatin1String("  lo         broadcast:lo scan\n"))) << table.strOut.toStdString();
    const CliRun csv = Run(args + QStringList{"--format", "csv"}, answer);
    EXPECT_TRUE(csv.strOut.endsWith(QLatin1String(",lo,broadcast:lo scan\n"))) << csv.strOut.toStdString();
}

#ifdef Q_OS_UNIX
TEST_F(CliTest, AFullDiskOnStandardOutputFailsAndAReaderThatLeftEndsItQuietly)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full";
    const auto discovered = [](const QNetworkDatagram&) {
        return QList<QNetworkDatagram>{QNetworkDatagram(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9"))};
    };
    m_prepare = [](QProcess& p) { p.setStandardOutputFile(QStringLiteral("/dev/full")); };
    for (const QStringList& args : {QStringList{"discover", "--format", "csv", "--timeout", "0.3"},
                                    QStringList{"login-url", "10.200.7.9"}, QStringList{"--help"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = Run(args, args[0] == "login-url" ? Answer(DM_GET_LOGIN, LoginReply("admin", 80)) : discovered);
        EXPECT_EQ(run.nExit, 10);
        EXPECT_TRUE(run.strErr.contains(QLatin1String("write error on standard output"))) << run.strErr.toStdString();
    }
    m_prepare = nullptr;
    m_started = [](QProcess& p) { p.closeReadChannel(QProcess::StandardOutput); };
    const CliRun gone = Run({"discover", "--timeout", "0.3"}, discovered);
    EXPECT_EQ(gone.nExit, 0);
    EXPECT_EQ(gone.strErr, "");
}

// The child gets one descriptor beyond the three standard ones (Qt's event
// loop used to abort then); what the test runner left open is closed first.
void OneFreeFileDescriptor(QProcess& process)
{
    process.setChildProcessModifier([] {
        for (int fd = 3; fd < 1024; ++fd)
            if (const int nFlags = fcntl(fd, F_GETFD); nFlags >= 0 && !(nFlags & FD_CLOEXEC))
                close(fd);
        const rlimit limit{4, 4};
        setrlimit(RLIMIT_NOFILE, &limit);
    });
}

// A pseudo-terminal; its terminal side becomes a child's standard input.
struct PseudoTerminal {
    PseudoTerminal()
    {
        fdMaster = posix_openpt(O_RDWR | O_NOCTTY);
        if (fdMaster >= 0 && grantpt(fdMaster) == 0 && unlockpt(fdMaster) == 0)
            fdTerminal = open(ptsname(fdMaster), O_RDWR | O_NOCTTY);
    }
    ~PseudoTerminal()
    {
        close(fdTerminal);
        close(fdMaster);
    }
    void BecomeStdinOf(QProcess& process) const
    {
        process.setChildProcessModifier([fd = fdTerminal] { dup2(fd, STDIN_FILENO); });
    }
    bool EchoOn() const
    {
        termios mode{};
        return tcgetattr(fdTerminal, &mode) == 0 && (mode.c_lflag & ECHO);
    }
    int fdMaster = -1;
    int fdTerminal = -1;
};

TEST(CliLimits, TooFewFileDescriptorsIsANetworkFailureNotACrash)
{
    QProcess process;
    OneFreeFileDescriptor(process);
    process.start(qEnvironmentVariable("NORVANE_CLI"), {"discover"});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 9);
    EXPECT_TRUE(process.readAllStandardError().contains("too many open files"));
}

TEST_F(CliTest, ASignalAtThePasswordPromptLeavesTheTerminalEchoing)
{
    for (const int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(nSignal);
        const PseudoTerminal terminal;
        ASSERT_TRUE(terminal.EchoOn());

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("NORVANE_PASSWORD"));
        process.setProcessEnvironment(env);
        terminal.BecomeStdinOf(process);
        process.start(qEnvironmentVariable("NORVANE_CLI"), {"login-url", "10.200.7.9"});
        // Signalled only once echo is off: the prompt is waiting.
        EXPECT_TRUE(WaitFor([&] { return !terminal.EchoOn(); }));
        ::kill(pid_t(process.processId()), nSignal);
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit); // ended by the signal, as before
        EXPECT_TRUE(terminal.EchoOn());
    }
}

// Every exit status the README's table lists, each from one run.
TEST_F(CliTest, EveryDocumentedExitStatusIsGiven)
{
    using Answer = std::function<QList<QNetworkDatagram>(const QNetworkDatagram&)>;
    const QHostAddress other(QStringLiteral("10.200.7.10"));
    // Discovery finds 10.200.7.9 and 10.200.7.10; only the first sends its image.
    const Answer two = [&](const QNetworkDatagram& r) {
        QNetworkDatagram second(DeviceInfo("NV8", "00:1A:2B:00:00:08", "10.200.7.10"));
        second.setSender(other, DEVICE_PORT);
        if (r.data().startsWith(char(DM_DISCOVER)))
            return QList<QNetworkDatagram>{QNetworkDatagram(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9")),
                                           second};
        return r.destinationAddress() == kAppliance ? QList<QNetworkDatagram>{QNetworkDatagram(ImageReply(Image(1)))}
                                                    : QList<QNetworkDatagram>{};
    };
    // Acknowledges the change of address but keeps answering from the old one.
    const Answer stays = [](const QNetworkDatagram& r) {
        return QList<QNetworkDatagram>{QNetworkDatagram(
            r.data().startsWith(char(DM_DISCOVER)) ? DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9")
                                                   : Msg(DM_SET_IP_ACK))};
    };
    const auto status = [](int nStatus) { return Answer(CliTest::Answer(DM_REBOOT, Msg(DM_REBOOT_ACK, "", nStatus))); };
    const auto reboot = QStringList{"reboot", "10.200.7.9", "--yes", "--timeout", "0.3"};
    const auto fullDisk = [](QProcess& p) { p.setStandardOutputFile(QStringLiteral("/dev/full")); };
    // A terminal on standard input whose user answers No.
    const PseudoTerminal terminal;
    ASSERT_EQ(write(terminal.fdMaster, "n\n", 2), 2);
    const auto answersNo = [&](QProcess& p) { terminal.BecomeStdinOf(p); };

    struct Case {
        int nExit;
        QStringList args;
        Answer answer;
        std::function<void(QProcess&)> prepare;
    };
    const QList<Case> cases = {
        {0, reboot, status(0), {}},
        {1, {"backup-all", Path("all"), "--discover-timeout", "0.3", "--timeout", "0.3", "--retries", "0"}, two, {}},
        {2, {"reboot", "10.200.7.9"}, status(0), {}},
        {3, reboot, {}, {}},
        {4, reboot, status(1), {}},
        {5, reboot, status(2), {}},
        {6, reboot, status(3), {}},
        {7, reboot, status(4), {}},
        {8, reboot, status(77), {}},
        {9, reboot, status(0), OneFreeFileDescriptor},
        {10, {"login-url", "10.200.7.9"}, CliTest::Answer(DM_GET_LOGIN, LoginReply("admin", 80)), fullDisk},
        {11, {"set-ip", "00:1A:2B:00:00:07", "10.200.9.9", "--discover-timeout", "0.3", "--timeout", "1"}, stays, {}},
        {12, {"login-url", "10.200.7.9"}, CliTest::Answer(DM_GET_LOGIN, LoginReply("admin", 0)), {}},
        {13, {"reboot", "10.200.7.9"}, status(0), answersNo},
        {14, {"backup-all", Path("none"), "--match", "NV9*", "--discover-timeout", "0.3"}, two, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nExit);
        m_prepare = c.prepare;
        const CliRun run = Run(c.args, c.answer);
        EXPECT_EQ(run.nExit, c.nExit) << run.strErr.toStdString();
    }
}
#endif

// With no --timeout: discovery gathers for 2 s, a command waits 5 s. The
// simulator answers late; a reply inside the default is taken, one after
// it is not.
TEST_F(CliSimTest, TheDefaultTimeOutsHoldWhenNoneIsGiven)
{
    struct Case {
        int nDelayMs;
        QStringList args;
        int nExit;
    };
    const QList<Case> cases = {
        {1500, {"discover", "--format", "csv"}, 0},
        {2600, {"discover", "--format", "csv"}, 0},
        {4000, {"backup", "10.200.1.1", m_dir.filePath("late.cfg")}, 0},
        {6000, {"backup", "10.200.1.1", m_dir.filePath("too-late.cfg")}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nDelayMs);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--count", "1", "--delay-ms", QString::number(c.nDelayMs)}));
        QProcess process;
        process.start(qEnvironmentVariable("NORVANE_CLI"), c.args);
        process.closeWriteChannel();
        ASSERT_TRUE(process.waitForFinished(60000));
        const CliRun run{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                         QString::fromUtf8(process.readAllStandardError())};
        EXPECT_EQ(run.nExit, c.nExit) << run.strErr.toStdString();
        if (c.args[0] == "discover") {
            EXPECT_EQ(run.strOut.contains(QLatin1String("10.200.1.1")), c.nDelayMs < 2000) << run.strOut.toStdString();
        }
    }
}

} // namespace

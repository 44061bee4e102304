// norvane watch and provision --watch against the simulator, which is told
// on cue to let appliances appear, leave, move and change (its --control).
// Stopped by POSIX signals, as a service is.
#include "clifixture.h"
#include "coremain.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

namespace {

// norvane with these arguments alone, to its end.
CliRun RunCli(const QStringList& args)
{
    QProcess process;
    process.start(qEnvironmentVariable("NORVANE_CLI"), args);
    process.waitForFinished(30000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A watch running for the length of a test, its events as they come.
class CWatchRun {
public:
    explicit CWatchRun(const QStringList& args) { m_process.start(qEnvironmentVariable("NORVANE_CLI"), args); }
    ~CWatchRun()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Waits until nCount events came; "EVENT MAC-END IP [PREVIOUS] [PLAN]" each.
    bool WaitFor(qsizetype nCount, int nTimeoutMs = 10000)
    {
        return WaitUntil([&] { return m_events.size() >= nCount; }, nTimeoutMs);
    }
    // Waits until done() holds of the events read.
    template <typename Pred>
    bool WaitUntil(Pred done, int nTimeoutMs = 10000)
    {
        return ::WaitFor([&] {
            Read();
            return done();
        }, nTimeoutMs);
    }
    // Ends it by the signal: true when it exits 0, every event read.
    bool Stop(int nSignal)
    {
        kill(pid_t(m_process.processId()), nSignal);
        if (!m_process.waitForFinished(5000))
            return false;
        Read();
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    qint64 Pid() const { return m_process.processId(); }
    // Standard error so far.
    const QString& Errors()
    {
        m_strErrors += QString::fromUtf8(m_process.readAllStandardError());
        return m_strErrors;
    }
    QStringList m_events;
    QList<QJsonObject> m_objects;

private:
    void Read()
    {
        m_process.waitForReadyRead(10);
        while (m_process.canReadLine()) {
            const QJsonObject o = QJsonDocument::fromJson(m_process.readLine()).object();
            m_objects << o;
            QStringList fields{o["event"].toString(), o["mac"].toString().right(2), o["ip"].toString()};
            for (const char* pszKey : {"previous_ip", "previous_serial", "plan"})
                if (o.contains(QLatin1String(pszKey)))
                    fields << o[QLatin1String(pszKey)].toString();
            m_events << fields.join(' ');
        }
    }
    QProcess m_process;
    QString m_strErrors;
};

TEST_F(CliFleetTest, WatchTellsEachChangeOnceAndNothingOfAMissedRoundOrOfForgedReplies)
{
    ASSERT_TRUE(StartSim({"--count", "3", "--absent", "2", "--control", "-"}));
    CWatchRun watch({"watch", "--interval", "0.3", "--timeout", "0.2"});
    ASSERT_TRUE(watch.WaitFor(2));
    ASSERT_TRUE(m_sim.Control("appear 2"));
    ASSERT_TRUE(watch.WaitFor(3));
    ASSERT_TRUE(m_sim.Control("move 0 10.200.1.50"));
    ASSERT_TRUE(watch.WaitFor(4));
    ASSERT_TRUE(m_sim.Control("serial 1 NVCHANGED"));
    ASSERT_TRUE(watch.WaitFor(5));
    // Each round a flood of new MACs, and one appliance misses a round.
    ASSERT_TRUE(m_sim.Control("forge 50"));
    ASSERT_TRUE(m_sim.Control("skip 1 1"));
    ClearLog();
    ASSERT_TRUE(WaitFor([&] { return Received("0x10") >= 6; }, 10000));
    ASSERT_TRUE(m_sim.Control("forge 0"));
    ASSERT_TRUE(m_sim.Control("leave 2"));
    ASSERT_TRUE(watch.WaitFor(6));
    ASSERT_TRUE(watch.Stop(SIGTERM));
    EXPECT_EQ(watch.m_events, QStringList({"appeared 01 10.200.1.1", "appeared 02 10.200.1.2", "appeared 03 10.200.1.3",
                                           "moved 01 10.200.1.50 10.200.1.1", "changed 02 10.200.1.2 NV10000002",
                                           "gone 03 10.200.1.3"}));
    EXPECT_EQ(watch.m_objects.value(4)["serial"], "NVCHANGED");
    EXPECT_FALSE(watch.m_objects.value(0)["time"].toString().isEmpty());
}

// Zero-touch acts on no claim that is not the appliance's own: one in place
// is not moved, whether another host names it elsewhere from a third
// address or from the one it names, and one not on the segment is not
// asked to move.
TEST_F(CliFleetTest, ProvisionWatchMovesNothingOnAForgedReply)
{
    ASSERT_TRUE(StartSim({"--count", "2", "--absent", "1", "--control", "-"}));
    CWatchRun watch({"provision", Plan("mac,ip\n00:1A:2B:00:00:01,10.200.1.1\n00:1A:2B:00:00:02,10.200.3.2\n"),
                     "--watch", "--interval", "0.3", "--discover-timeout", "0.2", "--timeout", "0.3", "--password",
                     "pw", "--gone-after", "1"});
    ASSERT_TRUE(watch.WaitFor(1));
    for (const char* pszClaim : {"claim 0 10.200.1.77 10.200.1.99", "claim 0 10.200.1.77 10.200.1.77",
                                 "claim 1 10.200.1.2 10.200.1.99"}) {
        ASSERT_TRUE(m_sim.Control(pszClaim));
        ClearLog();
        ASSERT_TRUE(WaitFor([&] { return Received("0x10") >= 5; }, 10000));
        EXPECT_EQ(Received("0x11"), 0) << pszClaim;
    }
    ASSERT_TRUE(watch.Stop(SIGTERM));
    EXPECT_EQ(watch.m_events, QStringList{"appeared 01 10.200.1.1 already there"});
}

// Eight new appliances at one factory address, in two batches; a ninth, not
// in the plan, holds the address planned for the eighth.
TEST_F(CliFleetTest, ProvisionWatchMovesEachPlannedApplianceOnceAsItAppears)
{
    ASSERT_TRUE(StartSim({"--count", "8", "--same-ip", "--first-ip", "10.200.9.9", "--absent", "0-7", "--extra-ip",
                          "10.200.3.99", "--control", "-"}));
    QByteArray plan = "mac,ip\n";
    for (int n = 1; n <= 8; ++n)
        plan += QStringLiteral("00:1A:2B:00:00:%1,10.200.3.%2\n").arg(n, 2, 10, QLatin1Char('0')).arg(n == 8 ? 99 : n).toUtf8();
    const QString strReport = m_dir.filePath(QStringLiteral("events.jsonl"));
    CWatchRun watch({"provision", Plan(plan), "--watch", "--interval", "0.3", "--discover-timeout", "0.2", "--timeout",
                     "1", "--retries", "1", "--password", "pw", "--report", strReport});
    ASSERT_TRUE(watch.WaitFor(1));
    ASSERT_TRUE(m_sim.Control("appear 0-3"));
    ASSERT_TRUE(watch.WaitFor(9));
    ASSERT_TRUE(m_sim.Control("appear 4-7"));
    ASSERT_TRUE(watch.WaitFor(18));
    EXPECT_EQ(Received("0x11"), 7);
    ClearLog();
    ASSERT_TRUE(WaitFor([&] { return Received("0x10") >= 4; }, 10000));
    ASSERT_TRUE(watch.Stop(SIGINT));

    QStringList expected{"appeared 09 10.200.3.99 not in plan"};
    // Each is moved once believed: after it appeared.
    for (int n = 1; n <= 7; ++n)
        expected << QStringLiteral("appeared 0%1 10.200.9.9 change").arg(n)
                 << QStringLiteral("moved 0%1 10.200.3.%1 10.200.9.9 moved").arg(n);
    expected << "failed 08 10.200.9.9 change" << "appeared 08 10.200.9.9 change" << "failed 08 10.200.9.9 change";
    // Told of as it appears, before anything is tried on it.
    EXPECT_LT(watch.m_events.indexOf("appeared 08 10.200.9.9 change"),
              watch.m_events.indexOf("failed 08 10.200.9.9 change"));
    QStringList events = watch.m_events;
    std::sort(events.begin(), events.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(events, expected);
    EXPECT_EQ(watch.m_objects.last()["retrying"], false) << watch.m_events.join(" / ").toStdString();
    EXPECT_EQ(Received("0x11"), 0) << "moved again";
    const QMap<QString, QString> where = Where();
    for (int n = 1; n <= 7; ++n)
        EXPECT_EQ(where.value(QStringLiteral("00:1A:2B:00:00:0%1").arg(n)), QStringLiteral("10.200.3.%1").arg(n));
    // The report holds the same events, a JSON object a line.
    const QList<QByteArray> lines = ReadFile(strReport).trimmed().split('\n');
    ASSERT_EQ(lines.size(), watch.m_objects.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_EQ(QJsonDocument::fromJson(lines[i]).object(), watch.m_objects[i]);
}

// A reader that has all it wanted ends the watch, though nothing more is
// printed for it to fail on.
TEST_F(CliFleetTest, WatchEndsWhenItsReaderIsGone)
{
    ASSERT_TRUE(StartSim({"--count", "3"}));
    QProcess pipeline;
    pipeline.start("sh", {"-c", "\"$0\" watch --interval 0.3 --timeout 0.2 | head -3 >/dev/null",
                          qEnvironmentVariable("NORVANE_CLI")});
    ASSERT_TRUE(pipeline.waitForFinished(10000));
    EXPECT_EQ(pipeline.exitCode(), 0);
}

// A snapshot for scripts: the real appliances once two rounds agree, and
// none of the forged ones that keep coming.
TEST_F(CliFleetTest, WatchOnceSettledListsWhatIsThereDespiteAFlood)
{
    ASSERT_TRUE(StartSim({"--count", "3", "--control", "-"}));
    ASSERT_TRUE(m_sim.Control("forge 30"));
    const CliRun run = RunCli({"watch", "--once-settled", "--timeout", "0.3"});
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    const QStringList lines = run.strOut.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << run.strOut.toStdString();
    EXPECT_TRUE(lines[2].contains("\"mac\":\"00:1A:2B:00:00:03\""));
}

// A script's snapshot cut short by a signal is no snapshot: nothing is
// printed, and the exit says which signal.
TEST_F(CliFleetTest, WatchOnceSettledStoppedBeforeItSettledPrintsNothing)
{
    ASSERT_TRUE(StartSim({"--count", "2"}));
    QProcess process;
    process.start(qEnvironmentVariable("NORVANE_CLI"), {"watch", "--once-settled", "--timeout", "5"});
    ClearLog();
    ASSERT_TRUE(WaitFor([&] { return Received("0x10") > 0; }, 10000));
    kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 143);
    EXPECT_EQ(process.readAllStandardOutput(), QByteArray());
}

// Each event is in the report while the unit runs. Restarted with --from,
// the appliances it numbered keep their addresses: the range is this host's
// subnet.
TEST_F(CliFleetTest, ProvisionWatchReportsAsItGoesAndARestartRenumbersNothing)
{
    ASSERT_TRUE(StartSim({"--count", "2", "--control", "-"}));
    const QString strReport = m_dir.filePath(QStringLiteral("events.jsonl"));
    const QStringList args{"provision", "--from", "10.200.3.1", "--match", "NV*", "--watch", "--interval", "0.3",
                           "--discover-timeout", "0.2", "--timeout", "1", "--password", "pw", "--report", strReport};
    {
        CWatchRun watch(args);
        ASSERT_TRUE(watch.WaitFor(4));
        EXPECT_EQ(ReadFile(strReport).count('\n'), 4);
        ASSERT_TRUE(watch.Stop(SIGTERM));
    }
    ClearLog();
    CWatchRun again(args);
    ASSERT_TRUE(again.WaitFor(2));
    ASSERT_TRUE(WaitFor([&] { return Received("0x10") >= 4; }, 10000));
    ASSERT_TRUE(again.Stop(SIGTERM));
    EXPECT_EQ(again.m_events, QStringList({"appeared 01 10.200.3.1 already there",
                                           "appeared 02 10.200.3.2 already there"}));
    EXPECT_EQ(Received("0x11"), 0);
}

// A unit that restarts keeps the events of its earlier runs; the file is
// its owner's alone; a watch with a dry run or a bad option sends nothing.
TEST_F(CliFleetTest, ProvisionWatchAppendsToItsReportAndRefusesWhatItCannotDo)
{
    ASSERT_TRUE(StartSim({"--count", "1"}));
    const QString strPlan = Plan("mac,ip\n00:1A:2B:00:00:01,10.200.1.1\n");
    const QString strReport = m_dir.filePath(QStringLiteral("events.jsonl"));
    for (int nRun = 1; nRun <= 2; ++nRun) {
        CWatchRun watch({"provision", strPlan, "--watch", "--interval", "0.3", "--discover-timeout", "0.2",
                         "--report", strReport});
        ASSERT_TRUE(watch.WaitFor(1));
        ASSERT_TRUE(watch.Stop(SIGTERM));
        EXPECT_EQ(watch.m_events, QStringList{"appeared 01 10.200.1.1 already there"});
    }
    EXPECT_EQ(ReadFile(strReport).count('\n'), 2);
    EXPECT_EQ(QFileInfo(strReport).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    ClearLog();
    for (const QStringList& args : {QStringList{"provision", strPlan, "--watch", "--dry-run"},
                                    QStringList{"provision", strPlan, "--watch", "--format", "csv"},
                                    QStringList{"watch", "--interval", "0"}, QStringList{"watch", "--gone-after", "0"}})
    {
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.nExit, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(run.strErr.contains("Unknown option")) << run.strErr.toStdString();
    }
    EXPECT_EQ(ReadText(m_strLog), QString());
}

// A move whose request is lost is tried again on the next round, not at
// once, and counted: the appliance gets there, each failure reported.
TEST_F(CliFleetTest, ProvisionWatchTriesALostMoveAgainOnALaterRound)
{
    ASSERT_TRUE(StartSim({"--count", "1", "--lose-first", "setip=1"}));
    CWatchRun watch({"provision", Plan("mac,ip\n00:1A:2B:00:00:01,10.200.3.1\n"), "--watch", "--interval", "0.3",
                     "--discover-timeout", "0.2", "--timeout", "0.3", "--retries", "1"});
    ASSERT_TRUE(watch.WaitUntil([&] { return !watch.m_events.isEmpty() && watch.m_events.last().startsWith("moved"); }));
    ASSERT_TRUE(watch.Stop(SIGTERM));
    // Heard twice by then, it has also appeared, unless a reply was late.
    watch.m_events.removeAll("appeared 01 10.200.1.1 change");
    EXPECT_EQ(watch.m_events, QStringList({"failed 01 10.200.1.1 change", "moved 01 10.200.3.1 10.200.1.1 moved"}));
    const QJsonObject failed = watch.m_objects.value(watch.m_objects.size() - 2);
    EXPECT_EQ(failed["retrying"], true);
    EXPECT_EQ(failed["failures"], 1);
    EXPECT_EQ(Received("0x11"), 2);
}

// A wrong password is the appliance's answer, not a lost reply: reported
// as final, whatever --retries says.
TEST_F(CliFleetTest, ProvisionWatchLeavesAnApplianceThatRefusesTheMove)
{
    ASSERT_TRUE(StartSim({"--count", "1", "--password", "right"}));
    CWatchRun watch({"provision", Plan("mac,ip\n00:1A:2B:00:00:01,10.200.3.1\n"), "--watch", "--interval", "0.3",
                     "--discover-timeout", "0.2", "--timeout", "0.3", "--retries", "2", "--password", "wrong"});
    ASSERT_TRUE(watch.WaitFor(2));
    ASSERT_TRUE(watch.Stop(SIGTERM));
    EXPECT_EQ(watch.m_events, QStringList({"appeared 01 10.200.1.1 change", "failed 01 10.200.1.1 change"}));
    EXPECT_EQ(watch.m_objects.last()["retrying"], false);
    EXPECT_EQ(Received("0x11"), 1);
}

// A service is stopped in the middle of a round as often as not: the
// discovery is cut short, not waited out, and the moves in flight end.
TEST_F(CliFleetTest, WatchStopsAtOnceOnASignalInTheMiddleOfARound)
{
    ASSERT_TRUE(StartSim({"--count", "4", "--same-ip", "--first-ip", "10.200.9.9", "--delay-ms", "200"}));
    const QString strPlan = Plan("mac,ip\n00:1A:2B:00:00:01,10.200.3.1\n00:1A:2B:00:00:02,10.200.3.2\n"
                                 "00:1A:2B:00:00:03,10.200.3.3\n00:1A:2B:00:00:04,10.200.3.4\n");
    for (const QStringList& args : {QStringList{"watch", "--timeout", "60"},
                                    QStringList{"provision", strPlan, "--watch", "--discover-timeout", "0.3",
                                                "--interval", "0.5"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        CWatchRun watch(args);
        ClearLog();
        ASSERT_TRUE(WaitFor([&] { return Received(args[0] == "watch" ? "0x10" : "0x11") > 0; }, 10000));
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(watch.Stop(SIGTERM));
        EXPECT_LT(clock.elapsed(), 3000);
    }
    // The move under way when the signal came was finished, no other begun.
    EXPECT_EQ(Received("0x11"), 1);
}

} // namespace

int main(int argc, char** argv)
{
    return RunCoreSegmentTests(argc, argv);
}

// As a unit runs it: options from a file, read again with the plan on
// SIGUSR1 while the report is rotated, no line lost; SIGHUP ends it as a
// closing terminal would; restarted on its state, it re-announces nothing
// and leaves where it is an appliance moved by hand since it was moved.
TEST_F(CliFleetTest, ProvisionWatchAsAServiceReloadsAndRestartsKeepingItsWord)
{
    ASSERT_TRUE(StartSim({"--count", "3", "--control", "-"}));
    const QString strPlan = Plan("mac,ip\n00:1A:2B:00:00:01,10.200.3.1\n");
    const QString strOptions = m_dir.filePath(QStringLiteral("t.conf"));
    WriteFile(strOptions, QStringLiteral("# test\ninterval 0.3\ndiscover-timeout 0.2\nplan %1\n").arg(strPlan).toUtf8());
    const QString strReport = m_dir.filePath(QStringLiteral("report.jsonl"));
    const QStringList args{"provision", "--watch", "--options-file", strOptions, "--timeout", "1", "--password", "pw",
                           "--state", m_dir.filePath(QStringLiteral("state.json")), "--report", strReport};
    {
        CWatchRun watch(args);
        ASSERT_TRUE(watch.WaitFor(4));
        ASSERT_TRUE(QFile::rename(strReport, strReport + ".1"));
        // Options refused now: said, and the run goes on as it was.
        const QByteArray good = ReadFile(strOptions);
        WriteFile(strOptions, good + "password pw\n");
        kill(pid_t(watch.Pid()), SIGUSR1);
        ASSERT_TRUE(WaitFor([&] { return watch.Errors().contains("the reload is refused"); }, 10000));
        WriteFile(strOptions, good);
        WriteFile(strPlan, "mac,ip\n00:1A:2B:00:00:01,10.200.3.1\n00:1A:2B:00:00:02,10.200.3.2\n");
        kill(pid_t(watch.Pid()), SIGUSR1);
        ASSERT_TRUE(watch.WaitFor(5));
        ASSERT_TRUE(watch.Stop(SIGHUP));
        EXPECT_EQ(watch.m_events.mid(3), QStringList({"moved 01 10.200.3.1 10.200.1.1 moved",
                                                      "moved 02 10.200.3.2 10.200.1.2 moved"}));
        EXPECT_EQ(ReadFile(strReport + ".1").count('\n'), 4);
        EXPECT_EQ(ReadFile(strReport).count('\n'), 1);
    }
    ASSERT_TRUE(m_sim.Control("move 0 10.200.1.77"));
    ClearLog();
    CWatchRun again(args);
    ASSERT_TRUE(again.WaitFor(1));
    ASSERT_TRUE(WaitFor([&] { return Received("0x10") >= 4; }, 10000));
    ASSERT_TRUE(again.Stop(SIGTERM));
    EXPECT_EQ(again.m_events, QStringList{"moved 01 10.200.1.77 10.200.3.1 change"});
    EXPECT_EQ(Received("0x11"), 0);
}

TEST_F(CliFleetTest, WatchRestartedOnItsStateAnnouncesOnlyWhatChangedMeanwhile)
{
    ASSERT_TRUE(StartSim({"--count", "2", "--control", "-"}));
    const QStringList args{"watch", "--interval", "0.3", "--timeout", "0.2", "--state",
                           m_dir.filePath(QStringLiteral("state.json"))};
    {
        CWatchRun watch(args);
        ASSERT_TRUE(watch.WaitFor(2));
        ASSERT_TRUE(watch.Stop(SIGTERM));
    }
    ASSERT_TRUE(m_sim.Control("leave 1"));
    CWatchRun again(args);
    ASSERT_TRUE(again.WaitFor(1));
    ASSERT_TRUE(again.Stop(SIGTERM));
    EXPECT_EQ(again.m_events, QStringList{"gone 02 10.200.1.2"});
}

// An interrupted fleet run, told by POSIX signals (Windows has none to send).
#include "clifixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

namespace {

// The first signal lets the change in flight end and reports every
// appliance; the second ends the run at once.
TEST_F(CliFleetTest, AnInterruptedProvisionSaysWhatWasDoneThenExitsWith128PlusTheSignal)
{
    ASSERT_TRUE(StartSim({"--count", "4", "--delay-ms", "300"}));
    const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
    for (const int nSignals : {1, 2}) {
        SCOPED_TRACE(nSignals);
        QProcess process;
        process.start(qEnvironmentVariable("NORVANE_CLI"),
                      {"provision", "--from", QStringLiteral("10.200.%1.1").arg(5 + nSignals), "--parallel", "1",
                       "--password", "pw", "--discover-timeout", "1", "--timeout", "2", "--report", strReport});
        ClearLog();
        ASSERT_TRUE(WaitFor([&] { return Received("0x11") > 0; }, 10000));
        kill(pid_t(process.processId()), SIGINT);
        QByteArray err;
        if (nSignals == 2) {
            // Two signals sent at once would arrive as one.
            ASSERT_TRUE(WaitFor([&] { return (err += process.readAllStandardError()).contains("starting nothing new"); }));
            kill(pid_t(process.processId()), SIGINT);
        }
        ASSERT_TRUE(process.waitForFinished(20000));
        if (nSignals == 2) {
            EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
            break;
        }
        EXPECT_EQ(process.exitCode(), 130);
        const QString strErr = QString::fromUtf8(err + process.readAllStandardError());
        EXPECT_TRUE(strErr.contains("provision: 1 of 4 appliances at their planned addresses")) << strErr.toStdString();
        const QJsonArray report = QJsonDocument::fromJson(ReadFile(strReport)).array();
        ASSERT_EQ(report.size(), 4);
        EXPECT_EQ(report[0].toObject()["outcome"], "moved");
        for (int i = 1; i < 4; ++i)
            EXPECT_EQ(report[i].toObject()["outcome"], "interrupted");
        EXPECT_EQ(Received("0x11"), 1);
    }
}

// A service manager stops with SIGTERM, a closed terminal with SIGHUP: each
// ends the run as SIGINT does, with 128 + its number. A request whose reply
// was lost is not asked again once a signal came.
TEST_F(CliFleetTest, SigtermAndSighupEndAFleetRunAndNothingIsAskedAgain)
{
    ASSERT_TRUE(StartSim({"--count", "2", "--lose-first", "setip=1000"}));
    for (const int nSignal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(nSignal);
        QProcess process;
        process.start(qEnvironmentVariable("NORVANE_CLI"),
                      {"provision", "--from", QStringLiteral("10.200.%1.1").arg(20 + nSignal), "--parallel", "1",
                       "--password", "pw", "--discover-timeout", "0.5", "--timeout", "1", "--retries", "3"});
        ClearLog();
        ASSERT_TRUE(WaitFor([&] { return Received("0x11") > 0; }, 10000));
        kill(pid_t(process.processId()), nSignal);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 128 + nSignal);
        EXPECT_EQ(Received("0x11"), 1);
    }
}

} // namespace

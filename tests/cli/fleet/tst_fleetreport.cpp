// RunFleet's exit code and the JSON report a script reads after a fleet run.
#include "exitcodes.h"
#include "fleetjobs.h"
#include "fleetreport.h"
#include "interruption.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Jobs = std::vector<std::unique_ptr<CScriptedJob>>;

Jobs Scripted(CTrace& trace, const QStringList& scripts)
{
    Jobs jobs;
    for (int n = 1; n <= scripts.size(); ++n)
        jobs.push_back(
            std::make_unique<CScriptedJob>(At(n, QStringLiteral("10.200.1.%1").arg(n)), trace, scripts[n - 1]));
    return jobs;
}

FleetRest Unanswered(qsizetype nCount)
{
    return {nCount, [](qsizetype i) { return QJsonObject{{"mac", QStringLiteral("rest%1").arg(i)}, {"error", "x"}}; },
            true};
}

QJsonArray Report(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).array() : QJsonArray();
}

// "mac outcome" of each entry.
QStringList Entries(const QJsonArray& report)
{
    QStringList list;
    for (const QJsonValue& entry : report)
        list << entry["mac"].toString().right(5) + " " + entry["outcome"].toString();
    return list;
}

TEST(FleetReport, ExitCodeSaysWhetherEveryApplianceSucceeded)
{
    CSession session(false);
    CTrace trace;
    const auto run = [&](const QStringList& scripts, const FleetRest& rest = {}) {
        const Jobs jobs = Scripted(trace, scripts);
        return RunFleet(session, Options(4, 0), JobList(jobs), [] { return QStringLiteral("done"); }, {}, rest);
    };
    EXPECT_EQ(run({"ok", "lost ok"}), EXIT_SOME_FAILED); // no retries
    EXPECT_EQ(run({"ok", "ok"}), EXIT_OK);
    EXPECT_EQ(run({"ok", "failed"}), EXIT_SOME_FAILED);
    EXPECT_EQ(run({}, Unanswered(1)), EXIT_SOME_FAILED);
    EXPECT_EQ(run({"ok"}, LeftAlone({QJsonObject{{"mac", "alone"}}})), EXIT_OK);
    EXPECT_EQ(run({}), EXIT_OK);
}

TEST(FleetReport, ReportListsEachJobThenTheRestAndIsTheOwnersAlone)
{
    QTemporaryDir dir;
    const QString strReport = dir.filePath("out/report.json");
    CSession session(false);
    CTrace trace;
    const Jobs jobs = Scripted(trace, {"ok", "failed"});
    EXPECT_EQ(RunFleet(session, Options(4, 0, strReport), JobList(jobs), [] { return QStringLiteral("done"); }, {},
                       Unanswered(2)),
              EXIT_SOME_FAILED);
    const QJsonArray report = Report(strReport);
    EXPECT_EQ(Entries(report), QStringList({"00:01 done", "00:02 failed", "rest0 ", "rest1 "}));
    EXPECT_EQ(report[1]["error"].toString(), "failed");
    EXPECT_EQ(QFile::permissions(strReport) & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);

    // Run again: the report is replaced whole, and nothing is left beside it.
    const Jobs again = Scripted(trace, {"ok"});
    EXPECT_EQ(RunFleet(session, Options(4, 0, strReport), JobList(again), [] { return QStringLiteral("done"); }),
              EXIT_OK);
    EXPECT_EQ(Entries(Report(strReport)), QStringList({"00:01 done"}));
    EXPECT_EQ(QDir(dir.filePath("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList({"report.json"}));

    // A report that cannot be written fails the run even when every job succeeded.
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_EQ(RunFleet(session, Options(4, 0, dir.filePath("file/report.json")), JobList(again),
                       [] { return QStringLiteral("done"); }),
              EXIT_FILE);
}

TEST(FleetReport, JobsASignalStoppedAreReportedInterrupted)
{
    QTemporaryDir dir;
    const FleetOptions options = Options(1, 2, dir.filePath("report.json"));
    CSession session(false);
    CInterruption interruption;
    CTrace trace;
    trace.onAttempt = [&](const QString&) { emit interruption.Interrupted(2); };
    const Jobs jobs = Scripted(trace, {"lost ok", "ok"});
    EXPECT_EQ(CFleetRunner(session, options, [] {}).Run(JobList(jobs), &interruption), 2);
    ASSERT_TRUE(CFleetReporter(options).SaveReport(JobList(jobs)));
    EXPECT_EQ(Entries(Report(options.strReport)), QStringList({"00:01 interrupted", "00:02 interrupted"}));
}

} // namespace

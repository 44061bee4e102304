// CFleetRunner with scripted jobs: nothing leaves the machine, since the
// session is never opened; its requests fail to send and end on the next
// turn of the loop, holding their address until then as real ones do.
#include "fleetjobs.h"
#include "interruption.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

QStringList States(const std::vector<std::unique_ptr<CScriptedJob>>& jobs)
{
    static const char* const kNames[] = {"waiting", "running", "succeeded", "failed", "interrupted"};
    QStringList list;
    for (const auto& pJob : jobs)
        list << QStringLiteral("%1/%2").arg(QLatin1String(kNames[int(pJob->State())])).arg(pJob->Attempts());
    return list;
}

TEST(FleetRunner, AsksAgainOnlyWhenAReplyWasLost)
{
    CSession session(false);
    CTrace trace;
    std::vector<std::unique_ptr<CScriptedJob>> jobs;
    jobs.push_back(std::make_unique<CScriptedJob>(At(1, "10.200.1.1"), trace, "lost lost ok"));
    jobs.push_back(std::make_unique<CScriptedJob>(At(2, "10.200.1.2"), trace, "lost"));
    jobs.push_back(std::make_unique<CScriptedJob>(At(3, "10.200.1.3"), trace, "failed ok"));
    EXPECT_EQ(CFleetRunner(session, Options(8, 2), [] {}).Run(JobList(jobs)), 0);
    EXPECT_EQ(States(jobs), QStringList({"succeeded/3", "failed/3", "failed/1"}));
    EXPECT_FALSE(jobs[1]->Refused());
    EXPECT_TRUE(jobs[2]->Refused());
    EXPECT_EQ(jobs[2]->Error(), "failed");
}

TEST(FleetRunner, NeverMoreInFlightThanAllowedNorTwoOnOneAddress)
{
    CSession session(false);
    CTrace trace;
    std::vector<std::unique_ptr<CScriptedJob>> jobs;
    for (int n = 1; n <= 5; ++n)
        jobs.push_back(std::make_unique<CScriptedJob>(At(n, QStringLiteral("10.200.1.%1").arg(n)), trace, "lost ok"));
    EXPECT_EQ(CFleetRunner(session, Options(2, 2), [] {}).Run(JobList(jobs)), 0);
    EXPECT_EQ(trace.nMaxInFlight, 2);
    EXPECT_EQ(States(jobs).count("succeeded/2"), 5);

    // Jobs at one address run one after the other, retries included; one
    // whose address is freed early (a change of address, acknowledged)
    // lets the next one start before it ends.
    CTrace shared;
    std::vector<std::unique_ptr<CScriptedJob>> queue;
    queue.push_back(std::make_unique<CScriptedJob>(At(1, "10.200.1.1"), shared, "lost ok"));
    queue.push_back(std::make_unique<CScriptedJob>(At(2, "10.200.1.1"), shared, "free"));
    queue.push_back(std::make_unique<CScriptedJob>(At(3, "10.200.1.1"), shared, "ok"));
    EXPECT_EQ(CFleetRunner(session, Options(8, 2), [] {}).Run(JobList(queue)), 0);
    EXPECT_TRUE(shared.log.join(QLatin1Char(' ')).startsWith("NV1+ NV1- NV1+ NV1- NV2+ NV3+")) << shared.log.join(' ').toStdString();
    EXPECT_EQ(shared.log.size(), 8);
    EXPECT_EQ(shared.nOverlaps, 0);
}

TEST(FleetRunner, ASignalStartsNothingNewAndLetsWhatIsInFlightEnd)
{
    CSession session(false);
    CInterruption interruption;
    CTrace trace;
    trace.onAttempt = [&](const QString& strSerial) {
        if (strSerial == "NV2")
            emit interruption.Interrupted(15);
    };
    std::vector<std::unique_ptr<CScriptedJob>> jobs;
    jobs.push_back(std::make_unique<CScriptedJob>(At(1, "10.200.1.1"), trace, "lost ok"));
    jobs.push_back(std::make_unique<CScriptedJob>(At(2, "10.200.1.2"), trace, "ok"));
    jobs.push_back(std::make_unique<CScriptedJob>(At(3, "10.200.1.3"), trace, "ok"));
    EXPECT_EQ(CFleetRunner(session, Options(2, 2), [] {}).Run(JobList(jobs), &interruption), 15);
    // The lost reply is not asked again; the third job never starts.
    EXPECT_EQ(States(jobs), QStringList({"interrupted/1", "succeeded/1", "interrupted/0"}));
}

TEST(FleetRunner, RefusesMalformedAddressesAndASharedOneUnlessAllowed)
{
    CTrace trace;
    const auto run = [&](bool bSharedIpOk) {
        std::vector<std::unique_ptr<CScriptedJob>> jobs;
        // The last two share an address on two interfaces: two appliances.
        for (const auto& [strMac, strIp, nInterface] : {std::tuple{"00:1A:2B:00:00", "10.200.1.1", 0},
                                                        {"00:1A:2B:00:00:02", "10.200.1.300", 0},
                                                        {"00:1A:2B:00:00:03", "10.200.1.9", 0},
                                                        {"00:1A:2B:00:00:04", "10.200.1.9", 0},
                                                        {"00:1A:2B:00:00:05", "10.200.1.5", 1},
                                                        {"00:1A:2B:00:00:06", "10.200.1.5", 2}}) {
            Appliance a = Make(strMac, strIp);
            a.nInterface = nInterface;
            jobs.push_back(std::make_unique<CScriptedJob>(a, trace, "ok"));
        }
        RefuseUnsafe(JobList(jobs), bSharedIpOk);
        QStringList errors;
        for (const auto& pJob : jobs)
            errors << (pJob->Ended() ? pJob->Error().section(QLatin1Char(' '), -3) : QStringLiteral("-"));
        return errors;
    };
    EXPECT_EQ(run(false), QStringList({"malformed MAC address", "malformed IP address", "same IP address",
                                       "same IP address", "-", "-"}));
    EXPECT_EQ(run(true), QStringList({"malformed MAC address", "malformed IP address", "-", "-", "-", "-"}));
}

// A request that could not be sent is retried as a lost reply is, and its
// error says why, for the summary and the report.
TEST(FleetRunner, ASendThatFailedSaysWhy)
{
    CSession session(false);
    DeviceRequest request;
    request.nType = DM_GET_LOGIN;
    request.strDeviceIp = QStringLiteral("10.200.1.1");
    AttemptEnd end;
    QEventLoop loop;
    session.Start(request, 1000, [&](const RequestResult& result) {
        end = AttemptEnd::Of(result);
        loop.quit();
    });
    loop.exec();
    EXPECT_EQ(end.eKind, AttemptEnd::EKind::Lost);
    EXPECT_EQ(end.strError, "SendTo Error: the socket is not open");
}

} // namespace

// The runner waits in an event loop, which needs an application.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

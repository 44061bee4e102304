// How long `norvane discover --scan` takes to sweep a /16 behind a router,
// and how many of the appliances there it finds. One line per rate:
//   sweep addresses=N rate=R found=F of=A seconds=S least=L over_least_pct=P cpu_seconds=C
// least is the time the rate allows: addresses / rate + the reply window;
// cpu_seconds what norvane spent of the processor (user and system).
//
//   tools/support/routed-segment build/test/tools/sim/norvane-sim 0 1000 build/test/bench/bench_sweep [RATE...]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/resource.h>

#include <cstdio>

namespace {
constexpr int FAR_APPLIANCES = 1000;
constexpr double WINDOW_SECONDS = 1.0;
const char* const RANGE = "10.212.0.0/16";
constexpr int RANGE_HOSTS = 65534;

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunOne(int nRate, const QString& strCli)
{
    const double dCpuBefore = ChildrenCpuSeconds();
    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(strCli, {"discover", "--scan", RANGE, "--rate", QString::number(nRate), "--no-broadcast", "--timeout",
                       QString::number(WINDOW_SECONDS), "--format", "json"});
    cli.waitForFinished(-1);
    const double dSeconds = double(clock.nsecsElapsed()) / 1e9;
    int nFound = 0;
    for (const QJsonValue& entry : QJsonDocument::fromJson(cli.readAllStandardOutput()).array())
        nFound += entry.toObject()["ip"].toString().startsWith("10.212.");
    const double dLeast = double(RANGE_HOSTS) / nRate + WINDOW_SECONDS;
    std::printf("sweep addresses=%d rate=%d found=%d of=%d seconds=%.2f least=%.2f over_least_pct=%.1f "
                "cpu_seconds=%.2f\n",
                RANGE_HOSTS, nRate, nFound, FAR_APPLIANCES, dSeconds, dLeast, (dSeconds / dLeast - 1) * 100,
                ChildrenCpuSeconds() - dCpuBefore);
    std::fflush(stdout);
    if (cli.exitCode() != 0)
        std::fprintf(stderr, "%s", cli.readAllStandardError().constData());
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The variable names the fixture; only the guard tells a real network.
    if (!InPrivateSegment() || qEnvironmentVariable("NORVANE_ROUTED") != QLatin1String("1")) {
        std::fprintf(stderr, "run me inside tools/support/routed-segment, with %d far appliances\n", FAR_APPLIANCES);
        return 2;
    }
    const QString strCli = QCoreApplication::applicationDirPath() + "/../cli/norvane";
    if (argc < 2)
        RunOne(20000, strCli);
    for (int i = 1; i < argc; ++i)
        RunOne(std::atoi(argv[i]), strCli);
    return 0;
}

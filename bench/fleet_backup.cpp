// How long `norvane backup-all` takes for a whole fleet of simulated
// appliances, with and without lost replies. One line per case:
//   fleet appliances=N ok=K seconds=S per_appliance_ms=P parallel=J drop=D
// seconds is the whole run: discovery, every image and every file.
//
//   tools/private-segment build/test/bench/bench_fleet_backup [PARALLEL]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

namespace {
void RunOne(int nAppliances, double dDrop, int nParallel, const QString& strDir)
{
    const QString strSim = strDir + "/../tools/sim/norvane-sim";
    const QString strCli = strDir + "/../cli/norvane";
    QProcess sim;
    if (!StartSimulator(sim, strSim, {"--count", QString::number(nAppliances), "--drop", QString::number(dDrop)})) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(strSim));
        return;
    }
    QTemporaryDir out;
    const QString strReport = out.filePath("report.json");
    const double dSeconds =
        RunFleetCommand(sim, strCli, {"backup-all", out.filePath("images")}, nParallel, dDrop, strReport);
    const int nOk = CountOutcome(strReport, "ok");
    std::printf("fleet appliances=%d ok=%d seconds=%.2f per_appliance_ms=%.2f parallel=%d drop=%g\n", nAppliances,
                nOk, dSeconds, dSeconds * 1000.0 / nAppliances, nParallel, dDrop);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (!InPrivateSegment()) {
        std::fprintf(stderr, "run me inside tools/private-segment\n");
        return 2;
    }
    const int nParallel = argc > 1 ? std::atoi(argv[1]) : 8;
    for (const int n : {100, 1000})
        for (const double dDrop : {0.0, 0.02})
            RunOne(n, dDrop, nParallel, QCoreApplication::applicationDirPath());
    return 0;
}

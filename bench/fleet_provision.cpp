// How long `norvane provision` takes to move a whole fleet of simulated
// appliances to new addresses and find each at its new one, with and without
// lost replies, and when they all start at one factory address. One line per
// case:
//   provision appliances=N moved=K seconds=S per_appliance_ms=P parallel=J drop=D same_ip=0|1
// seconds is the whole run: discovery, every change and every check.
//
//   tools/private-segment build/test/bench/bench_fleet_provision [PARALLEL]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

namespace {
void RunOne(int nAppliances, double dDrop, bool bSameIp, int nParallel, const QString& strDir)
{
    const QString strSim = strDir + "/../tools/sim/norvane-sim";
    const QString strCli = strDir + "/../cli/norvane";
    QStringList simArgs{"--count", QString::number(nAppliances), "--drop", QString::number(dDrop)};
    if (bSameIp)
        simArgs << "--same-ip";
    QProcess sim;
    if (!StartSimulator(sim, strSim, simArgs)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(strSim));
        return;
    }
    // Every appliance to 10.200.101.1 and on, row by row.
    QTemporaryDir out;
    const QString strPlan = out.filePath("plan.csv");
    if (WritePlan(strPlan, nAppliances).isEmpty())
        return;
    const QString strReport = out.filePath("report.json");
    const double dSeconds = RunFleetCommand(sim, strCli, {"provision", strPlan}, nParallel, dDrop, strReport);
    const int nMoved = CountOutcome(strReport, "moved");
    std::printf("provision appliances=%d moved=%d seconds=%.2f per_appliance_ms=%.2f parallel=%d drop=%g same_ip=%d\n",
                nAppliances, nMoved, dSeconds, dSeconds * 1000.0 / nAppliances, nParallel, dDrop, int(bSameIp));
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
    const QString strDir = QCoreApplication::applicationDirPath();
    RunOne(1000, 0.0, false, nParallel, strDir);
    RunOne(1000, 0.02, false, nParallel, strDir);
    RunOne(1000, 0.0, true, nParallel, strDir);
    return 0;
}

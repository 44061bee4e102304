// How long `norvane backup-all` takes for a whole fleet of simulated
// appliances, with and without lost replies. One line per case:
//   fleet appliances=N ok=K seconds=S per_appliance_ms=P parallel=J drop=D
// seconds is the whole run: discovery, every image and every file.
//
//   tools/private-segment build/test/bench/bench_fleet_backup [PARALLEL]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    // Lost discovery replies are found again by more rounds; lost image
    // replies by the retries.
    const QStringList args{"backup-all", out.filePath("images"), "--parallel", QString::number(nParallel),
                           "--discover-timeout", "0.5", "--rounds", dDrop > 0 ? "3" : "1", "--timeout", "0.5",
                           "--retries", "4", "--report", strReport, "--password", ""};
    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(strCli, args);
    cli.waitForFinished(600000);
    const double dSeconds = double(clock.nsecsElapsed()) / 1e9;
    sim.terminate();
    sim.waitForFinished();

    QFile report(strReport);
    int nOk = 0;
    if (report.open(QIODevice::ReadOnly))
        for (const QJsonValue& entry : QJsonDocument::fromJson(report.readAll()).array())
            nOk += entry.toObject()["outcome"].toString() == "ok";
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

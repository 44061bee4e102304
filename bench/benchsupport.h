// What the socket benchmarks share: the private-segment check and starting
// norvane-sim.
#pragma once

#include "segmentguard.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <cstdio>

// The one guard (segmentguard.h); outside a segment, says why and is false.
inline bool InPrivateSegment()
{
    const std::string strWhy = SegmentRefusal();
    if (!strWhy.empty())
        std::fprintf(stderr, "refusing to send: %s\n", strWhy.c_str());
    return strWhy.empty();
}

// Starts the simulator and waits for its "ready" line.
inline bool StartSimulator(QProcess& sim, const QString& strSim, const QStringList& args)
{
    sim.start(strSim, args);
    QByteArray output;
    while (!output.contains("ready\n") && sim.waitForReadyRead(10000))
        output += sim.readAllStandardOutput();
    return output.contains("ready\n");
}

// Runs a command on a fleet, whose discovery, requests and retries are
// common to every such benchmark: found again by more rounds when replies
// are lost. Returns the seconds it took, the simulator stopped.
inline double RunFleetCommand(QProcess& sim, const QString& strCli, QStringList args, int nParallel, double dDrop,
                              const QString& strReport)
{
    args << QStringList{"--parallel", QString::number(nParallel), "--discover-timeout", "0.5", "--rounds",
                        dDrop > 0 ? "3" : "1", "--timeout", "0.5", "--retries", "4", "--report", strReport,
                        "--password", ""};
    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(strCli, args);
    cli.waitForFinished(600000);
    const double dSeconds = double(clock.nsecsElapsed()) / 1e9;
    sim.terminate();
    sim.waitForFinished();
    return dSeconds;
}

// How many entries of the report have this outcome.
inline int CountOutcome(const QString& strReport, const QString& strOutcome)
{
    QFile report(strReport);
    int n = 0;
    if (report.open(QIODevice::ReadOnly))
        for (const QJsonValue& entry : QJsonDocument::fromJson(report.readAll()).array())
            n += entry.toObject()["outcome"].toString() == strOutcome;
    return n;
}

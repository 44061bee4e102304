// What the socket benchmarks share: the private-segment check and starting
// norvane-sim.
#pragma once

#include "segmentguard.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
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

// A process's resident memory (Linux: VmRSS of /proc/PID/status); -1 when
// it cannot be read.
inline double ResidentKiB(qint64 nPid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(nPid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
    return -1;
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

// A plan that gives the simulator's appliances 1 to nAppliances the
// addresses 10.200.101.1 and on, row by row. Returns each MAC, as the
// simulator writes it, with its planned address; empty when the plan could
// not be written.
inline QHash<QString, QString> WritePlan(const QString& strPath, int nAppliances)
{
    QFile plan(strPath);
    if (!plan.open(QIODevice::WriteOnly))
        return {};
    plan.write("mac,ip\n");
    QHash<QString, QString> planned;
    for (int i = 1; i <= nAppliances; ++i) {
        const QString strMac = QStringLiteral("00:1A:2B:%1:%2:%3")
                                   .arg((i >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
                                   .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                                   .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                                   .toUpper();
        const QString strIp = QStringLiteral("10.200.%1.%2").arg(101 + (i - 1) / 250).arg(1 + (i - 1) % 250);
        planned.insert(strMac, strIp);
        plan.write((strMac + ',' + strIp + '\n').toLatin1());
    }
    return plan.flush() ? planned : QHash<QString, QString>{};
}

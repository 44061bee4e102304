// What the socket benchmarks share: the private-segment check and starting
// norvane-sim.
#pragma once

#include <QNetworkInterface>
#include <QProcess>
#include <QStringList>

// True when every interface is a loopback one, as in tools/private-segment.
inline bool InPrivateSegment()
{
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        if (!(iface.flags() & QNetworkInterface::IsLoopBack))
            return false;
    return true;
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

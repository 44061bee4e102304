// norvane watch and provision --watch against norvane-sim, two cases:
//
//   steady [SECONDS]   10,000 appliances watched for SECONDS (default 600)
//                      at the default 5-second interval: norvane's processor
//                      time as a share of one core over the whole run, its
//                      resident memory at a fifth of the run (minute 2 of 10)
//                      and at the end, and the events once all 10,000 had
//                      appeared (none is right: nothing changed)
//   zero-touch [N]     N appliances (default 1000) appear at one factory
//                      address within a second, the simulator told on its
//                      --control; provision --watch, at its default interval,
//                      moves each to its planned address and checks it there:
//                      the seconds from their appearance to the last move
//                      verified, then a discovery to count them in place
//
//   tools/private-segment build/test/bench/bench_watch steady|zero-touch [ARG]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <cstdio>

namespace {
// utime + stime of a process, in seconds (Linux: /proc/PID/stat).
double CpuSeconds(qint64 nPid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(nPid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // Fields after the command's closing parenthesis: state is field 3.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// Reads the JSON lines a watch printed so far, counting each event.
struct EventCount {
    int nTotal = 0;
    QMap<QString, int> byEvent;
    QMap<QString, int> movedPerMac;
    void Read(QProcess& process)
    {
        while (process.canReadLine()) {
            const QJsonObject o = QJsonDocument::fromJson(process.readLine()).object();
            ++nTotal;
            ++byEvent[o["event"].toString()];
            if (o["event"] == QLatin1String("moved"))
                ++movedPerMac[o["mac"].toString()];
        }
    }
};

void Pump(QProcess& process, EventCount& count, int nMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < nMs) {
        process.waitForReadyRead(std::max<qint64>(1, std::min<qint64>(200, nMs - clock.elapsed())));
        count.Read(process);
    }
}

int Steady(const QString& strDir, int nSeconds)
{
    const int nAppliances = 10000;
    QProcess sim;
    if (!StartSimulator(sim, strDir + "/../tools/sim/norvane-sim", {"--count", QString::number(nAppliances)}))
        return 1;
    QProcess watch;
    watch.start(strDir + "/../cli/norvane", {"watch"});
    if (!watch.waitForStarted())
        return 1;
    EventCount count;
    QElapsedTimer clock;
    clock.start();
    double dSettledSeconds = -1;
    int nAtSettled = 0;
    double dRssEarly = -1;
    const qint64 nEarlyMs = qint64(nSeconds) * 1000 / 5;
    while (clock.elapsed() < qint64(nSeconds) * 1000) {
        Pump(watch, count, 1000);
        if (dSettledSeconds < 0 && count.byEvent.value("appeared") >= nAppliances) {
            dSettledSeconds = double(clock.elapsed()) / 1000;
            nAtSettled = count.nTotal;
        }
        if (dRssEarly < 0 && clock.elapsed() >= nEarlyMs)
            dRssEarly = ResidentKiB(watch.processId());
    }
    const double dCpu = CpuSeconds(watch.processId());
    const double dRssEnd = ResidentKiB(watch.processId());
    const double dWall = double(clock.elapsed()) / 1000;
    watch.terminate();
    watch.waitForFinished();
    sim.terminate();
    sim.waitForFinished();
    std::printf("watch appliances=%d seconds=%.0f appeared=%d all_appeared_after_s=%.1f cpu_seconds=%.2f "
                "cpu_percent_of_one_core=%.2f rss_kib_at_%llds=%.0f rss_kib_at_end=%.0f rss_change_percent=%+.1f "
                "events_after_all_appeared=%d exit=%d\n",
                nAppliances, dWall, count.byEvent.value("appeared"), dSettledSeconds, dCpu, 100 * dCpu / dWall,
                static_cast<long long>(nEarlyMs / 1000), dRssEarly, dRssEnd, 100 * (dRssEnd - dRssEarly) / dRssEarly,
                dSettledSeconds < 0 ? -1 : count.nTotal - nAtSettled, watch.exitCode());
    return 0;
}

int ZeroTouch(const QString& strDir, int nAppliances)
{
    QTemporaryDir out;
    const QString strPlan = out.filePath("plan.csv");
    const QHash<QString, QString> planned = WritePlan(strPlan, nAppliances);
    if (planned.isEmpty())
        return 1;
    const QString strAll = QStringLiteral("0-%1").arg(nAppliances - 1);
    QProcess sim;
    if (!StartSimulator(sim, strDir + "/../tools/sim/norvane-sim",
                        {"--count", QString::number(nAppliances), "--same-ip", "--first-ip", "10.200.9.9", "--absent",
                         strAll, "--control", "-"}))
        return 1;
    QProcess watch;
    watch.start(strDir + "/../cli/norvane", {"provision", strPlan, "--watch", "--password", ""});
    if (!watch.waitForStarted())
        return 1;
    EventCount count;
    // Already watching an empty segment when the batch comes.
    Pump(watch, count, 3000);
    QElapsedTimer clock;
    clock.start();
    sim.write(QStringLiteral("appear %1\n").arg(strAll).toLatin1());
    sim.waitForBytesWritten(5000);
    double dLastMoved = -1;
    while (clock.elapsed() < 120000 && count.byEvent.value("moved") < nAppliances) {
        Pump(watch, count, 50);
        if (count.byEvent.value("moved") >= nAppliances)
            dLastMoved = double(clock.elapsed()) / 1000;
    }
    watch.terminate();
    watch.waitForFinished();
    int nMovedTwice = 0;
    for (const int n : std::as_const(count.movedPerMac))
        nMovedTwice += n > 1;
    // Where they answer now, by the plan's addresses.
    QProcess discover;
    discover.start(strDir + "/../cli/norvane", {"discover", "--format", "json", "--rounds", "2"});
    discover.waitForFinished(60000);
    int nInPlace = 0;
    for (const QJsonValue& v : QJsonDocument::fromJson(discover.readAllStandardOutput()).array())
        nInPlace += planned.value(v.toObject()["mac"].toString()) == v.toObject()["ip"].toString();
    sim.terminate();
    sim.waitForFinished();
    std::printf("zero_touch appliances=%d moved_and_verified=%d moved_twice=%d failed=%d "
                "seconds_appearance_to_last_verified=%.1f at_planned_address_by_discovery=%d\n",
                nAppliances, count.byEvent.value("moved"), nMovedTwice, count.byEvent.value("failed"), dLastMoved,
                nInPlace);
    return 0;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (!InPrivateSegment()) {
        std::fprintf(stderr, "run me inside tools/private-segment\n");
        return 2;
    }
    const QString strCase = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString strDir = QCoreApplication::applicationDirPath();
    if (strCase == QLatin1String("steady"))
        return Steady(strDir, argc > 2 ? std::atoi(argv[2]) : 600);
    if (strCase == QLatin1String("zero-touch"))
        return ZeroTouch(strDir, argc > 2 ? std::atoi(argv[2]) : 1000);
    std::fprintf(stderr, "usage: bench_watch steady [SECONDS] | zero-touch [N]\n");
    return 2;
}

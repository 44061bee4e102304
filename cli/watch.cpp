// norvane watch: the segment followed by a discovery every --interval
// seconds, each change printed as it is seen (watcher.h).
#include "watch.h"

#include "exitcodes.h"
#include "interruption.h"
#include "messages.h"
#include "output.h"
#include "steps.h"
#include "terminal.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
// --once-settled: discoveries one after another until nothing more is to
// be learnt: from the second on, once no claim waits for its second round,
// or (forged replies keep some waiting) from the third, once a round
// brings no event. A segment that never settles is taken as it is then.
constexpr int SETTLE_MAX_ROUNDS = 10;
} // namespace

WatchOptions ReadWatchOptions(const CContext& ctx)
{
    WatchOptions options;
    bool bOk = false;
    const double dSeconds = ctx.Value("interval").toDouble(&bOk);
    if (!bOk || !(dSeconds >= 0.1 && dSeconds <= 86400))
        Usage(QStringLiteral("--interval takes seconds, from 0.1 to 86400"));
    options.nIntervalMs = int(dSeconds * 1000 + 0.5);
    options.nGoneAfter = CountOption(ctx, "gone-after", 1, 1000);
    const QString strFormat = ctx.Value("format");
    if (!ctx.IsSet("format"))
        options.bJson = !StdoutIsTerminal();
    else if (strFormat == QLatin1String("json") || strFormat == QLatin1String("text"))
        options.bJson = strFormat == QLatin1String("json");
    else
        Usage(QStringLiteral("--format takes json or text"));
    return options;
}

void CEventWriter::OpenReport(const QString& strPath)
{
    // Appended to, not replaced: a unit that restarts keeps its history.
    // Only a regular file: CheckWritable has refused anything else.
    m_report.setFileName(strPath);
    if (!m_report.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        Usage(QStringLiteral("cannot write %1: %2").arg(strPath, m_report.errorString()));
}

bool CEventWriter::Write(const WatchEvent& event)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray line = FormatEvent(event, now, m_bJson);
    if (!OutBytes(line))
        return false;
    if (!m_report.isOpen())
        return true;
    const QByteArray json = m_bJson ? line : FormatEvent(event, now, true);
    if (m_report.write(json) == json.size() && m_report.flush())
        return true;
    Note(QStringLiteral("cannot write %1: %2").arg(m_report.fileName(), m_report.errorString()));
    return false;
}

int RepeatDiscovery(CContext& ctx, int nIntervalMs, int nWindowMs, CInterruption& interruption,
                    const std::function<bool(const QList<Appliance>&)>& round)
{
    OpenSession(ctx);
    int nSignal = 0;
    QEventLoop wait;
    QTimer next;
    next.setSingleShot(true);
    QObject::connect(&next, &QTimer::timeout, &wait, &QEventLoop::quit);
    const QMetaObject::Connection taken =
        QObject::connect(&interruption, &CInterruption::Interrupted, &wait, [&](int n) {
            nSignal = n;
            ctx.pSession->StopDiscovery();
            wait.quit();
        });
    bool bSendFailed = false;
    QElapsedTimer clock;
    while (!nSignal) {
        clock.start();
        const CSession::Discovered found = ctx.pSession->Discover(nWindowMs, 1);
        // An interface may come up later (a unit started before the
        // network): said once, and asked again each round.
        if (found.bSent == bSendFailed)
            Note(found.bSent ? QStringLiteral("discovery goes out again")
                             : QStringLiteral("could not send discovery; trying again each round"));
        bSendFailed = !found.bSent;
        // A round cut short by a signal has not heard everything.
        if (nSignal || !round(found.appliances) || StdoutPipeClosed())
            break;
        next.start(int(std::max<qint64>(0, nIntervalMs - clock.elapsed())));
        if (!nSignal)
            wait.exec();
    }
    QObject::disconnect(taken);
    return nSignal;
}

int RunWatch(CContext& ctx)
{
    const WatchOptions options = ReadWatchOptions(ctx);
    CWatcher watcher(options.nGoneAfter);
    CEventWriter writer(options.bJson);
    CInterruption interruption;
    if (!ctx.IsSet("once-settled")) {
        // Ended by a signal, as a service is: that is no failure.
        RepeatDiscovery(ctx, options.nIntervalMs, ctx.nTimeoutMs, interruption, [&](const QList<Appliance>& heard) {
            for (const WatchEvent& event : watcher.Round(heard))
                if (!writer.Write(event))
                    return false;
            return true;
        });
        if (ctx.bVerbose)
            Note(QStringLiteral("%1 replies came from another address than the one they report").arg(watcher.Unproven()));
        return EXIT_OK;
    }

    int nRounds = 0;
    const int nSignal = RepeatDiscovery(ctx, 0, ctx.nTimeoutMs, interruption, [&](const QList<Appliance>& heard) {
        const bool bQuiet = watcher.Round(heard).isEmpty();
        ++nRounds;
        const bool bSettled = nRounds >= 2 && (!watcher.Waiting() || (bQuiet && nRounds >= 3));
        return !bSettled && nRounds < SETTLE_MAX_ROUNDS;
    });
    if (nSignal)
        return 128 + nSignal;
    const QList<Appliance> present = watcher.Present();
    for (const Appliance& a : present)
        if (!writer.Write({WatchEvent::EKind::Appeared, a, {}, {}, {}}))
            break;
    if (present.isEmpty())
        Note(QStringLiteral("no appliance answered in %1 rounds").arg(nRounds));
    return EXIT_OK;
}

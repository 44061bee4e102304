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
// The report of ctx, if it names one, checked and opened by writer.
void OpenReport(const CContext& ctx, CEventWriter& writer)
{
    if (!ctx.IsSet("report"))
        return;
    const QString strPath = ctx.Value("report");
    if (strPath.isEmpty() || strPath == QLatin1String("-"))
        Usage(QStringLiteral("--report takes a file: the events go to standard output anyway"));
    CheckWritable(strPath);
    writer.OpenReport(strPath);
}

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
    auto pReport = std::make_unique<QFile>(strPath);
    if (!pReport->open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        Usage(QStringLiteral("cannot write %1: %2").arg(strPath, pReport->errorString()));
    m_pReport = std::move(pReport);
}

bool CEventWriter::Write(const WatchEvent& event)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray line = FormatEvent(event, now, m_bJson);
    ++m_nWritten;
    if (!OutBytes(line))
        return false;
    if (!m_pReport)
        return true;
    const QByteArray json = m_bJson ? line : FormatEvent(event, now, true);
    if (m_pReport->write(json) == json.size() && m_pReport->flush())
        return true;
    Note(QStringLiteral("cannot write %1: %2").arg(m_pReport->fileName(), m_pReport->errorString()));
    return false;
}

int RepeatDiscovery(CContext& ctx, int nIntervalMs, int nWindowMs, CInterruption& interruption,
                    const WatchRound& round)
{
    OpenSession(ctx);
    int nSignal = 0;
    bool bReload = false;
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
    // Taken between rounds: a round runs whole with the options it began with.
    const QMetaObject::Connection reload = QObject::connect(&interruption, &CInterruption::ReloadAsked, &wait, [&] {
        bReload = true;
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
        if (!nSignal && !bReload)
            wait.exec();
        if (bReload && !nSignal) {
            nSignal = RELOAD_ASKED;
            break;
        }
    }
    QObject::disconnect(taken);
    QObject::disconnect(reload);
    return nSignal;
}

CWatchRun::CWatchRun(CContext& ctx, const QString& strCommand)
    : m_pCtx(&ctx), m_options(ReadWatchOptions(ctx)), m_writer(m_options.bJson),
      m_state(ctx.Value("state"), strCommand)
{
    OpenReport(ctx, m_writer);
}

WatchState CWatchRun::Resume(CWatcher& watcher)
{
    m_pWatcher = &watcher;
    WatchState state = m_state.Load();
    for (const Appliance& a : state.believed)
        watcher.Place(a);
    return state;
}

int CWatchRun::Run(int CContext::*pnWindowMs, const WatchRound& round, const std::function<WatchState()>& state,
                   const Reread& reread)
{
    const WatchRound kept = [&](const QList<Appliance>& heard) {
        const quint64 nBefore = m_writer.Written();
        const bool bGoOn = round(heard);
        if (m_writer.Written() != nBefore)
            m_state.Save(state());
        return bGoOn;
    };
    for (;;) {
        const int nSignal =
            RepeatDiscovery(*m_pCtx, m_options.nIntervalMs, m_pCtx->*pnWindowMs, m_interruption, kept);
        if (nSignal != RELOAD_ASKED)
            return nSignal;
        Reload(reread);
    }
}

void CWatchRun::Reload(const Reread& reread)
{
    try {
        std::unique_ptr<CContext> pContext = ReadContextAgain(*m_pCtx);
        const WatchOptions options = ReadWatchOptions(*pContext);
        OpenReport(*pContext, m_writer);
        if (reread)
            reread(*pContext);
        if (m_pWatcher)
            m_pWatcher->SetGoneAfter(options.nGoneAfter);
        m_options = options;
        m_writer.SetJson(options.bJson);
        // The socket goes with the old options: the interfaces or ranges
        // may be new.
        m_pCtx->pSession.reset();
        m_pReloaded = std::move(pContext);
        m_pCtx = m_pReloaded.get();
        Note(QStringLiteral("options read again"));
    } catch (const CExit&) {
        Note(QStringLiteral("the reload is refused; going on as before"));
    }
}

int RunWatch(CContext& ctx)
{
    if (ctx.IsSet("once-settled") && ctx.IsSet("state"))
        Usage(QStringLiteral("--once-settled takes a snapshot of its own: no --state"));
    CWatchRun run(ctx, QStringLiteral("watch"));
    const WatchOptions& options = run.Options();
    CWatcher watcher(options.nGoneAfter);
    CEventWriter& writer = run.Writer();
    if (!ctx.IsSet("once-settled")) {
        run.Resume(watcher);
        // Ended by a signal, as a service is: that is no failure.
        run.Run(
            &CContext::nTimeoutMs,
            [&](const QList<Appliance>& heard) {
                for (const WatchEvent& event : watcher.Round(heard))
                    if (!writer.Write(event))
                        return false;
                return true;
            },
            [&] { return WatchState{watcher.Present(), {}}; });
        if (run.Context().bVerbose)
            Note(QStringLiteral("%1 replies came from another address than the one they report").arg(watcher.Unproven()));
        return EXIT_OK;
    }

    int nRounds = 0;
    int nSignal = RELOAD_ASKED;
    // A snapshot reads nothing again: a reload asked meanwhile only goes on.
    while (nSignal == RELOAD_ASKED)
        nSignal = RepeatDiscovery(ctx, 0, ctx.nTimeoutMs, run.Interruption(), [&](const QList<Appliance>& heard) {
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

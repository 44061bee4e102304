#include "zerotouch.h"

#include "ipv4text.h"
#include "provisionjob.h"
#include "steps.h"
#include "subcommands.h"

#include <QDateTime>

#include <algorithm>
#include <memory>
#include <vector>

QList<MoveEnd> SendMoves(CSession& session, const FleetOptions& options, const QList<ZeroTouchMove>& moves,
                         CInterruption& interruption)
{
    FleetOptions once = options;
    once.nRetries = 0;
    once.bProgress = false;
    std::vector<std::unique_ptr<CProvisionJob>> jobs;
    for (const ZeroTouchMove& move : moves)
        jobs.push_back(std::make_unique<CProvisionJob>(move.row, move.target));
    RefuseUnsafe(JobList(jobs), true);
    CFleetRunner(session, once, [] {}).Run(JobList(jobs), &interruption);
    LookAgain(session, jobs, options.nTimeoutMs);
    QList<MoveEnd> ends;
    for (const auto& pJob : jobs) {
        using EKind = MoveEnd::EKind;
        const EKind eKind = pJob->Succeeded()                                   ? EKind::Moved
                            : pJob->State() == CFleetJob::EState::Interrupted ? EKind::Interrupted
                            : pJob->Refused()                                   ? EKind::Refused
                                                                                : EKind::Failed;
        ends.append({eKind, pJob->Error(), pJob->Attempts()});
    }
    return ends;
}

namespace {
constexpr qint64 HOUR_MS = 3600 * 1000;
} // namespace

CZeroTouch::CZeroTouch(const CContext& ctx, const ProvisionInput& in, CWatcher& watcher, Write write, Send send,
                       Clock now)
    : m_watcher(watcher), m_write(std::move(write)), m_send(std::move(send)),
      m_now(now ? std::move(now) : Clock(&QDateTime::currentMSecsSinceEpoch))
{
    Plan(ctx, in);
}

void CZeroTouch::Plan(const CContext& ctx, const ProvisionInput& in)
{
    m_pCtx = &ctx;
    m_pIn = &in;
    m_bCorrectDrift = ctx.IsSet("correct-drift");
    m_planned.clear();
    m_nNext = 0;
    for (const PlanRow& row : in.rows)
        m_planned.insert(row.strMac, {row});
}

QList<ZeroTouchDone> CZeroTouch::Done() const
{
    QList<ZeroTouchDone> done;
    for (auto it = m_planned.cbegin(); it != m_planned.cend(); ++it) {
        const bool bMoved = it->eState == Planned::EState::Moved;
        if (bMoved || (it->bNumbered && !it->row.strIp.isEmpty()))
            done.append({it.key(), it->row.strIp, bMoved, it->bNumbered, it->corrections});
    }
    std::sort(done.begin(), done.end(),
              [](const ZeroTouchDone& a, const ZeroTouchDone& b) { return a.strMacKey < b.strMacKey; });
    return done;
}

void CZeroTouch::Restore(const QList<ZeroTouchDone>& done)
{
    for (const ZeroTouchDone& d : done) {
        auto it = m_planned.find(d.strMacKey);
        if (it == m_planned.end() && d.bNumbered && m_pIn->bFrom &&
            InNumberingRange(d.strIp, m_pIn->strFirstIp, m_pCtx->sweep.ranges)) {
            PlanRow row;
            row.strMac = row.strSource = d.strMacKey;
            row.strIp = d.strIp;
            it = m_planned.insert(d.strMacKey, {row});
            it->bNumbered = true;
        }
        if (it == m_planned.end() || it->row.strIp != d.strIp)
            continue; // the plan gives it another address now: a promise of its own
        if (d.bMoved)
            it->eState = Planned::EState::Moved;
        it->corrections = d.corrections;
    }
}

void CZeroTouch::Replan(const CContext& ctx, const ProvisionInput& in)
{
    const QList<ZeroTouchDone> done = Done();
    Plan(ctx, in);
    Restore(done);
}

bool CZeroTouch::Round(const QList<Appliance>& heard)
{
    QList<WatchEvent> events = m_watcher.Round(heard);
    QList<WatchEvent> refused;
    // Numbered first, so that an appliance appears with its plan.
    const QList<ZeroTouchMove> moves = Moves(heard, refused);
    for (WatchEvent& event : events) {
        event.extra.insert(QStringLiteral("plan"), PlanNote(event.appliance));
        if (!m_write(event))
            return false;
    }
    for (const WatchEvent& event : std::as_const(refused))
        if (!m_write(event))
            return false;
    if (moves.isEmpty())
        return true;
    const QList<MoveEnd> ends = m_send(moves);
    for (qsizetype i = 0; i < moves.size(); ++i)
        if (!m_write(Ended(moves[i], ends[i])))
            return false;
    return true;
}

// The row of the appliance with this MAC; null when it is in no plan.
const PlanRow* CZeroTouch::PlannedRow(const QString& strMacKey) const
{
    const auto it = m_planned.constFind(strMacKey);
    return it == m_planned.constEnd() || it->eState == Planned::EState::Unnumbered ? nullptr : &it->row;
}

// Where the plan stands on an appliance an event names.
QString CZeroTouch::PlanNote(const Appliance& a) const
{
    const PlanRow* pRow = PlannedRow(a.strMacKey);
    return pRow ? OutcomeText(PlannedAction(*pRow, &a)) : QStringLiteral("not in plan");
}

// The row of a planned appliance still to be moved; with --from, numbered
// now if it is new and --match picks it. Null when there is nothing to do.
const PlanRow* CZeroTouch::RowToMove(const Appliance& a, const QSet<QString>& taken, QList<WatchEvent>& refused,
                                     bool& bCorrection)
{
    const QString& strKey = a.strMacKey;
    bCorrection = false;
    if (const auto it = m_planned.find(strKey); it != m_planned.end()) {
        if (it->eState == Planned::EState::Waiting)
            return &it->row;
        if (it->eState != Planned::EState::Moved || !m_bCorrectDrift ||
            PlannedAction(it->row, &a) == ERowOutcome::AlreadyThere)
            return nullptr;
        // Moved by hand since it was put there: back, unless that was done
        // too often in the last hour (someone wants it elsewhere).
        const qint64 nNow = m_now();
        it->corrections.removeIf([&](qint64 nWhen) { return nWhen <= nNow - HOUR_MS || nWhen > nNow; });
        if (it->corrections.size() >= CORRECTIONS_PER_HOUR)
            return nullptr;
        it->corrections.append(nNow);
        bCorrection = true;
        return &it->row;
    }
    if (!m_pIn->bFrom || strKey.isEmpty() || Chosen(*m_pCtx, m_pIn->match, {a}).isEmpty())
        return nullptr;
    if (InNumberingRange(a.strIp, m_pIn->strFirstIp, m_pCtx->sweep.ranges) && a.Proven()) {
        PlanRow row;
        row.strMac = row.strSource = strKey;
        row.strIp = a.IpText();
        const auto it = m_planned.insert(strKey, {row});
        it->bNumbered = true;
        return &it->row;
    }
    QString strWhy;
    const PlanRow row = NextNumberedRow(a, m_pIn->strFirstIp, m_pCtx->sweep.ranges, taken, m_nNext, strWhy);
    if (row.strIp.isEmpty()) {
        m_planned.insert(strKey, {{}, 0, Planned::EState::Unnumbered});
        refused.append(Failed(a, strWhy, 0, true));
        return nullptr;
    }
    const auto it = m_planned.insert(strKey, {row});
    it->bNumbered = true;
    return &it->row;
}

QList<ZeroTouchMove> CZeroTouch::Moves(const QList<Appliance>& heard, QList<WatchEvent>& refused)
{
    // Addresses in use, with who answers there: none is given twice. A
    // claim from elsewhere names no holder, lest one datagram block a move.
    QHash<QString, QString> macAt;
    for (const Appliance& a : heard)
        if (a.Proven())
            macAt.insert(a.strIp, a.strMacKey); // proven: an address, in its one form
    // Numbering skips them and those handed out; a plan names its own.
    QSet<QString> taken;
    if (m_pIn->bFrom) {
        for (const Planned& planned : std::as_const(m_planned))
            taken.insert(planned.row.strIp);
        for (auto it = macAt.cbegin(); it != macAt.cend(); ++it)
            taken.insert(it.key());
    }
    QList<ZeroTouchMove> moves;
    for (const Appliance& a : m_watcher.Answering()) {
        bool bCorrection = false;
        const PlanRow* pRow = RowToMove(a, taken, refused, bCorrection);
        if (!pRow || PlannedAction(*pRow, &a) == ERowOutcome::AlreadyThere)
            continue;
        const QString strHolder = macAt.value(pRow->strIp);
        if (!strHolder.isEmpty() && strHolder != a.strMacKey) {
            refused.append(Failure(a, QStringLiteral("%1 already answers for another appliance, %2")
                                          .arg(pRow->strIp, strHolder)));
            continue;
        }
        moves.append({a, *pRow, bCorrection});
    }
    return moves;
}

WatchEvent CZeroTouch::Failed(const Appliance& a, const QString& strError, int nFailures, bool bFinal) const
{
    WatchEvent event{WatchEvent::EKind::Failed, a, {}, {}, {}};
    event.extra = {{"plan", PlanNote(a)},
                   {"error", strError},
                   {"failures", nFailures},
                   {"retrying", !bFinal}};
    if (const PlanRow* pRow = PlannedRow(a.strMacKey))
        event.extra.insert(QStringLiteral("planned_ip"), pRow->strIp);
    return event;
}

WatchEvent CZeroTouch::Ended(const ZeroTouchMove& move, const MoveEnd& end)
{
    Planned& planned = m_planned[move.target.strMacKey];
    switch (end.eKind) {
    case MoveEnd::EKind::Moved: {
        Appliance a = move.target;
        a.strIp = move.row.strIp;
        a.bIp = ParseIpv4(a.strIp, a.nIp);
        a.nFrom = a.nIp;
        m_watcher.Place(a);
        planned.eState = Planned::EState::Moved;
        WatchEvent event{move.bCorrection ? WatchEvent::EKind::Corrected : WatchEvent::EKind::Moved, a,
                         move.target.strIp, {}, {}};
        event.extra = {{"plan", OutcomeText(ERowOutcome::Moved)}, {"attempts", end.nAttempts}};
        if (move.bCorrection)
            event.extra.insert(QStringLiteral("corrections"), planned.corrections.size());
        return event;
    }
    case MoveEnd::EKind::Interrupted:
        return Failed(move.target, end.strError, planned.nFailures, false);
    case MoveEnd::EKind::Refused:
        return Failure(move.target, end.strError, true);
    case MoveEnd::EKind::Failed:
        // A lost correction is asked again next round, within the hour's
        // allowance; it stays where it was put.
        if (move.bCorrection)
            return Failed(move.target, end.strError, ++planned.nFailures,
                          planned.corrections.size() >= CORRECTIONS_PER_HOUR);
        break;
    }
    return Failure(move.target, end.strError);
}

// One more failed move of a; after --retries of them, or the appliance's
// own refusal, the last.
WatchEvent CZeroTouch::Failure(const Appliance& a, const QString& strError, bool bRefused)
{
    Planned& planned = m_planned[a.strMacKey];
    ++planned.nFailures;
    const bool bFinal = bRefused || planned.nFailures > m_pIn->options.nRetries;
    if (bFinal)
        planned.eState = Planned::EState::GivenUp;
    return Failed(a, strError, planned.nFailures, bFinal);
}

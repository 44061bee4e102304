#include "zerotouch.h"

#include "steps.h"
#include "subcommands.h"

CZeroTouch::CZeroTouch(CContext& ctx, const ProvisionInput& in, CWatcher& watcher, CEventWriter& writer)
    : m_ctx(ctx), m_in(in), m_watcher(watcher), m_writer(writer)
{
    for (const PlanRow& row : in.rows)
        m_plan.insert(row.strMac, row);
    // Lost replies are asked again on the next round, not at once.
    m_runOptions = in.options;
    m_runOptions.nRetries = 0;
    m_runOptions.bProgress = false;
}

bool CZeroTouch::Round(const QList<Appliance>& heard, CInterruption& interruption)
{
    QList<WatchEvent> events = m_watcher.Round(heard);
    std::vector<std::unique_ptr<CProvisionJob>> jobs;
    QList<WatchEvent> refused;
    // Numbered first, so that an appliance appears with its plan.
    MakeJobs(heard, jobs, refused);
    for (WatchEvent& event : events) {
        event.extra.insert(QStringLiteral("plan"), PlanNote(event.appliance));
        if (!m_writer.Write(event))
            return false;
    }
    for (const WatchEvent& event : std::as_const(refused))
        if (!m_writer.Write(event))
            return false;
    if (jobs.empty())
        return true;
    RefuseUnsafe(JobList(jobs), true);
    CFleetRunner(*m_ctx.pSession, m_runOptions, [] {}).Run(JobList(jobs), &interruption);
    LookAgain(*m_ctx.pSession, jobs, m_in.options.nTimeoutMs);
    for (const auto& pJob : jobs)
        if (!m_writer.Write(Outcome(*pJob)))
            return false;
    return true;
}

// Where the plan stands on an appliance an event names.
QString CZeroTouch::PlanNote(const Appliance& a) const
{
    const auto row = m_plan.constFind(CanonicalMac(a.strMac));
    return row == m_plan.constEnd() ? QStringLiteral("not in plan") : PlannedAction(*row, &a);
}

// The row of a planned appliance; with --from, numbered now if it is new
// and --match picks it. Null when it is in no plan.
const PlanRow* CZeroTouch::RowOf(const Appliance& a, const QSet<QString>& taken, QList<WatchEvent>& refused)
{
    const QString strKey = CanonicalMac(a.strMac);
    if (const auto it = m_plan.constFind(strKey); it != m_plan.constEnd())
        return &*it;
    if (!m_in.bFrom || strKey.isEmpty() || m_unnumbered.contains(strKey) ||
        Chosen(m_ctx, m_in.match, {a}).isEmpty())
        return nullptr;
    if (InNumberingRange(a.strIp, m_in.strFirstIp, m_ctx.sweep.ranges) && a.Proven()) {
        PlanRow row;
        row.strMac = row.strSource = strKey;
        row.strIp = CanonicalIp(a.strIp);
        return &*m_plan.insert(strKey, row);
    }
    QString strWhy;
    const PlanRow row = NextNumberedRow(a, m_in.strFirstIp, m_ctx.sweep.ranges, taken, m_nNext, strWhy);
    if (row.strIp.isEmpty()) {
        m_unnumbered.insert(strKey);
        refused.append(Failed(a, strWhy, 0, true));
        return nullptr;
    }
    return &*m_plan.insert(strKey, row);
}

void CZeroTouch::MakeJobs(const QList<Appliance>& heard, std::vector<std::unique_ptr<CProvisionJob>>& jobs,
                          QList<WatchEvent>& refused)
{
    // Addresses in use, with who answers there: none is given twice. A
    // claim from elsewhere names no holder, lest one datagram block a move.
    QHash<QString, QString> macAt;
    for (const Appliance& a : heard)
        if (a.Proven())
            macAt.insert(CanonicalIp(a.strIp), CanonicalMac(a.strMac));
    // Numbering skips them and those handed out; a plan names its own.
    QSet<QString> taken;
    if (m_in.bFrom) {
        for (const PlanRow& row : std::as_const(m_plan))
            taken.insert(row.strIp);
        for (auto it = macAt.cbegin(); it != macAt.cend(); ++it)
            taken.insert(it.key());
    }
    for (const Appliance& a : m_watcher.Answering()) {
        const QString strKey = CanonicalMac(a.strMac);
        if (m_moved.contains(strKey) || m_givenUp.contains(strKey))
            continue;
        const PlanRow* pRow = RowOf(a, taken, refused);
        if (!pRow || PlannedAction(*pRow, &a) == kAlreadyThere)
            continue;
        const QString strHolder = macAt.value(pRow->strIp);
        if (!strHolder.isEmpty() && strHolder != strKey) {
            refused.append(Failure(a, QStringLiteral("%1 already answers for another appliance, %2")
                                          .arg(pRow->strIp, strHolder)));
            continue;
        }
        jobs.push_back(std::make_unique<CProvisionJob>(*pRow, a));
    }
}

WatchEvent CZeroTouch::Failed(const Appliance& a, const QString& strError, int nFailures, bool bFinal) const
{
    WatchEvent event{QStringLiteral("failed"), a, {}, {}, {}};
    event.extra = {{"plan", PlanNote(a)},
                   {"error", strError},
                   {"failures", nFailures},
                   {"retrying", !bFinal}};
    if (const auto row = m_plan.constFind(CanonicalMac(a.strMac)); row != m_plan.constEnd())
        event.extra.insert(QStringLiteral("planned_ip"), row->strIp);
    return event;
}

WatchEvent CZeroTouch::Outcome(const CProvisionJob& job)
{
    const QString strKey = CanonicalMac(job.Target().strMac);
    if (job.Succeeded()) {
        Appliance a = job.Target();
        a.strIp = a.strFrom = job.Row().strIp;
        m_watcher.Place(a);
        m_moved.insert(strKey);
        WatchEvent event{QStringLiteral("moved"), a, job.Target().strIp, {}, {}};
        event.extra = {{"plan", kMoved}, {"attempts", job.Attempts()}};
        return event;
    }
    if (job.State() == CFleetJob::EState::Interrupted)
        return Failed(job.Target(), job.Error(), m_failures.value(strKey), false);
    return Failure(job.Target(), job.Error(), job.Refused());
}

// One more failed move of a; after --retries of them, or the appliance's
// own refusal, the last.
WatchEvent CZeroTouch::Failure(const Appliance& a, const QString& strError, bool bRefused)
{
    const QString strKey = CanonicalMac(a.strMac);
    const int nFailures = ++m_failures[strKey];
    const bool bFinal = bRefused || nFailures > m_in.options.nRetries;
    if (bFinal)
        m_givenUp.insert(strKey);
    return Failed(a, strError, nFailures, bFinal);
}

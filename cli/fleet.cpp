#include "fleet.h"

#include "interruption.h"
#include "messages.h"
#include "resource.h"
#include "session.h"
#include "stringtable.h"
#include "terminal.h"

#include <QHash>
#include <QScopeGuard>

#include <optional>

AttemptEnd AttemptEnd::Of(const RequestResult& result)
{
    using EOutcome = RequestResult::EOutcome;
    if (result.outcome == EOutcome::Ok)
        return {};
    const bool bLost = result.outcome == EOutcome::NoResponse || result.outcome == EOutcome::SendFailed;
    return {bLost ? EKind::Lost : EKind::Failed, FailureText(result)};
}

void CFleetJob::Settle(const QString& strError)
{
    // A job a signal stopped stays so, unless it turns out to have succeeded.
    if (!strError.isEmpty() && m_eState == EState::Interrupted) {
        m_strError = strError;
        return;
    }
    m_eState = strError.isEmpty() ? EState::Succeeded : EState::Failed;
    m_strError = strError;
}

QString FailureText(const RequestResult& result)
{
    using EOutcome = RequestResult::EOutcome;
    return result.outcome == EOutcome::Status       ? Text(StatusTextId(result.nStatus))
           : result.outcome == EOutcome::NoResponse ? Text(IDS_NO_RESPONSE)
           : result.strError.isEmpty()              ? Text(IDS_SEND_ERROR)
                                                    : Text(IDS_SEND_ERROR) + QStringLiteral(": ") + result.strError;
}

void RefuseUnsafe(const QList<CFleetJob*>& jobs, bool bSharedIpOk)
{
    // Appliances on different interfaces may share an address.
    const auto key = [](const Appliance& a) { return std::pair(a.nIp, a.nInterface); };
    QHash<std::pair<quint32, int>, int> ipUse;
    for (const CFleetJob* pJob : jobs)
        if (pJob->Target().bIp)
            ++ipUse[key(pJob->Target())];
    for (CFleetJob* pJob : jobs) {
        const Appliance& a = pJob->Target();
        if (pJob->Ended())
            continue;
        // Both texts come from the network: one names a file, the other
        // is where the request goes.
        if (a.strMacKey.isEmpty())
            pJob->Settle(QStringLiteral("the appliance reports a malformed MAC address"));
        else if (!a.bIp)
            pJob->Settle(QStringLiteral("the appliance reports a malformed IP address"));
        // Replies are told apart by sender: two appliances on one address
        // could have each other's image taken for theirs.
        else if (!bSharedIpOk && ipUse.value(key(a)) > 1)
            pJob->Settle(QStringLiteral("another appliance answers from the same IP address"));
    }
}

CFleetRunner::CFleetRunner(CSession& session, const FleetOptions& options, std::function<void()> progress)
    : m_session(session), m_options(options), m_progress(std::move(progress))
{
}

int CFleetRunner::Run(const QList<CFleetJob*>& jobs, CInterruption* pInterruption)
{
    m_jobs = jobs;
    for (CFleetJob* pJob : jobs) {
        if (pJob->Ended())
            ++m_nEnded;
        else
            m_waiting.append(pJob);
    }
    std::optional<CInterruption> own;
    if (!pInterruption)
        pInterruption = &own.emplace();
    const QMetaObject::Connection taken = QObject::connect(pInterruption, &CInterruption::Interrupted, &m_loop,
                                                           [this](int n) { Interrupt(n); });
    const auto release = qScopeGuard([taken] { QObject::disconnect(taken); });
    StartMore();
    if (m_nEnded < m_jobs.size())
        m_loop.exec();
    return m_nSignal;
}

void CFleetRunner::StartMore()
{
    // One request per address at a time: replies are told apart by sender.
    for (qsizetype k = 0; k < m_waiting.size() && m_nInFlight < m_options.nParallel;) {
        CFleetJob* pJob = m_waiting[k];
        if (m_session.Busy(pJob->Target().strIp)) {
            ++k;
            continue;
        }
        m_waiting.remove(k);
        ++m_nInFlight;
        Begin(pJob);
    }
    if (m_nEnded == m_jobs.size())
        m_loop.quit();
}

void CFleetRunner::Begin(CFleetJob* pJob)
{
    pJob->m_eState = CFleetJob::EState::Running;
    ++pJob->m_nAttempts;
    pJob->Attempt(m_session, m_options,
                  {[this, pJob](const AttemptEnd& end) { OnEnd(pJob, end); }, [this] { StartMore(); }});
}

void CFleetRunner::OnEnd(CFleetJob* pJob, const AttemptEnd& end)
{
    using EKind = AttemptEnd::EKind;
    using EState = CFleetJob::EState;
    if (end.eKind == EKind::Succeeded) {
        Close(pJob, EState::Succeeded, {});
    } else if (end.eKind == EKind::Failed) {
        pJob->m_bRefused = true;
        Close(pJob, EState::Failed, end.strError);
    } else if (m_nSignal) {
        Close(pJob, EState::Interrupted, end.strError);
    } else if (pJob->m_nAttempts > m_options.nRetries) {
        Close(pJob, EState::Failed, end.strError);
    } else if (!m_session.Busy(pJob->Target().strIp)) {
        Begin(pJob);
    } else {
        // Its address went to another job meanwhile: first in line once it is free.
        pJob->m_eState = EState::Waiting;
        --m_nInFlight;
        m_waiting.prepend(pJob);
    }
}

void CFleetRunner::Close(CFleetJob* pJob, CFleetJob::EState eState, const QString& strError)
{
    pJob->m_eState = eState;
    pJob->m_strError = strError;
    ++m_nEnded;
    --m_nInFlight;
    m_progress();
    StartMore();
}

void CFleetRunner::Interrupt(int nSignal)
{
    m_nSignal = nSignal;
    if (m_options.bProgress)
        Err(QStringLiteral("\n"));
    Note(QStringLiteral("signal %1: starting nothing new, waiting for the %2 appliances in progress (again to end at "
                        "once)")
             .arg(nSignal)
             .arg(m_nInFlight));
    for (CFleetJob* pJob : std::as_const(m_waiting)) {
        pJob->m_eState = CFleetJob::EState::Interrupted;
        if (pJob->m_strError.isEmpty())
            pJob->m_strError = QStringLiteral("interrupted before it was done");
        ++m_nEnded;
    }
    m_waiting.clear();
    if (m_nEnded == m_jobs.size())
        m_loop.quit();
}

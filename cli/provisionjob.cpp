#include "provisionjob.h"

#include "addresschange.h"

#include <algorithm>

QString OutcomeText(ERowOutcome eOutcome)
{
    switch (eOutcome) {
    case ERowOutcome::Moved:
        return QStringLiteral("moved");
    case ERowOutcome::AlreadyThere:
        return QStringLiteral("already there");
    case ERowOutcome::NotFound:
        return QStringLiteral("not found");
    case ERowOutcome::Change:
        return QStringLiteral("change");
    case ERowOutcome::Failed:
        break;
    }
    return QStringLiteral("failed");
}

ERowOutcome PlannedAction(const PlanRow& row, const Appliance* pFound)
{
    if (!pFound)
        return ERowOutcome::NotFound;
    // Proven, its text is an address, written in the address's one form.
    return pFound->Proven() && pFound->strIp == row.strIp ? ERowOutcome::AlreadyThere : ERowOutcome::Change;
}

CProvisionJob::CProvisionJob(const PlanRow& row, const Appliance& found)
    : CFleetJob(found), m_row(row), m_bConfirm(PlannedAction(row, &found) == ERowOutcome::AlreadyThere)
{
}

QJsonObject CProvisionJob::NotFoundEntry(const PlanRow& row)
{
    return QJsonObject{{"mac", row.strMac},
                       {"old_ip", QJsonValue()},
                       {"new_ip", row.strIp},
                       {"outcome", OutcomeText(ERowOutcome::NotFound)},
                       {"attempts", 0},
                       {"error", QStringLiteral("no appliance answers for this MAC")}};
}

void CProvisionJob::Recheck(const QList<Appliance>& found)
{
    const QString strWhy = WhyNotVerified(found, m_row.strMac, m_row.strIp);
    if (strWhy.isEmpty())
        m_eOutcome = ERowOutcome::Moved;
    Settle(strWhy.isEmpty() ? QString() : QStringLiteral("acknowledged, but ") + strWhy);
}

QJsonObject CProvisionJob::ReportEntry() const
{
    const QString strFrom = m_appliance.FromText();
    return QJsonObject{
        {"mac", m_appliance.strMac},
        // Where it answered from: the address in its reply is anyone's to write.
        {"old_ip", strFrom.isEmpty() ? QJsonValue() : QJsonValue(strFrom)},
        {"new_ip", m_row.strIp},
        {"outcome", OutcomeText(m_eOutcome)},
        {"attempts", m_nAttempts},
        {"error", Succeeded() ? QJsonValue() : QJsonValue(Error())},
    };
}

void CProvisionJob::Attempt(CSession& session, const FleetOptions& options, const Calls& calls)
{
    m_bUnverified = false;
    if (!m_bConfirm) {
        Change(session, options, calls);
        return;
    }
    // Any host can claim an address in a datagram's body: an appliance
    // is left alone only when it answers a discovery sent there, as a
    // change is checked. Otherwise it is moved as any other.
    m_bConfirm = false;
    ConfirmAt(session, m_appliance.strMacKey, m_row.strIp, m_appliance.nInterface, LookAgainMs(options.nTimeoutMs),
              [this, &session, options, calls](bool bThere) {
                  if (!bThere) {
                      Change(session, options, calls);
                      return;
                  }
                  m_eOutcome = ERowOutcome::AlreadyThere;
                  m_nAttempts = 0; // no change was tried
                  calls.end({});
              });
}

void CProvisionJob::Change(CSession& session, const FleetOptions& options, const Calls& calls)
{
    AddressChange change{m_appliance, m_row.strIp, m_row.HasPassword() ? m_row.strPassword : options.strPassword, true};
    // The old address is free for the next change once acknowledged.
    change.acknowledged = calls.addressFree;
    ChangeAddress(session, change, options.nTimeoutMs, [this, end = calls.end](const ChangeResult& result) {
        using EStage = ChangeResult::EStage;
        if (result.eStage == EStage::Done) {
            m_eOutcome = ERowOutcome::Moved;
            end({});
        } else if (result.eStage == EStage::NotAcknowledged) {
            end(AttemptEnd::Of(result.ack));
        } else {
            m_bUnverified = true;
            end({AttemptEnd::EKind::Lost, QStringLiteral("acknowledged, but no answer from %1").arg(m_row.strIp)});
        }
    });
}

void LookAgain(CSession& session, const std::vector<std::unique_ptr<CProvisionJob>>& jobs, int nTimeoutMs)
{
    if (std::none_of(jobs.begin(), jobs.end(), [](const auto& pJob) { return pJob->Unverified(); }))
        return;
    const QList<Appliance> now = session.Discover(LookAgainMs(nTimeoutMs), 1).appliances;
    for (const auto& pJob : jobs)
        if (pJob->Unverified())
            pJob->Recheck(now);
}

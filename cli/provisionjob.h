// One row of a provisioning plan as a fleet job (fleet.h): its appliance
// moved to the row's address and checked there (addresschange.h), or, seen
// there already, confirmed there. provision and provision --watch run them.
#pragma once

#include "addresschange.h"
#include "fleet.h"
#include "plan.h"
#include "subcommands.h"
#include "targets.h"

#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <vector>

inline const QString kMoved = QStringLiteral("moved");
inline const QString kAlreadyThere = QStringLiteral("already there");
inline const QString kNotFound = QStringLiteral("not found");
inline const QString kChange = QStringLiteral("change");
inline const QString kNoAnswerForMac = QStringLiteral("no appliance answers for this MAC");

// What the row asks of the appliance discovery found for it (none: null).
// At its planned address only when its reply came from there too, not
// only claimed it.
inline QString PlannedAction(const PlanRow& row, const Appliance* pFound)
{
    if (!pFound)
        return kNotFound;
    const bool bThere = CanonicalIp(pFound->strIp) == row.strIp && CanonicalIp(pFound->strFrom) == row.strIp;
    return bThere ? kAlreadyThere : kChange;
}

// One row of the plan: its appliance moved to the row's address and checked
// there, or, seen there already, confirmed there.
class CProvisionJob : public CFleetJob {
public:
    // found: the appliance answering with the row's MAC.
    CProvisionJob(const PlanRow& row, const Appliance& found)
        : CFleetJob(found), m_row(row), m_bConfirm(PlannedAction(row, &found) == kAlreadyThere)
    {
    }

    // The report's entry of a row no appliance answered for: no job is made
    // for it, as a plan may hold half a million.
    static QJsonObject NotFoundEntry(const PlanRow& row)
    {
        return QJsonObject{{"mac", row.strMac},       {"old_ip", QJsonValue()}, {"new_ip", row.strIp},
                           {"outcome", kNotFound},     {"attempts", 0},
                           {"error", kNoAnswerForMac}};
    }

    const QString& Outcome() const { return m_strOutcome; }
    const PlanRow& Row() const { return m_row; }
    // Acknowledged, but not found at the new address after every retry.
    bool Unverified() const { return m_bUnverified && !Succeeded(); }

    // Where a broadcast discovery found the appliances, once every job
    // ended: one that answers from its new address after all has moved.
    void Recheck(const QList<Appliance>& found)
    {
        const QString strWhy = WhyNotVerified(found, m_row.strMac, m_row.strIp);
        if (strWhy.isEmpty())
            m_strOutcome = kMoved;
        Settle(strWhy.isEmpty() ? QString() : QStringLiteral("acknowledged, but ") + strWhy);
    }

    QJsonObject ReportEntry() const override
    {
        return QJsonObject{
            {"mac", m_appliance.strMac},
            // Where it answered from: the address in its reply is anyone's to write.
            {"old_ip", m_appliance.strFrom.isEmpty() ? QJsonValue() : QJsonValue(m_appliance.strFrom)},
            {"new_ip", m_row.strIp},
            {"outcome", m_strOutcome.isEmpty() ? QStringLiteral("failed") : m_strOutcome},
            {"attempts", m_nAttempts},
            {"error", Succeeded() ? QJsonValue() : QJsonValue(Error())},
        };
    }

private:
    void Attempt(CSession& session, const FleetOptions& options, const Calls& calls) override
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
        ConfirmAt(session, m_appliance.strMac, m_row.strIp, m_appliance.nInterface, LookAgainMs(options.nTimeoutMs),
                  [this, &session, options, calls](bool bThere) {
                      if (!bThere) {
                          Change(session, options, calls);
                          return;
                      }
                      m_strOutcome = kAlreadyThere;
                      m_nAttempts = 0; // no change was tried
                      calls.end({});
                  });
    }

    void Change(CSession& session, const FleetOptions& options, const Calls& calls)
    {
        AddressChange change{m_appliance, m_row.strIp, m_row.bPassword ? m_row.strPassword : options.strPassword,
                             true};
        // The old address is free for the next change once acknowledged.
        change.acknowledged = calls.addressFree;
        ChangeAddress(session, change, options.nTimeoutMs, [this, end = calls.end](const ChangeResult& result) {
            using EStage = ChangeResult::EStage;
            if (result.eStage == EStage::Done) {
                m_strOutcome = kMoved;
                end({});
            } else if (result.eStage == EStage::NotAcknowledged) {
                end(AttemptEnd::Of(result.ack));
            } else {
                m_bUnverified = true;
                end({AttemptEnd::EKind::Lost, QStringLiteral("acknowledged, but no answer from %1").arg(m_row.strIp)});
            }
        });
    }

    PlanRow m_row;
    bool m_bConfirm = false; // seen at its planned address, to be confirmed there
    bool m_bUnverified = false;
    QString m_strOutcome; // empty: not (yet) one of the named ones
};

// Once the jobs have run: one broadcast tells where the appliances not
// found at their new address are, and those answering there after all
// have moved.
inline void LookAgain(CSession& session, const std::vector<std::unique_ptr<CProvisionJob>>& jobs, int nTimeoutMs)
{
    if (std::none_of(jobs.begin(), jobs.end(), [](const auto& pJob) { return pJob->Unverified(); }))
        return;
    const QList<Appliance> now = session.Discover(LookAgainMs(nTimeoutMs), 1).appliances;
    for (const auto& pJob : jobs)
        if (pJob->Unverified())
            pJob->Recheck(now);
}

// What provision and provision --watch read before anything is sent: the
// plan (a CSV, or for --from the first address alone), checked, and the
// fleet's options; the report checked apart from what the run reads.
struct ProvisionInput {
    FleetOptions options;
    QList<PlanRow> rows;
    bool bFrom = false;
    QString strFirstIp;       // of --from, canonical
    QRegularExpression match; // of --match
    bool bAllHavePasswords = false;
};
ProvisionInput ReadProvisionInput(CContext& ctx);
// Names each problem of the plan, then ends the command (exit 2).
[[noreturn]] void Refuse(const QStringList& problems);

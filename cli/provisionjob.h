// One row of a provisioning plan as a fleet job (fleet.h): its appliance
// moved to the row's address and checked there (addresschange.h), or, seen
// there already, confirmed there. provision and provision --watch run them.
#pragma once

#include "fleet.h"
#include "plan.h"

#include <QJsonObject>

#include <memory>
#include <vector>

// What became of a row, or what it asks for before anything is sent
// (NotFound, AlreadyThere, Change). Worded by OutcomeText alone.
enum class ERowOutcome { Moved, AlreadyThere, NotFound, Change, Failed };
// As the plan, the report and the events write it.
QString OutcomeText(ERowOutcome eOutcome);

// What the row asks of the appliance discovery found for it (none: null).
// At its planned address only when its reply came from there too, not
// only claimed it.
ERowOutcome PlannedAction(const PlanRow& row, const Appliance* pFound);

// One row of the plan: its appliance moved to the row's address and checked
// there, or, seen there already, confirmed there.
class CProvisionJob : public CFleetJob {
public:
    // found: the appliance answering with the row's MAC.
    CProvisionJob(const PlanRow& row, const Appliance& found);

    // The report's entry of a row no appliance answered for: no job is made
    // for it, as a plan may hold half a million.
    static QJsonObject NotFoundEntry(const PlanRow& row);

    ERowOutcome Outcome() const { return m_eOutcome; }
    const PlanRow& Row() const { return m_row; }
    // Acknowledged, but not found at the new address after every retry.
    bool Unverified() const { return m_bUnverified && !Succeeded(); }

    // Where a broadcast discovery found the appliances, once every job
    // ended: one that answers from its new address after all has moved.
    void Recheck(const QList<Appliance>& found);

    QJsonObject ReportEntry() const override;

private:
    void Attempt(CSession& session, const FleetOptions& options, const Calls& calls) override;
    void Change(CSession& session, const FleetOptions& options, const Calls& calls);

    PlanRow m_row;
    bool m_bConfirm = false; // seen at its planned address, to be confirmed there
    bool m_bUnverified = false;
    ERowOutcome m_eOutcome = ERowOutcome::Failed; // until it is known to be another
};

// Once the jobs have run: one broadcast tells where the appliances not
// found at their new address are, and those answering there after all
// have moved.
void LookAgain(CSession& session, const std::vector<std::unique_ptr<CProvisionJob>>& jobs, int nTimeoutMs);

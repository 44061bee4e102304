// What provision and provision --watch read before anything is sent: the
// plan (a CSV, or for --from the first address alone), checked, and the
// fleet's options; the report checked apart from what the run reads.
#pragma once

#include "plan.h"
#include "steps.h"

struct CContext;

// The fleet's options, --rounds and --match (steps.h), and the plan.
struct ProvisionInput : FleetStart {
    QList<PlanRow> rows;
    bool bFrom = false;
    QString strFirstIp; // of --from
    bool bAllHavePasswords = false;
};
ProvisionInput ReadProvisionInput(CContext& ctx);
// Names each problem of the plan, then ends the command (EXIT_USAGE).
[[noreturn]] void Refuse(const QStringList& problems);

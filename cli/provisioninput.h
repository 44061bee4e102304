// What provision and provision --watch read before anything is sent: the
// plan (a CSV, or for --from the first address alone), checked, and the
// fleet's options; the report checked apart from what the run reads.
#pragma once

#include "fleet.h"
#include "plan.h"

#include <QRegularExpression>

struct CContext;

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

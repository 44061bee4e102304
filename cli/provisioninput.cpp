#include "provisioninput.h"

#include "messages.h"
#include "steps.h"
#include "subcommands.h"

#include <algorithm>

[[noreturn]] void Refuse(const QStringList& problems)
{
    for (const QString& strProblem : problems)
        Note(strProblem);
    Usage(QStringLiteral("the plan is refused (%1 to mend); nothing was sent").arg(problems.size()));
}

ProvisionInput ReadProvisionInput(CContext& ctx)
{
    ProvisionInput in;
    static_cast<FleetStart&>(in) = ReadFleetStart(ctx, "provision");
    in.bFrom = ctx.IsSet("from");
    if (in.bFrom == !ctx.args.isEmpty())
        Usage(QStringLiteral("give either PLAN.csv or --from FIRST_IP; see norvane help provision"));
    if (!in.bFrom && ctx.IsSet("match"))
        Usage(QStringLiteral("--match goes with --from: a plan names its appliances"));
    if (in.bFrom) {
        if (const QString strWhy = NewIpRefusal(ctx.Value("from"), ctx.sweep.ranges); !strWhy.isEmpty())
            Usage(strWhy);
        in.strFirstIp = ctx.Value("from");
    }
    QStringList problems;
    in.rows = in.bFrom ? NumberedPlan({}, in.strFirstIp, ctx.sweep.ranges, problems)
                       : ReadPlan(ctx.args[0], ctx.sweep.ranges, problems);
    if (!problems.isEmpty())
        Refuse(problems);
    if (!in.options.strReport.isEmpty()) {
        CheckReportApart(ctx, in.options.strReport,
                         in.bFrom || ctx.args[0] == QLatin1String("-") ? QStringList() : ctx.args);
        CheckWritable(in.options.strReport);
    }
    in.bAllHavePasswords =
        !in.bFrom && std::all_of(in.rows.begin(), in.rows.end(), [](const PlanRow& row) { return row.HasPassword(); });
    return in;
}

// norvane provision: many appliances given their addresses in one run, from
// a plan (plan.h) or numbered from a first address. Every row is checked
// before anything but the discovery is sent; each change is the one set-ip
// makes (addresschange.h), one fleet job per row (fleet.h).
#include "subcommands.h"

#include "exitcodes.h"
#include "fleetreport.h"
#include "messages.h"
#include "output.h"
#include "plan.h"
#include "provisioninput.h"
#include "provisionjob.h"
#include "session.h"
#include "steps.h"
#include "terminal.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
const Appliance* FindMac(const QHash<QString, qsizetype>& byMac, const QList<Appliance>& found, const QString& strMac)
{
    const auto it = byMac.constFind(strMac);
    return it == byMac.constEnd() ? nullptr : &found[*it];
}

// Written as it goes: half a million rows held as a table, then again as
// text, took fifty times the plan's size.
void PrintPlan(const CContext& ctx, const QList<PlanRow>& rows, const QHash<QString, qsizetype>& byMac,
               const QList<Appliance>& found)
{
    const QString strFormat = ctx.Value("format");
    const bool bJson = strFormat == QLatin1String("json"), bCsv = strFormat == QLatin1String("csv");
    const auto cells = [&](const PlanRow& row) {
        const Appliance* p = FindMac(byMac, found, row.strMac);
        return QStringList{row.strMac, p ? p->strIp : QString(), row.strIp, OutcomeText(PlannedAction(row, p))};
    };
    const QStringList header = bCsv ? QStringList{"mac", "ip", "new_ip", "action"}
                                    : QStringList{"MAC", "IP", "NEW IP", "ACTION"};
    QList<qsizetype> widths;
    if (!bJson && !bCsv) {
        MeasureColumns(header, widths);
        for (const PlanRow& row : rows)
            MeasureColumns(cells(row), widths);
    }
    QByteArray out;
    // False once standard output has failed: nothing more is written.
    const auto write = [&out](const QString& strText, bool bLast = false) {
        out += strText.toUtf8();
        if (out.size() < (64 << 10) && !bLast)
            return true;
        const bool bOk = OutBytes(out);
        out.clear();
        return bOk;
    };
    // QJsonDocument's text, object by object, for a value from the network too.
    const auto json = [](const QString& strText) {
        if (std::all_of(strText.begin(), strText.end(), [](QChar c) {
                return c.unicode() >= 0x20 && c.unicode() < 0x7F && c != QLatin1Char('"') && c != QLatin1Char('\\');
            }))
            return QLatin1Char('"') + strText + QLatin1Char('"');
        const QByteArray array = QJsonDocument(QJsonArray{strText}).toJson(QJsonDocument::Compact);
        return QString::fromUtf8(array.mid(1, array.size() - 2));
    };
    bool bOk = !bJson || write(QStringLiteral("[\n"));
    if (!bJson)
        bOk = write(bCsv ? CsvLine(header) : ColumnsLine(header, widths));
    for (qsizetype i = 0; bOk && i < rows.size(); ++i) {
        const QStringList row = cells(rows[i]);
        if (bCsv)
            bOk = write(CsvLine(row));
        else if (!bJson)
            bOk = write(ColumnsLine(row, widths));
        else
            bOk = write(QStringLiteral("%1    {\n        \"action\": %2,\n        \"ip\": %3,\n        \"mac\": %4,\n"
                                       "        \"new_ip\": %5\n    }")
                            .arg(i ? QStringLiteral(",\n") : QString(), json(row[3]),
                                 FindMac(byMac, found, rows[i].strMac) ? json(row[1]) : QStringLiteral("null"),
                                 json(row[0]), json(row[2])));
    }
    if (bOk)
        write(bJson ? (rows.isEmpty() ? QStringLiteral("]\n") : QStringLiteral("\n]\n")) : QString(), true);
}
} // namespace

int RunProvision(CContext& ctx)
{
    for (const char* pszWatchOnly : {"options-file", "state", "correct-drift"})
        if (ctx.IsSet(pszWatchOnly))
            Usage(QStringLiteral("--%1 goes with --watch").arg(QLatin1String(pszWatchOnly)));
    const bool bDryRun = ctx.IsSet("dry-run");
    const QString strFormat = ctx.Value("format");
    if (strFormat != QLatin1String("table") && strFormat != QLatin1String("json") && strFormat != QLatin1String("csv"))
        Usage(QStringLiteral("--format takes table, json or csv"));
    ProvisionInput in = ReadProvisionInput(ctx);
    FleetOptions& options = in.options;
    const bool bFrom = in.bFrom;
    const QString& strFirstIp = in.strFirstIp;
    QList<PlanRow>& rows = in.rows;
    QStringList problems;
    if (!bDryRun && !in.bAllHavePasswords)
        options.strPassword = ReadPassword(ctx);

    FleetFound discovered = DiscoverFleet(ctx, in);
    const QList<Appliance>& found = discovered.all;
    QList<Appliance>& chosen = discovered.chosen;
    if (bFrom) {
        // Nothing to number is no success; the (empty) report says so too,
        // rather than a previous run's.
        if (chosen.isEmpty()) {
            const int nExit = NoneChosen(ctx, found.size());
            return bDryRun ? nExit : EndUnrun(options, nExit);
        }
        std::sort(chosen.begin(), chosen.end(), MacOrder);
        rows = NumberedPlan(chosen, strFirstIp, ctx.sweep.ranges, problems);
    }
    CheckOccupied(rows, found, problems);
    if (!problems.isEmpty())
        Refuse(problems);

    QHash<QString, qsizetype> byMac;
    for (qsizetype i = 0; i < found.size(); ++i)
        byMac.insert(found[i].strMacKey, i);
    const qsizetype nAnswering = std::count_if(rows.begin(), rows.end(), [&](const PlanRow& row) {
        return FindMac(byMac, found, row.strMac) != nullptr;
    });
    if (bDryRun)
        PrintPlan(ctx, rows, byMac, found);
    // A job for each row an appliance answers for; the others are only
    // entries of the report, in the plan's order, made as it is written.
    std::vector<std::unique_ptr<CProvisionJob>> jobs;
    QList<qsizetype> jobOfRow, notFound; // -1: no job
    if (!bDryRun) {
        jobOfRow.reserve(rows.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const Appliance* pFound = FindMac(byMac, found, rows[i].strMac);
            jobOfRow.append(pFound ? qsizetype(jobs.size()) : -1);
            if (pFound)
                jobs.push_back(std::make_unique<CProvisionJob>(rows[i], *pFound));
            else
                notFound.append(i);
        }
    }
    const FleetRest rest{notFound.size(),
                         [&](qsizetype i) { return CProvisionJob::NotFoundEntry(rows[notFound[i]]); },
                         true,
                         jobOfRow.size(),
                         [&](qsizetype i) {
                             return jobOfRow[i] < 0 ? CProvisionJob::NotFoundEntry(rows[i])
                                                    : ReportEntry(*jobs[std::size_t(jobOfRow[i])]);
                         }};
    // A dry run ends as the real run would, where that is known already.
    if (!nAnswering) {
        // Nothing provisioned is no success; the report lists the rows.
        const int nExit = found.isEmpty() ? NoneChosen(ctx, 0) : EXIT_NONE_MATCHED;
        if (nExit == EXIT_NONE_MATCHED)
            Note(QStringLiteral("none of the %1 appliances found is in the plan").arg(found.size()));
        return bDryRun ? nExit : EndUnrun(options, nExit, {}, rest);
    }
    if (bDryRun)
        return nAnswering < rows.size() ? EXIT_SOME_FAILED : EXIT_OK;
    RefuseUnsafe(JobList(jobs), true);
    const auto doneText = [&] {
        const auto count = [&](ERowOutcome eOutcome) {
            return std::count_if(jobs.begin(), jobs.end(),
                                 [&](const auto& pJob) { return pJob->Outcome() == eOutcome; });
        };
        return QStringLiteral("at their planned addresses (%1 %2, %3 %4)")
            .arg(count(ERowOutcome::Moved))
            .arg(OutcomeText(ERowOutcome::Moved))
            .arg(count(ERowOutcome::AlreadyThere))
            .arg(OutcomeText(ERowOutcome::AlreadyThere));
    };
    return RunFleet(*ctx.pSession, options, JobList(jobs), doneText,
                    [&] { LookAgain(*ctx.pSession, jobs, options.nTimeoutMs); }, rest);
}

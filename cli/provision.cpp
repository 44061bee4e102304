// norvane provision: many appliances given their addresses in one run, from
// a plan (plan.h) or numbered from a first address. Every row is checked
// before anything but the discovery is sent; each change is the one set-ip
// makes (addresschange.h), run over CFleet.
#include "subcommands.h"

#include "addresschange.h"
#include "exitcodes.h"
#include "fleet.h"
#include "messages.h"
#include "output.h"
#include "plan.h"
#include "steps.h"
#include "targets.h"
#include "terminal.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {
const QString kMoved = QStringLiteral("moved");
const QString kAlreadyThere = QStringLiteral("already there");
const QString kNotFound = QStringLiteral("not found");
const QString kChange = QStringLiteral("change");

// What the row asks of the appliance discovery found for it (none: null).
// At its planned address only when its reply came from there too, not
// only claimed it.
QString PlannedAction(const PlanRow& row, const Appliance* pFound)
{
    if (!pFound)
        return kNotFound;
    const bool bThere = CanonicalIp(pFound->strIp) == row.strIp && CanonicalIp(pFound->strFrom) == row.strIp;
    return bThere ? kAlreadyThere : kChange;
}

class CProvision : public CFleet {
public:
    CProvision(CSession& session, const FleetOptions& options) : CFleet(session, options) {}

    void AddRow(const PlanRow& row, const Appliance* pFound)
    {
        Appliance missing;
        missing.strMac = row.strMac;
        const qsizetype i = Add(pFound ? *pFound : missing);
        m_rows.append(row);
        m_outcomes.append(QString());
        m_unverified.append(false);
        m_confirm.append(pFound && PlannedAction(row, pFound) == kAlreadyThere);
        if (!pFound) {
            m_outcomes[i] = kNotFound;
            Fail(i, QStringLiteral("no appliance answers for this MAC"));
        }
    }

private:
    void Start(qsizetype i) override
    {
        if (!m_confirm[i]) {
            StartChange(i);
            return;
        }
        // Any host can claim an address in a datagram's body: an appliance
        // is left alone only when it answers a discovery sent there, as a
        // change is checked. Otherwise it is moved as any other.
        m_confirm[i] = false;
        const Appliance& a = m_entries[i].appliance;
        ConfirmAt(m_session, a.strMac, m_rows[i].strIp, a.nInterface, LookAgainMs(m_options.nTimeoutMs),
                  [this, i](bool bThere) {
                      if (!bThere) {
                          StartChange(i);
                          return;
                      }
                      m_outcomes[i] = kAlreadyThere;
                      m_entries[i].nAttempts = 0; // no change was tried
                      Succeed(i);
                  });
    }

    void StartChange(qsizetype i)
    {
        const PlanRow& row = m_rows[i];
        AddressChange change{m_entries[i].appliance, row.strIp,
                             row.bPassword ? row.strPassword : m_options.strPassword, true};
        // The old address is free for the next change once acknowledged.
        change.acknowledged = [this] { StartMore(); };
        ChangeAddress(m_session, change, m_options.nTimeoutMs, [this, i](const ChangeResult& result) {
            using EStage = ChangeResult::EStage;
            if (result.eStage == EStage::Done) {
                m_outcomes[i] = kMoved;
                Succeed(i);
            } else if (result.eStage == EStage::NotAcknowledged) {
                if (!RetryLost(i, result.ack))
                    Fail(i, FailureText(result.ack));
            } else if (!Retry(i)) {
                m_unverified[i] = true;
                Fail(i, QStringLiteral("acknowledged, but no answer from %1").arg(m_rows[i].strIp));
            }
        });
    }

    // One broadcast tells where the appliances not found at their new
    // address are.
    void AfterAll() override
    {
        if (std::find(m_unverified.begin(), m_unverified.end(), true) == m_unverified.end())
            return;
        QList<Appliance> found;
        m_session.Discover(LookAgainMs(m_options.nTimeoutMs), 1, found);
        for (qsizetype i = 0; i < m_entries.size(); ++i) {
            if (!m_unverified[i])
                continue;
            const QString strWhy = WhyNotVerified(found, m_rows[i].strMac, m_rows[i].strIp);
            if (strWhy.isEmpty())
                m_outcomes[i] = kMoved;
            Revise(i, strWhy.isEmpty() ? QString() : QStringLiteral("acknowledged, but ") + strWhy);
        }
    }

    QJsonObject ReportEntry(qsizetype i) const override
    {
        const Entry& entry = m_entries[i];
        return QJsonObject{
            {"mac", entry.appliance.strMac},
            {"old_ip", entry.appliance.strIp.isEmpty() ? QJsonValue() : QJsonValue(entry.appliance.strIp)},
            {"new_ip", m_rows[i].strIp},
            {"outcome", m_outcomes[i].isEmpty() ? QStringLiteral("failed") : m_outcomes[i]},
            {"attempts", entry.nAttempts},
            {"error", entry.bOk ? QJsonValue() : QJsonValue(entry.strError)},
        };
    }

    QString DoneText() const override
    {
        return QStringLiteral("at their planned addresses (%1 moved, %2 already there)")
            .arg(m_outcomes.count(kMoved))
            .arg(m_outcomes.count(kAlreadyThere));
    }

    QList<PlanRow> m_rows;     // by entry
    QStringList m_outcomes;    // by entry; empty: not (yet) one of the named ones
    QList<bool> m_unverified;  // by entry
    QList<bool> m_confirm;     // by entry: seen at its planned address, to be confirmed there
};

const Appliance* FindMac(const QHash<QString, qsizetype>& byMac, const QList<Appliance>& found, const QString& strMac)
{
    const auto it = byMac.constFind(strMac);
    return it == byMac.constEnd() ? nullptr : &found[*it];
}

[[noreturn]] void Refuse(const QStringList& problems)
{
    for (const QString& strProblem : problems)
        Note(strProblem);
    Usage(QStringLiteral("the plan is refused (%1 to mend); nothing was sent").arg(problems.size()));
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
        return QStringList{row.strMac, p ? p->strIp : QString(), row.strIp, PlannedAction(row, p)};
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
    FleetOptions options = ReadFleetOptions(ctx, "provision");
    const int nRounds = CountOption(ctx, "rounds", 1, 1000);
    const bool bDryRun = ctx.IsSet("dry-run");
    const QString strFormat = ctx.Value("format");
    if (strFormat != QLatin1String("table") && strFormat != QLatin1String("json") && strFormat != QLatin1String("csv"))
        Usage(QStringLiteral("--format takes table, json or csv"));
    const bool bFrom = ctx.IsSet("from");
    if (bFrom == !ctx.args.isEmpty())
        Usage(QStringLiteral("give either PLAN.csv or --from FIRST_IP; see norvane help provision"));
    if (!bFrom && ctx.IsSet("match"))
        Usage(QStringLiteral("--match goes with --from: a plan names its appliances"));
    const QRegularExpression match = MatchOption(ctx);
    QString strFirstIp;
    if (bFrom) {
        if (const QString strWhy = NewIpRefusal(ctx.Value("from"), ctx.sweep.ranges); !strWhy.isEmpty())
            Usage(strWhy);
        strFirstIp = CanonicalIp(ctx.Value("from"));
    }
    QStringList problems;
    QList<PlanRow> rows = bFrom ? NumberedPlan({}, strFirstIp, ctx.sweep.ranges, problems)
                                : ReadPlan(ctx.args[0], ctx.sweep.ranges, problems);
    if (!problems.isEmpty())
        Refuse(problems);
    if (!options.strReport.isEmpty()) {
        CheckReportApart(ctx, options.strReport, bFrom || ctx.args[0] == QLatin1String("-") ? QStringList() : ctx.args);
        CheckWritable(options.strReport);
    }
    const bool bAllHavePasswords =
        !bFrom && std::all_of(rows.begin(), rows.end(), [](const PlanRow& row) { return row.bPassword; });
    if (!bDryRun && !bAllHavePasswords)
        options.strPassword = ReadPassword(ctx);

    QList<Appliance> found = Discover(ctx, ctx.nDiscoverMs, nRounds);
    WarnSystemDrops(ctx);
    CProvision provision(*ctx.pSession, options);
    if (bFrom) {
        QList<Appliance> chosen = Chosen(ctx, match, found);
        // Nothing to number is no success; the (empty) report says so too,
        // rather than a previous run's.
        if (chosen.isEmpty()) {
            const int nExit = NoneChosen(ctx, found.size());
            return bDryRun || provision.SaveReport() ? nExit : EXIT_FILE;
        }
        std::sort(chosen.begin(), chosen.end(), [](const Appliance& a, const Appliance& b) {
            return CanonicalMac(a.strMac) < CanonicalMac(b.strMac);
        });
        rows = NumberedPlan(chosen, strFirstIp, ctx.sweep.ranges, problems);
    }
    CheckOccupied(rows, found, problems);
    if (!problems.isEmpty())
        Refuse(problems);

    QHash<QString, qsizetype> byMac;
    for (qsizetype i = 0; i < found.size(); ++i)
        byMac.insert(CanonicalMac(found[i].strMac), i);
    const qsizetype nAnswering = std::count_if(rows.begin(), rows.end(), [&](const PlanRow& row) {
        return FindMac(byMac, found, row.strMac) != nullptr;
    });
    if (bDryRun)
        PrintPlan(ctx, rows, byMac, found);
    else
        for (const PlanRow& row : rows)
            provision.AddRow(row, FindMac(byMac, found, row.strMac));
    // A dry run ends as the real run would, where that is known already.
    if (!nAnswering) {
        // Nothing provisioned is no success; the report lists the rows.
        const int nExit = found.isEmpty() ? NoneChosen(ctx, 0) : EXIT_NONE_MATCHED;
        if (nExit == EXIT_NONE_MATCHED)
            Note(QStringLiteral("none of the %1 appliances found is in the plan").arg(found.size()));
        return bDryRun || provision.SaveReport() ? nExit : EXIT_FILE;
    }
    if (bDryRun)
        return nAnswering < rows.size() ? EXIT_SOME_FAILED : EXIT_OK;
    provision.RefuseUnsafe(true);
    return provision.Run();
}

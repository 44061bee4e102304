// CZeroTouch over scripted rounds, without a network: which appliance is
// moved where, when, how often, and what each round's events say. Each move
// ends as the script says (moved, lost, refused, interrupted).
#include "ipv4text.h"
#include "output.h"
#include "subcommands.h"
#include "zerotouch.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

void PrintTo(const QString& strText, std::ostream* pOut)
{
    *pOut << '"' << strText.toStdString() << '"';
}

namespace {

using EKind = MoveEnd::EKind;

Appliance At(int n, const QString& strIp)
{
    quint32 nIp = 0;
    ParseIpv4(strIp, nIp);
    return Appliance::Heard(QStringLiteral("00:1A:2B:00:00:%1").arg(n, 2, 10, QLatin1Char('0')), strIp,
                            QStringLiteral("NV%1").arg(n), nIp);
}

PlanRow Row(int n, const QString& strIp)
{
    PlanRow row;
    row.strMac = At(n, strIp).strMacKey;
    row.strIp = strIp;
    return row;
}

// "appeared 01 change", "send 01 10.200.1.101", "failed 01 change 1 retrying".
QString Line(const WatchEvent& event)
{
    QString strLine = EventText(event.eKind) + QLatin1Char(' ') + event.appliance.strMac.right(2) + QLatin1Char(' ') +
                      event.extra.value("plan").toString();
    if (event.eKind == WatchEvent::EKind::Failed)
        strLine += QStringLiteral(" %1%2").arg(event.extra.value("failures").toInt()).arg(
            event.extra.value("retrying").toBool() ? QStringLiteral(" retrying") : QString());
    return strLine;
}

struct Rig {
    explicit Rig(const ProvisionInput& input, const QStringList& args = {}) : in(input)
    {
        ctx.parser.addOption({QStringLiteral("match"), {}, QStringLiteral("RE")});
        ctx.parser.addOption({QStringLiteral("correct-drift"), {}});
        ctx.parser.parse(QStringList{QStringLiteral("norvane")} + args);
        QString strError;
        ctx.sweep.ranges.Add(QStringLiteral("10.200.1.8/29"), strError);
        pZeroTouch = std::make_unique<CZeroTouch>(
            ctx, in, watcher,
            [this](const WatchEvent& event) {
                lines << Line(event);
                last = event;
                return true;
            },
            [this](const QList<ZeroTouchMove>& moves) {
                QList<MoveEnd> ends;
                for (const ZeroTouchMove& move : moves) {
                    lines << QStringLiteral("send %1 %2").arg(move.target.strMac.right(2), move.row.strIp);
                    ends.append({script.isEmpty() ? EKind::Moved : script.takeFirst(), QStringLiteral("no answer"), 1});
                }
                return ends;
            },
            [this] { return nNowMs; });
    }

    QStringList Round(const QList<Appliance>& heard)
    {
        lines.clear();
        EXPECT_TRUE(pZeroTouch->Round(heard));
        return lines;
    }

    CContext ctx;
    ProvisionInput in;
    CWatcher watcher{3};
    QList<EKind> script; // how the next moves end; moved once it is empty
    QStringList lines;
    WatchEvent last;
    qint64 nNowMs = 0;
    std::unique_ptr<CZeroTouch> pZeroTouch;
};

ProvisionInput Plan(const QList<PlanRow>& rows, int nRetries = 2)
{
    ProvisionInput in;
    in.rows = rows;
    in.options.nRetries = nRetries;
    return in;
}

ProvisionInput From(const QString& strFirstIp)
{
    ProvisionInput in;
    in.bFrom = true;
    in.strFirstIp = strFirstIp;
    return in;
}

} // namespace

TEST(ZeroTouch, MovesAnApplianceOnceBelievedAndOnlyOnce)
{
    Rig rig(Plan({Row(1, "10.200.1.101"), Row(2, "10.200.1.2")}));
    Appliance forged = At(3, "10.200.1.3");
    forged.nFrom = At(9, "10.200.1.9").nIp; // claims an address it does not answer from
    const QList<Appliance> heard{At(1, "10.200.1.1"), At(2, "10.200.1.2"), forged, At(4, "10.200.1.4")};
    EXPECT_EQ(rig.Round(heard), QStringList{});
    EXPECT_EQ(rig.Round(heard), QStringList({"appeared 01 change", "appeared 02 already there",
                                             "appeared 04 not in plan", "send 01 10.200.1.101", "moved 01 moved"}));
    EXPECT_EQ(rig.last.strPreviousIp, "10.200.1.1");
    EXPECT_EQ(rig.last.appliance.strIp, "10.200.1.101");
    EXPECT_EQ(rig.last.extra.value("attempts").toInt(), 1);
    // Back at its old address (a reset): told, and left there.
    rig.Round(heard);
    EXPECT_EQ(rig.Round(heard), QStringList{"moved 01 change"});
    EXPECT_EQ(rig.Round(heard), QStringList{});
}

TEST(ZeroTouch, ALostMoveIsTriedAgainUntilTheRetriesAreSpentARefusalNever)
{
    Rig rig(Plan({Row(1, "10.200.1.101"), Row(2, "10.200.1.102")}, 1));
    const QList<Appliance> heard{At(1, "10.200.1.1"), At(2, "10.200.1.2")};
    rig.script = {EKind::Interrupted, EKind::Refused, EKind::Failed, EKind::Failed};
    rig.Round(heard);
    EXPECT_EQ(rig.Round(heard), QStringList({"appeared 01 change", "appeared 02 change", "send 01 10.200.1.101",
                                             "send 02 10.200.1.102", "failed 01 change 0 retrying",
                                             "failed 02 change 1"}));
    EXPECT_EQ(rig.last.extra.value("planned_ip").toString(), "10.200.1.102");
    EXPECT_EQ(rig.Round(heard), QStringList({"send 01 10.200.1.101", "failed 01 change 1 retrying"}));
    EXPECT_EQ(rig.Round(heard), QStringList({"send 01 10.200.1.101", "failed 01 change 2"}));
    EXPECT_EQ(rig.last.extra.value("error").toString(), "no answer");
    EXPECT_EQ(rig.Round(heard), QStringList{});
}

TEST(ZeroTouch, APlannedAddressAnotherApplianceAnswersFromIsNotGiven)
{
    Rig rig(Plan({Row(1, "10.200.1.2")}, 0));
    const QList<Appliance> heard{At(1, "10.200.1.1"), At(2, "10.200.1.2")};
    rig.Round(heard);
    EXPECT_EQ(rig.Round(heard),
              QStringList({"appeared 01 change", "appeared 02 not in plan", "failed 01 change 1"}));
    EXPECT_EQ(rig.last.extra.value("error").toString(),
              "10.200.1.2 already answers for another appliance, 00:1A:2B:00:00:02");
    EXPECT_EQ(rig.Round(heard), QStringList{});
}

// --from 10.200.1.10 in 10.200.1.8/29: .10 to .14 to give.
TEST(ZeroTouch, NumberingKeepsAddressesInItsRangeAndSkipsThoseTaken)
{
    const QList<Appliance> heard{At(1, "10.200.1.10"), At(2, "10.200.1.12"), At(3, "10.200.1.1"),
                                 At(4, "10.200.1.2"), At(5, "10.200.1.3"), At(6, "10.200.1.4")};
    Rig rig(From("10.200.1.10"));
    rig.Round(heard);
    EXPECT_EQ(rig.Round(heard),
              QStringList({"appeared 01 already there", "appeared 02 already there", "appeared 03 change",
                           "appeared 04 change", "appeared 05 change", "appeared 06 not in plan",
                           "failed 06 not in plan 0", "send 03 10.200.1.11", "send 04 10.200.1.13",
                           "send 05 10.200.1.14", "moved 03 moved", "moved 04 moved", "moved 05 moved"}));
    EXPECT_FALSE(rig.last.extra.contains("planned_ip"));

    // Restarted, it finds them where they were put and moves none.
    Rig restarted(From("10.200.1.10"));
    const QList<Appliance> numbered{At(1, "10.200.1.10"), At(2, "10.200.1.12"), At(3, "10.200.1.11"),
                                    At(4, "10.200.1.13"), At(5, "10.200.1.14")};
    restarted.Round(numbered);
    EXPECT_FALSE(restarted.Round(numbered).join(' ').contains("send"));
}

// What a run did outlives it: restarted from Done, it moves nothing it had
// moved, even when it is found elsewhere (moved by hand), and tries again
// what it gave up on. A reload keeps the same promises and acts on new rows.
TEST(ZeroTouch, ARestartOrAReloadMovesNothingTwice)
{
    const ProvisionInput plan = Plan({Row(1, "10.200.1.101"), Row(2, "10.200.1.102")});
    Rig rig(plan);
    rig.script = {EKind::Moved, EKind::Refused};
    const QList<Appliance> heard{At(1, "10.200.1.1"), At(2, "10.200.1.2"), At(3, "10.200.1.3")};
    rig.Round(heard);
    rig.Round(heard);
    ASSERT_EQ(rig.pZeroTouch->Done().size(), 1);

    Rig restarted(plan);
    for (const Appliance& a : rig.watcher.Present())
        restarted.watcher.Place(a);
    restarted.pZeroTouch->Restore(rig.pZeroTouch->Done());
    const QList<Appliance> later{At(1, "10.200.1.50"), At(2, "10.200.1.2"), At(3, "10.200.1.3")};
    EXPECT_EQ(restarted.Round(later), QStringList({"send 02 10.200.1.102", "moved 02 moved"}));
    EXPECT_EQ(restarted.Round(later), QStringList{"moved 01 change"});

    // The plan read again: row 3 is new, row 1 gives another address now.
    const ProvisionInput replanned = Plan({Row(1, "10.200.1.111"), Row(2, "10.200.1.102"), Row(3, "10.200.1.103")});
    restarted.pZeroTouch->Replan(restarted.ctx, replanned);
    const QList<Appliance> now{At(1, "10.200.1.50"), At(2, "10.200.1.102"), At(3, "10.200.1.3")};
    EXPECT_EQ(restarted.Round(now),
              QStringList({"send 01 10.200.1.111", "send 03 10.200.1.103", "moved 01 moved", "moved 03 moved"}));
}

TEST(ZeroTouch, DriftIsCorrectedOnlyWhenAskedAndAtMostThreeTimesAnHour)
{
    Rig rig(Plan({Row(1, "10.200.1.101")}), {"--correct-drift"});
    rig.Round({At(1, "10.200.1.1")});
    rig.Round({At(1, "10.200.1.1")});
    const QList<Appliance> away{At(1, "10.200.1.50")};
    const qint64 nMinute = 60 * 1000;
    for (int i = 0; i < 3; ++i) {
        rig.nNowMs = i * 10 * nMinute;
        rig.Round(away);
        EXPECT_EQ(rig.Round(away), QStringList({"moved 01 change", "send 01 10.200.1.101", "corrected 01 moved"}));
        EXPECT_EQ(rig.last.strPreviousIp, "10.200.1.50");
        EXPECT_EQ(rig.last.extra.value("corrections").toInt(), i + 1);
    }
    rig.nNowMs = 59 * nMinute;
    rig.Round(away);
    EXPECT_EQ(rig.Round(away), QStringList{"moved 01 change"});
    rig.nNowMs = 61 * nMinute;
    EXPECT_EQ(rig.Round(away), QStringList({"send 01 10.200.1.101", "corrected 01 moved"}));

    Rig left(Plan({Row(1, "10.200.1.101")}));
    left.Round({At(1, "10.200.1.1")});
    left.Round({At(1, "10.200.1.1")});
    left.Round(away);
    EXPECT_EQ(left.Round(away), QStringList{"moved 01 change"});
}

// CWatcher, round by round, without a network: what becomes an event and
// what does not.
#include "ipv4text.h"
#include "output.h"
#include "watcher.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

Appliance At(int n, const QString& strIp, const QString& strSerial = {})
{
    quint32 nFrom = 0;
    ParseIpv4(strIp, nFrom);
    return Appliance::Heard(QStringLiteral("00:1A:2B:00:00:%1").arg(n, 2, 10, QLatin1Char('0')), strIp,
                            strSerial.isEmpty() ? QStringLiteral("NV%1").arg(n) : strSerial, nFrom);
}

// "appeared 00:1A:2B:00:00:01", one per event.
QStringList Events(CWatcher& watcher, const QList<Appliance>& heard)
{
    QStringList list;
    for (const WatchEvent& e : watcher.Round(heard))
        list << EventText(e.eKind) + QLatin1Char(' ') + e.appliance.strMac.right(2);
    return list;
}

TEST(Watcher, BelievesAClaimOnlyFromItsOwnAddressTwoRoundsRunning)
{
    CWatcher watcher(3);
    Appliance claimed = At(9, QStringLiteral("10.200.1.9"));
    ParseIpv4(QStringLiteral("10.200.9.9"), claimed.nFrom); // answers for another address
    const auto forged = [](int nRound) { return At(50 + nRound, QStringLiteral("10.200.2.%1").arg(nRound)); };
    EXPECT_EQ(Events(watcher, {At(1, "10.200.1.1"), claimed, forged(0)}), QStringList{});
    EXPECT_TRUE(watcher.Waiting());
    EXPECT_EQ(Events(watcher, {At(1, "10.200.1.1"), claimed, forged(1)}), QStringList{"appeared 01"});
    EXPECT_EQ(Events(watcher, {At(1, "10.200.1.1"), claimed, forged(2)}), QStringList{});
    EXPECT_EQ(watcher.Present().size(), 1);
    EXPECT_EQ(watcher.Unproven(), 3u);
}

TEST(Watcher, MovesAndSerialsOnceAgreedAndAOneRoundFlickerIsNothing)
{
    CWatcher watcher(3);
    for (int i = 0; i < 2; ++i)
        Events(watcher, {At(1, "10.200.1.1"), At(2, "10.200.1.2")});
    EXPECT_EQ(Events(watcher, {At(1, "10.200.1.50"), At(2, "10.200.1.2")}), QStringList{});
    EXPECT_EQ(Events(watcher, {At(1, "10.200.1.1"), At(2, "10.200.1.2")}), QStringList{});
    const QList<Appliance> changed{At(1, "10.200.1.50", "NEW"), At(2, "10.200.1.2", "NV2b")};
    EXPECT_EQ(Events(watcher, changed), QStringList{});
    const QList<WatchEvent> events = watcher.Round(changed);
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0].eKind, WatchEvent::EKind::Moved);
    EXPECT_EQ(events[0].strPreviousIp, "10.200.1.1");
    EXPECT_EQ(events[1].eKind, WatchEvent::EKind::Changed);
    EXPECT_EQ(events[1].strPreviousSerial, "NV1");
    EXPECT_EQ(events[2].eKind, WatchEvent::EKind::Changed);
    EXPECT_EQ(Events(watcher, changed), QStringList{});
}

TEST(Watcher, GoneOnlyAfterTheRoundsGivenAndBackAsAppeared)
{
    CWatcher watcher(3);
    const QList<Appliance> both{At(1, "10.200.1.1"), At(2, "10.200.1.2")};
    Events(watcher, both);
    Events(watcher, both);
    // Two rounds missed, then an answer: nothing.
    EXPECT_EQ(Events(watcher, {both[0]}), QStringList{});
    EXPECT_EQ(Events(watcher, {both[0]}), QStringList{});
    EXPECT_EQ(Events(watcher, both), QStringList{});
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Events(watcher, {both[0]}), QStringList{});
    EXPECT_EQ(Events(watcher, {both[0]}), QStringList{"gone 02"});
    EXPECT_EQ(Events(watcher, {both[0]}), QStringList{});
    Events(watcher, both);
    EXPECT_EQ(Events(watcher, both), QStringList{"appeared 02"});
}

// A script reads the events of a round in a fixed order, whatever the
// hash table held them in: moves first, then those gone, each by MAC.
TEST(Watcher, ARoundsGoneComeLastInMacOrder)
{
    CWatcher watcher(2);
    QList<Appliance> all;
    for (int n = 1; n <= 9; ++n)
        all << At(n, QStringLiteral("10.200.1.%1").arg(n));
    Events(watcher, all);
    Events(watcher, all);
    EXPECT_EQ(Events(watcher, {At(5, "10.200.1.55")}), QStringList{});
    EXPECT_EQ(Events(watcher, {At(5, "10.200.1.55")}),
              QStringList({"moved 05", "gone 01", "gone 02", "gone 03", "gone 04", "gone 06", "gone 07", "gone 08",
                           "gone 09"}));
}

// Another host answers in its name from its own address, and its reply
// comes first: the appliance's own still counts (not gone, not moved), a
// serial it changes meanwhile is told, and a move while the contest lasts
// is believed of neither address.
TEST(Watcher, AnApplianceAnsweringWhereItIsKnownStaysWhoeverSpeaksFirst)
{
    CWatcher watcher(1);
    Events(watcher, {At(1, "10.200.1.1")});
    Events(watcher, {At(1, "10.200.1.1")});
    const auto contested = [](const char* pszOwnIp, const QString& strSerial) {
        Appliance forged = At(1, "10.200.1.77", "FORGED");
        const Appliance own = At(1, QString::fromLatin1(pszOwnIp), strSerial);
        forged.otherClaims = {{own.nIp, own.strIp, strSerial}};
        return forged;
    };
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Events(watcher, {contested("10.200.1.1", "NV1")}), QStringList{});
    EXPECT_EQ(watcher.Present().value(0).strIp, "10.200.1.1");
    EXPECT_EQ(watcher.Answering().size(), 1);
    Events(watcher, {contested("10.200.1.1", "NEW")});
    EXPECT_EQ(Events(watcher, {contested("10.200.1.1", "NEW")}), QStringList{"changed 01"});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Events(watcher, {contested("10.200.1.50", "NEW")}), QStringList{});
    Events(watcher, {At(1, "10.200.1.50", "NEW")});
    EXPECT_EQ(Events(watcher, {At(1, "10.200.1.50", "NEW")}), QStringList{"moved 01"});
}

// A log read elsewhere, or across a change of summer time, still says when.
TEST(Watcher, TextEventsGiveTheirTimeWithItsOffsetFromUtc)
{
    const QString strLine = QString::fromUtf8(
        FormatEvent({WatchEvent::EKind::Appeared, At(1, "10.200.1.1"), {}, {}, {}}, QDateTime::currentDateTime(), false));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d  appeared "))
                    .match(strLine)
                    .hasMatch())
        << strLine.toStdString();
}

TEST(Watcher, AnApplianceWePlacedIsKnownThereWithoutAnEvent)
{
    CWatcher watcher(3);
    EXPECT_EQ(Events(watcher, {At(1, "10.200.9.9")}), QStringList{});
    watcher.Place(At(1, "10.200.3.1"));
    EXPECT_FALSE(watcher.Waiting());
    EXPECT_EQ(Events(watcher, {At(1, "10.200.3.1")}), QStringList{});
    EXPECT_EQ(watcher.Present().value(0).strIp, "10.200.3.1");
}

} // namespace

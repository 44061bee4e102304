// The whole window on its own timers against appliances that are already
// answering (tests/window/refresh/with-sim.sh starts them): it lists them,
// and every refresh empties the list, broadcasts again and lists them all
// again. Run under wine too, where a read of a socket with nothing pending
// fails differently from Linux.
#include "setupsheet.h"
#include "testfiles.h"
#include "testmain.h"
#include "waitfor.h"

#include <QRegularExpression>
#include <QTableView>

namespace {

TEST(Refresh, TheWindowListsTheAppliancesAfterEveryRefresh)
{
    const QString strSimOut = qEnvironmentVariable("NORVANE_SIM_OUT");
    const QString strSimLog = qEnvironmentVariable("NORVANE_SIM_LOG");
    ASSERT_FALSE(strSimOut.isEmpty() || strSimLog.isEmpty()) << "run by tests/window/refresh/with-sim.sh";

    static const QRegularExpression reAppliance(QStringLiteral("^appliance mac=(\\S+) ip=(\\S+) serial=(\\S+)$"),
                                                QRegularExpression::MultilineOption);
    QStringList expected;
    for (auto it = reAppliance.globalMatch(ReadText(strSimOut)); it.hasNext();)
        expected << it.next().capturedTexts().mid(1).join('|');
    ASSERT_EQ(expected.size(), 3);

    CSetupSheet sheet(QStringLiteral("Norvane Setup"));
    sheet.show();
    ASSERT_TRUE(sheet.OnInitDialog());
    CDeviceList& list = *sheet.m_pageChoose.m_listDevices;
    auto rows = [&] {
        QStringList texts;
        for (int nRow = 0; nRow < list.GetItemCount(); ++nRow)
            texts << list.GetItemText(nRow, 0) + '|' + list.GetItemText(nRow, 1) + '|' + list.GetItemText(nRow, 2);
        return texts;
    };

    // A fill is the list reaching every appliance after being short of them.
    int nFills = 0;
    bool bFull = false;
    QObject::connect(list.View()->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (!bFull && list.GetItemCount() == expected.size()) {
            bFull = true;
            ++nFills;
        }
    });
    QObject::connect(list.View()->model(), &QAbstractItemModel::modelReset, [&] { bFull = false; });
    QObject::connect(list.View()->model(), &QAbstractItemModel::rowsRemoved, [&] { bFull = false; });

    // The first discovery and two refreshes, each one seen by the appliances.
    const QRegularExpression reDiscover(
        QStringLiteral("^req type=0x10 from=\\S+:%1 to=255\\.255\\.255\\.255 ").arg(sheet.m_pageChoose.m_socket.LocalPort()),
        QRegularExpression::MultilineOption);
    ASSERT_TRUE(WaitFor([&] { return nFills >= 3; }, 2 * REFRESH_MS + FIRST_DISCOVERY_MS + 5000))
        << nFills << " fills, " << ReadText(strSimLog).count(reDiscover) << " discoveries seen";
    EXPECT_EQ(rows(), expected);
    EXPECT_GE(ReadText(strSimLog).count(reDiscover), 3);
}

} // namespace

int main(int argc, char** argv)
{
    return RunSegmentTests(argc, argv);
}

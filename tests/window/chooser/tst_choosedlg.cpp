// The chooser page: the device list, the keys and the command target
// (the commands are in tst_choosecommands.cpp).
#include "chooserfixture.h"
#include "keys.h"

#include <QAccessible>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <functional>
#include <numeric>

namespace {

// Each row as "MAC|IP|serial", with a '*' when selected.
QStringList Rows(const CDeviceList& list)
{
    QStringList rows;
    for (int i = 0; i < list.GetItemCount(); ++i)
        rows << QStringLiteral("%1|%2|%3").arg(list.GetItemText(i, 0), list.GetItemText(i, 1), list.GetItemText(i, 2)) +
                    (list.IsSelected(i) ? "*" : "");
    return rows;
}

TEST_F(ChooserTest, RowsStayInMacOrderAndOneRowPerMac)
{
    for (const char* pszMac :
         {"00:1A:2B:00:00:03", "00:1A:2B:00:00:01", "00:1A:2B:00:00:0C", "00:1a:2b:00:00:0b", "00:1a:2b:00:00:02"})
        m_page.AddDevice({}, QLatin1String("NV-") + QLatin1String(pszMac).right(2), pszMac, "10.200.1.1");
    // The same appliances again, MACs in other capitals, with new addresses:
    // each row takes the later texts and keeps its place, the first and the
    // last included.
    for (const char* pszMac : {"00:1A:2B:00:00:02", "00:1a:2b:00:00:01", "00:1A:2B:00:00:0c"})
        m_page.AddDevice({}, QLatin1String("NV-") + QLatin1String(pszMac).right(2), pszMac, "10.200.9.9");
    EXPECT_EQ(Rows(*m_page.m_listDevices),
              (QStringList{"00:1a:2b:00:00:01|10.200.9.9|NV-01", "00:1A:2B:00:00:02|10.200.9.9|NV-02",
                           "00:1A:2B:00:00:03|10.200.1.1|NV-03", "00:1a:2b:00:00:0b|10.200.1.1|NV-0b",
                           "00:1A:2B:00:00:0c|10.200.9.9|NV-0c"}));
    EXPECT_EQ(m_page.m_nDeviceCount, 5);
}

// Texts that fill their fields (24, 18 and 16 bytes) carry no terminator.
TEST_F(ChooserTest, FullWidthTextsReachTheListWhole)
{
    Feed(DeviceInfo("NV-ABCDEFGHIJKLMNOPQRSTU", "00:1A:2B:00:00:01Z", "192.168.100.2001"));
    EXPECT_EQ(Rows(*m_page.m_listDevices), QStringList{"00:1A:2B:00:00:01Z|192.168.100.2001|NV-ABCDEFGHIJKLMNOPQRSTU"});
}

QString Mac(int i)
{
    return QStringLiteral("00:1A:2B:00:00:%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
}

// After a refresh 25 appliances answer in one burst, the one clicked (the
// last row) last, first or midway: its row is selected again and scrolled
// fully into view. Equal columns fit the list, empty or scrolling, without a
// horizontal scroll bar.
TEST_F(ChooserTest, LongListShowsTheClickedRowAndFitsItsColumns)
{
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_sheet));
    QTableView* pView = m_page.m_listDevices->View();
    const auto expectColumnsFit = [pView] {
        EXPECT_FALSE(pView->horizontalScrollBar()->isVisible());
        EXPECT_EQ(pView->columnWidth(0), pView->columnWidth(1));
        EXPECT_EQ(pView->columnWidth(0) + pView->columnWidth(1) + pView->columnWidth(2), pView->viewport()->width());
    };
    std::vector<int> last(25);
    std::iota(last.begin(), last.end(), 0);
    std::vector<int> midway(last.begin(), last.end() - 1);
    midway.insert(midway.begin() + 12, 24);
    for (const auto& order : {last, std::vector<int>(last.rbegin(), last.rend()), midway}) {
        SCOPED_TRACE(std::find(order.begin(), order.end(), 24) - order.begin());
        for (int i : last)
            m_page.AddDevice({}, "NV", Mac(i), "10.200.1.1");
        m_page.OnClickDeviceList(24);
        pView->scrollToTop();
        m_page.OnTimer(TIMER_REFRESH);
        ExpectRequest(kDiscover);
        // The replies come later, after the emptied list has been laid out.
        ASSERT_TRUE(WaitFor([&] { return !pView->verticalScrollBar()->isVisible(); }, 1000));
        expectColumnsFit();
        for (int i : order)
            m_page.AddDevice({}, "NV", Mac(i), "10.200.1.1");
        ASSERT_TRUE(WaitFor([&] { return pView->verticalScrollBar()->isVisible(); }, 1000));
        expectColumnsFit();
        EXPECT_TRUE(m_page.m_listDevices->IsSelected(24));
        EXPECT_TRUE(pView->viewport()->rect().contains(pView->visualRect(pView->model()->index(24, 0))));
    }
}

// Labels of the rows the view shows, top to bottom.
QStringList RowsInView(const QTableView& view)
{
    QStringList labels;
    const int nLast = view.rowAt(view.viewport()->height() - 1);
    for (int nRow = view.rowAt(0); nRow >= 0 && nRow <= (nLast < 0 ? view.model()->rowCount() - 1 : nLast); ++nRow)
        labels << view.model()->index(nRow, 0).data().toString();
    return labels;
}

// Forty appliances with no row clicked, the list scrolled to the middle and
// a row current: after each of two refreshes, answered in other orders and
// the second without the top row's appliance, the same rows are in view and
// the same row is current.
TEST_F(ChooserTest, RefreshKeepsTheRowsInViewWhereTheyWere)
{
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_sheet));
    QTableView* pView = m_page.m_listDevices->View();
    for (int i = 0; i < 40; ++i)
        m_page.AddDevice({}, "NV", Mac(i), "10.200.1.1");
    ASSERT_TRUE(WaitFor([&] { return pView->verticalScrollBar()->maximum() > 20; }, 1000));
    pView->verticalScrollBar()->setValue(pView->verticalScrollBar()->maximum() / 2);
    const int nTop = pView->rowAt(0);
    pView->selectionModel()->setCurrentIndex(pView->model()->index(nTop + 2, 0), QItemSelectionModel::NoUpdate);
    QStringList expected = RowsInView(*pView);
    ASSERT_GT(nTop, 5);
    ASSERT_GT(expected.size(), 5);

    std::vector<int> order(40);
    std::iota(order.rbegin(), order.rend(), 0);
    for (int nRound = 0; nRound < 2; ++nRound) {
        SCOPED_TRACE(nRound);
        m_page.OnTimer(TIMER_REFRESH);
        ExpectRequest(kDiscover);
        if (nRound == 1) {
            std::stable_partition(order.begin(), order.end(), [](int i) { return i % 2; });
            order.erase(std::find(order.begin(), order.end(), nTop));
            expected = expected.mid(1) << Mac(nTop + int(expected.size()));
        }
        // Over several layouts, as replies come in bursts.
        for (std::size_t i = 0; i < order.size(); ++i) {
            m_page.AddDevice({}, "NV", Mac(order[i]), "10.200.1.1");
            if (i % 16 == 15)
                QCoreApplication::processEvents();
        }
        EXPECT_TRUE(WaitFor([&] { return RowsInView(*pView) == expected; }, 1000))
            << RowsInView(*pView).join(' ').toStdString();
        EXPECT_EQ(pView->currentIndex().data().toString(), Mac(nTop + 2));
        EXPECT_FALSE(m_page.m_listDevices->IsSelected(nTop + 2)) << "nothing was clicked";
    }
}

// The clicked row, back after a refresh, is current again in the focused
// list: what has Qt tell a screen reader the row it is on (the offscreen
// platform has no reader to hear it; tools/support/a11y-check listens on the bus).
TEST_F(ChooserTest, RefreshMakesTheClickedRowCurrentAgain)
{
    for (int i = 0; i < 3; ++i)
        m_page.AddDevice({}, "NV", Mac(i), "10.200.1.1");
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_sheet));
    QTableView* pView = m_page.m_listDevices->View();
    QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, pView->visualRect(pView->model()->index(1, 0)).center());
    ASSERT_EQ(m_page.m_strSelectedMac, Mac(1));

    m_page.OnTimer(TIMER_REFRESH);
    ExpectRequest(kDiscover);
    EXPECT_FALSE(pView->currentIndex().isValid());
    for (int i : {2, 0, 1})
        m_page.AddDevice({}, "NV", Mac(i), "10.200.1.1");
    EXPECT_TRUE(pView->hasFocus());
    EXPECT_EQ(pView->currentIndex().row(), 1);
    EXPECT_TRUE(m_page.m_listDevices->IsSelected(1));
}

// Tab and Shift+Tab leave the list in page order whatever it holds; the
// arrows move within it and Ctrl+Tab does not walk its cells.
TEST_F(ChooserTest, TabLeavesTheListInPageOrder)
{
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_sheet));
    QTableView* pView = m_page.m_listDevices->View();
    const QStringList cycle{"IDC_DEVICE_LIST", "IDC_PASSWORD", "IDC_START_CONFIG", "field0", "IDC_CHANGE_IP",
                            "IDC_REBOOT", "IDOK", "qt_tabwidget_tabbar", "IDC_DEVICE_LIST"};
    for (int nRows : {0, 3}) {
        for (int i = 0; i < nRows; ++i)
            m_page.AddDevice({}, "NV", Mac(i), "10.200.1.1");
        for (const bool bBack : {false, true}) {
            pView->setFocus();
            QStringList order{FocusName()};
            while (order.size() < cycle.size()) {
                TypeKey(bBack ? '^' : '\t');
                order << FocusName();
            }
            EXPECT_EQ(order, bBack ? QStringList(cycle.rbegin(), cycle.rend()) : cycle) << nRows << " rows";
        }
    }
    const QModelIndex first = pView->model()->index(0, 0);
    pView->setCurrentIndex(first);
    QTest::keyClick(pView, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(pView->currentIndex(), first);
    QTest::keyClick(pView, Qt::Key_Down);
    EXPECT_EQ(pView->currentIndex().row(), 1);
}

TEST_F(ChooserTest, LabelsSitLevelWithTheirFields)
{
    for (const auto& [pszLabel, pszField] :
         {std::pair{"labelSelectedIp", "IDC_SELECTED_IP"}, std::pair{"labelPassword", "IDC_PASSWORD"}}) {
        const auto* pLabel = m_page.findChild<QLabel*>(QLatin1String(pszLabel));
        const auto* pField = m_page.findChild<QWidget*>(QLatin1String(pszField));
        ASSERT_TRUE(pLabel && pField && (pLabel->alignment() & Qt::AlignVCenter)) << pszLabel;
        EXPECT_LE(std::abs(pLabel->geometry().center().y() - pField->geometry().center().y()), 1) << pszLabel;
    }
}

// Requests carry the password as 8-bit text: what it cannot hold is refused
// as it is typed or pasted, never sent as another character.
TEST_F(ChooserTest, PasswordFieldRefusesCharactersTheWireCannotCarry)
{
    QLineEdit* pEdit = Password();
    for (const char* pszKey : {"p", "\u00e4", "\u20ac", "w", "\U0001F600", "x"})
        QTest::sendKeyEvent(QTest::Click, pEdit, Qt::Key_unknown, QString::fromUtf8(pszKey), Qt::NoModifier);
    pEdit->insert(QString::fromUtf8("a\u20acb")); // pasted
    EXPECT_EQ(pEdit->text(), QString::fromUtf8("p\u00e4wx"));
    SetField("10.200.7.9");
    m_page.OnStartConfig();
    ExpectRequest(Msg(DM_GET_LOGIN, "p\xe4wx"), "10.200.7.9");
}

TEST_F(ChooserTest, RefreshEmptiesTheListAndReselectsTheLastClickedAppliance)
{
    m_page.AddDevice({}, "NV-1", "00:1a:2b:00:00:01", "10.200.1.1");
    m_page.AddDevice({}, "NV-2", "00:1A:2B:00:00:02", "10.200.1.2");
    m_page.OnClickDeviceList(0);
    m_page.OnTimer(TIMER_REFRESH);
    EXPECT_EQ(m_page.m_listDevices->GetItemCount(), 0);
    EXPECT_EQ(m_page.m_nDeviceCount, 0);
    EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REFRESH));
    ExpectRequest(kDiscover);

    // The clicked appliance answers last, its MAC in capitals, with a new
    // address; the selection follows its row as others land before it.
    m_page.AddDevice({}, "NV-2", "00:1A:2B:00:00:02", "10.200.1.2");
    m_page.AddDevice({}, "NV-1", "00:1A:2B:00:00:01", "10.200.5.5");
    m_page.AddDevice({}, "NV-0", "00:1A:2B:00:00:00", "10.200.1.9");
    EXPECT_EQ(Rows(*m_page.m_listDevices),
              (QStringList{"00:1A:2B:00:00:00|10.200.1.9|NV-0", "00:1A:2B:00:00:01|10.200.5.5|NV-1*",
                           "00:1A:2B:00:00:02|10.200.1.2|NV-2"}));
    // The target is what the click took, not what the list shows now.
    EXPECT_EQ(m_page.m_strSelectedMac, "00:1a:2b:00:00:01");
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.1");
    EXPECT_EQ(Field(), "10.200.1.1");
}

TEST_F(ChooserTest, OnlyAClickOnARowChangesTheTarget)
{
    for (int i = 1; i <= 3; ++i)
        m_page.AddDevice({}, "NV", QStringLiteral("00:1A:2B:00:00:0%1").arg(i), QStringLiteral("10.200.1.%1").arg(i));
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_sheet));
    QTableView* pView = m_page.m_listDevices->View();
    QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, pView->visualRect(pView->model()->index(1, 1)).center());

    // Neither the keys, nor a click below the last row, nor a row past the last.
    pView->setFocus();
    QTest::keyClick(pView, Qt::Key_Down);
    ASSERT_EQ(pView->currentIndex().row(), 2) << "the key must have moved the list";
    pView->selectionModel()->setCurrentIndex(pView->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    const QRect last = pView->visualRect(pView->model()->index(2, 0));
    QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 20));
    m_page.OnClickDeviceList(3);
    EXPECT_EQ(m_page.m_strSelectedMac, "00:1A:2B:00:00:02");
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.2");
    EXPECT_EQ(Field(), "10.200.1.2");
    m_sheet.hide();

    // An address text that is no IPv4 address shows as all ones.
    for (const char* pszIp : {"", "unknown", "10.200.1.300", "::1"}) {
        SCOPED_TRACE(pszIp);
        m_page.AddDevice({}, "NV", "00:1A:2B:00:00:04", pszIp);
        m_page.OnClickDeviceList(3);
        EXPECT_EQ(m_page.m_strSelectedIp, pszIp);
        EXPECT_EQ(Field(), "255.255.255.255");
    }
}

// Space on the current row and a screen reader's pick over the bus (the
// cell's Toggle, on a row selected or not, and the table's row selection)
// do what a click does; the keys that move there do not. Meanwhile the
// target's row keeps its mark, and the field says whose address it holds.
TEST_F(ChooserTest, SpaceAndAReadersPickMakeTheCurrentRowTheTarget)
{
    for (int i = 0; i < 3; ++i)
        m_page.AddDevice({}, "NV", Mac(i), QStringLiteral("10.200.1.%1").arg(i));
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_sheet));
    CDeviceView* pView = m_page.m_listDevices->View();
    QAccessibleTableInterface* pTable = QAccessible::queryAccessibleInterface(pView)->tableInterface();
    const auto toggle = [&] { pTable->cellAt(2, 1)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction()); };
    const struct {
        const char* pszName;
        Qt::KeyboardModifiers move; // Ctrl moves without selecting
        std::function<void()> pick;
    } cases[] = {
        {"Space", Qt::NoModifier, [&] { QTest::keyClick(pView, Qt::Key_Space); }},
        {"Toggle on the row the keys selected", Qt::NoModifier, toggle},
        {"Toggle on a row not selected", Qt::ControlModifier, toggle},
        {"row selection", Qt::ControlModifier, [&] { pTable->selectRow(2); }},
    };
    const auto description = [&](int nRow) { return pTable->cellAt(nRow, 1)->text(QAccessible::Description); };
    const auto bold = [&](int nRow) { return pView->model()->index(nRow, 0).data(Qt::FontRole).value<QFont>().bold(); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, pView->visualRect(pView->model()->index(0, 0)).center());
        QTest::keyClick(pView, Qt::Key_Down, c.move);
        QTest::keyClick(pView, Qt::Key_Down, c.move);
        ASSERT_EQ(pView->currentIndex().row(), 2);
        EXPECT_EQ(m_page.m_strSelectedMac, Mac(0));
        EXPECT_EQ(Field(), "10.200.1.0");
        EXPECT_EQ(description(0), "IP Address of the appliance the commands act on");
        EXPECT_EQ(description(2), "IP Address");
        EXPECT_TRUE(bold(0) && !bold(2));

        c.pick();
        EXPECT_EQ(m_page.m_strSelectedMac, Mac(2));
        EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.2");
        EXPECT_EQ(Field(), "10.200.1.2");
        EXPECT_EQ(pView->currentIndex().row(), 2);
        EXPECT_EQ(Rows(*m_page.m_listDevices).filter("*"), QStringList{Mac(2) + "|10.200.1.2|NV*"});
        EXPECT_TRUE(m_page.m_listDevices->IsTarget(2) && !m_page.m_listDevices->IsTarget(0));
        EXPECT_TRUE(bold(2) && !bold(0));
        EXPECT_EQ(m_page.m_ipSelected->accessibleDescription(), "Address of " + Mac(2));
    }
    // Not while a box is open over the list, where a click cannot reach.
    {
        QDialog box(&m_sheet);
        box.setModal(true);
        box.show();
        pTable->selectRow(0);
        EXPECT_EQ(m_page.m_strSelectedMac, Mac(2));
    }
    m_page.m_ipSelected->Field(3)->setFocus();
    QTest::keyClick(m_page.m_ipSelected->Field(3), '9');
    EXPECT_EQ(m_page.m_ipSelected->accessibleDescription(), "Typed by hand; Change IP Addr still acts on " + Mac(2));
}

} // namespace

int main(int argc, char** argv)
{
    return RunSegmentTests(argc, argv);
}

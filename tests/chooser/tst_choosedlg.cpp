// The chooser page: the device list, the command target and the commands,
// against a peer on port 8400 inside the private network segment.
#include "chooserfixture.h"
#include "newipdlg.h"
#include "privatesegment.h"

#include <QApplication>
#include <QTableView>
#include <QTest>

#include <functional>

namespace {

const QString kInvalidIp = QStringLiteral("Invalid IP Address");
const QString kBadIp = QStringLiteral("Bad IP Address");
const QString kNoResponse = QStringLiteral("No Response !!!");

TEST_F(ChooserTest, RefreshEmptiesTheListAndBroadcastsAgain)
{
    m_page.AddDevice("NV-1", "00:1A:2B:00:00:01", "10.200.1.1");
    m_page.AddDevice("NV-2", "00:1A:2B:00:00:02", "10.200.1.2");
    ASSERT_EQ(m_page.m_nDeviceCount, 2);

    m_page.OnTimer(TIMER_REFRESH);
    EXPECT_EQ(m_page.m_listDevices->GetItemCount(), 0);
    EXPECT_EQ(m_page.m_nDeviceCount, 0);
    EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REFRESH));
    ExpectBroadcast(kDiscover);
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

TEST_F(ChooserTest, RowsStayInMacOrderAndOneRowPerMac)
{
    const QStringList macs = {"00:1A:2B:00:00:03", "00:1A:2B:00:00:01", "00:1a:2b:00:00:0b", "00:1A:2B:00:00:0A",
                              "00:1A:2B:00:00:02"};
    for (const QString& mac : macs)
        m_page.AddDevice("NV-" + mac.right(2), mac, "10.200.1." + QString::number(mac.right(2).toInt(nullptr, 16)));
    EXPECT_EQ(Rows(), (QStringList{"00:1A:2B:00:00:01|10.200.1.1|NV-01", "00:1A:2B:00:00:02|10.200.1.2|NV-02",
                                   "00:1A:2B:00:00:03|10.200.1.3|NV-03", "00:1A:2B:00:00:0A|10.200.1.10|NV-0A",
                                   "00:1a:2b:00:00:0b|10.200.1.11|NV-0b"}));
    EXPECT_EQ(m_page.m_nDeviceCount, 5);

    // The same appliance again, its MAC in other capitals, with a new
    // address: its row takes the later texts and keeps its place.
    m_page.AddDevice("NV-0B", "00:1A:2B:00:00:0B", "10.200.9.11");
    m_page.AddDevice("NV-02", "00:1A:2B:00:00:02", "10.200.9.2");
    EXPECT_EQ(Rows(), (QStringList{"00:1A:2B:00:00:01|10.200.1.1|NV-01", "00:1A:2B:00:00:02|10.200.9.2|NV-02",
                                   "00:1A:2B:00:00:03|10.200.1.3|NV-03", "00:1A:2B:00:00:0A|10.200.1.10|NV-0A",
                                   "00:1A:2B:00:00:0B|10.200.9.11|NV-0B"}));
    EXPECT_EQ(m_page.m_nDeviceCount, 5);
    EXPECT_EQ(m_page.m_nDeviceCount, m_page.m_listDevices->GetItemCount());
    EXPECT_TRUE(SelectedRows().isEmpty()) << "nothing was clicked yet";
}

TEST_F(ChooserTest, ClickedRowBecomesTheTarget)
{
    m_page.AddDevice("NV-1", "00:1A:2B:00:00:01", "10.200.1.1");
    m_page.AddDevice("NV-2", "00:1A:2B:00:00:02", "10.200.7.42");

    m_page.OnClickDeviceList(1);
    EXPECT_EQ(m_page.m_strSelectedMac, "00:1A:2B:00:00:02");
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.7.42");
    EXPECT_EQ(Field(), "10.200.7.42");

    // A click on no row, or past the last, leaves everything as it was.
    for (int nRow : {-1, 2}) {
        m_page.OnClickDeviceList(nRow);
        EXPECT_EQ(m_page.m_strSelectedMac, "00:1A:2B:00:00:02");
        EXPECT_EQ(m_page.m_strSelectedIp, "10.200.7.42");
        EXPECT_EQ(Field(), "10.200.7.42");
    }

    // An address text that is no IPv4 address shows as all ones.
    for (const char* pszIp : {"", "unknown", "10.200.1.300", "1.2.3.4.5", "::1"}) {
        SCOPED_TRACE(pszIp);
        m_page.AddDevice("NV-3", "00:1A:2B:00:00:03", pszIp);
        m_page.OnClickDeviceList(2);
        EXPECT_EQ(m_page.m_strSelectedIp, pszIp);
        EXPECT_EQ(Field(), "255.255.255.255");
    }
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

TEST_F(ChooserTest, LastClickedApplianceIsSelectedAgainAfterRefresh)
{
    m_page.AddDevice("NV-1", "00:1a:2b:00:00:01", "10.200.1.1");
    m_page.AddDevice("NV-2", "00:1A:2B:00:00:02", "10.200.1.2");
    m_page.OnClickDeviceList(0);

    m_page.OnTimer(TIMER_REFRESH);
    ExpectBroadcast(kDiscover);
    m_page.AddDevice("NV-2", "00:1A:2B:00:00:02", "10.200.1.2");
    m_page.AddDevice("NV-3", "00:1A:2B:00:00:03", "10.200.1.3");
    EXPECT_TRUE(SelectedRows().isEmpty()) << "the clicked appliance has not answered";

    // It answers with its MAC in capitals and a new address; it lands first.
    m_page.AddDevice("NV-1", "00:1A:2B:00:00:01", "10.200.5.5");
    EXPECT_EQ(SelectedRows(), QList<int>{0});
    m_page.AddDevice("NV-0", "00:1A:2B:00:00:00", "10.200.1.9");
    EXPECT_EQ(SelectedRows(), QList<int>{1}) << "the selection follows the row";

    // The target is still what the click took, not what the list shows now.
    EXPECT_EQ(m_page.m_strSelectedMac, "00:1a:2b:00:00:01");
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.1");
    EXPECT_EQ(Field(), "10.200.1.1");
}

TEST_F(ChooserTest, OnlyMouseClicksOnARowChangeTheTarget)
{
    for (int i = 1; i <= 3; ++i)
        m_page.AddDevice(QStringLiteral("NV-%1").arg(i), QStringLiteral("00:1A:2B:00:00:0%1").arg(i),
                         QStringLiteral("10.200.1.%1").arg(i));
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_sheet));
    QTableView* pView = m_page.m_listDevices->View();

    const QPoint row1 = pView->visualRect(pView->model()->index(1, 1)).center();
    QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, row1);
    EXPECT_EQ(m_page.m_strSelectedMac, "00:1A:2B:00:00:02");
    EXPECT_EQ(Field(), "10.200.1.2");

    pView->setFocus();
    QTest::keyClick(pView, Qt::Key_Down);
    ASSERT_EQ(pView->currentIndex().row(), 2) << "the key must have moved the list";
    pView->setCurrentIndex(pView->model()->index(0, 0));
    const QRect last = pView->visualRect(pView->model()->index(2, 0));
    QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 20));

    EXPECT_EQ(m_page.m_strSelectedMac, "00:1A:2B:00:00:02");
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.2");
    EXPECT_EQ(Field(), "10.200.1.2");
    m_sheet.hide();
}

// Start Configuration and Reboot go to the address in the field.
TEST_F(ChooserTest, UnicastCommandsCheckTheAddressField)
{
    struct Command {
        const char* pszName;
        std::function<void()> run;
        int nType;
    };
    for (const Command& command : {Command{"start", [this] { m_page.OnStartConfig(); }, DM_GET_LOGIN},
                                   Command{"reboot", [this] { m_page.OnReboot(); }, DM_REBOOT}}) {
        SCOPED_TRACE(command.pszName);
        m_page.m_strSelectedIp = "10.200.1.1";
        Password()->setText("pw");
        for (const auto& [pszField, strAlert] : {std::pair{"10.200.7.", kInvalidIp}, std::pair{"0.0.0.0", kBadIp}}) {
            m_ui.m_messages.clear();
            SetField(pszField);
            command.run();
            EXPECT_EQ(m_ui.m_messages, QStringList{strAlert});
            EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.1");
            EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
            ExpectNothingSent();
        }

        m_ui.m_messages.clear();
        SetField("10.200.7.9");
        Password()->setText("secret");
        command.run();
        EXPECT_TRUE(m_ui.m_messages.isEmpty());
        EXPECT_EQ(m_page.m_strPassword, "secret");
        EXPECT_EQ(m_page.m_strSelectedIp, "10.200.7.9");
        EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REPLY));
        ExpectRequest(Msg(command.nType, "secret"), "10.200.7.9");
        m_page.KillTimer(TIMER_REPLY);
    }
    EXPECT_EQ(m_ui.m_questions.size(), 3) << "every reboot asks first";
}

TEST_F(ChooserTest, RebootAnsweredNoDoesNothing)
{
    SetField("10.200.7.9");
    Password()->setText("typed");
    m_ui.m_bAnswerYes = false;
    m_page.OnReboot();
    EXPECT_EQ(m_ui.m_questions, QStringList{"The selected Norvane will be rebooted. It takes 10 or 20 seconds. "
                                            "Do you want to reboot ... ?"});
    EXPECT_TRUE(m_page.m_strPassword.isEmpty());
    EXPECT_TRUE(m_page.m_strSelectedIp.isEmpty());
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
    ExpectNothingSent();
}

TEST_F(ChooserTest, ChangeIpBroadcastsTheNewAddressForTheClickedMac)
{
    quint8 preset[4] = {1, 1, 1, 1};
    QString strNewIp;
    m_ui.onDialog = [&](QDialog& dialog) {
        auto& dlg = static_cast<CNewIpDlg&>(dialog);
        dlg.GetAddress(preset[0], preset[1], preset[2], preset[3]);
        if (strNewIp.isNull())
            return int(IDCANCEL);
        SetFieldText(dlg.m_ipNew, strNewIp);
        dlg.accept();
        return int(IDOK);
    };

    // An incomplete field stops it before the dialog.
    m_page.OnChangeIp();
    EXPECT_EQ(m_ui.m_messages, QStringList{kInvalidIp});
    EXPECT_EQ(m_ui.m_nDialogs, 0);

    // 0.0.0.0 is a fine start; the dialog opens on it. Cancel does nothing.
    m_ui.m_messages.clear();
    SetField("0.0.0.0");
    m_page.OnChangeIp();
    EXPECT_EQ(m_ui.m_nDialogs, 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(preset), 4), QByteArray(4, '\0'));
    EXPECT_TRUE(m_ui.m_messages.isEmpty());

    // A new address of 0.0.0.0 is refused.
    strNewIp = "0.0.0.0";
    m_page.OnChangeIp();
    EXPECT_EQ(m_ui.m_messages, QStringList{kBadIp});
    EXPECT_TRUE(m_page.m_strSelectedIp.isEmpty());
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_SETIP_REPLY));
    ExpectNothingSent();

    // Before any click the MAC is empty; a blank field of the new address is 0.
    m_ui.m_messages.clear();
    SetField("10.200.7.9");
    Password()->setText("pw");
    strNewIp = "10.200.5.";
    m_page.OnChangeIp();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(preset), 4), QByteArray("\x0a\xc8\x07\x09", 4));
    ExpectBroadcast(Msg(DM_SET_IP, "pw") + Text("", 18) + Text("10.200.5.0", 16));
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.5.0");
    EXPECT_EQ(Field(), "10.200.7.9") << "the field keeps the old address";
    EXPECT_TRUE(m_page.IsTimerRunning(TIMER_SETIP_REPLY));
    EXPECT_TRUE(m_ui.m_messages.isEmpty());

    m_page.AddDevice("NV-2", "00:1a:2B:00:00:02", "10.200.1.2");
    m_page.OnClickDeviceList(0);
    strNewIp = "10.200.9.99";
    m_page.OnChangeIp();
    ExpectBroadcast(Msg(DM_SET_IP, "pw") + Text("00:1a:2B:00:00:02", 18) + Text("10.200.9.99", 16));
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.9.99");
    EXPECT_EQ(Field(), "10.200.1.2");
}

TEST_F(ChooserTest, RepliesStopTheirTimersAndSaySo)
{
    struct Case {
        QByteArray reply;
        bool bReplyStopped;
        bool bSetIpStopped;
        const char* pszText;
    };
    const Case cases[] = {
        {Msg(DM_SET_IP_ACK), false, true, "IP Address changed - OK"},
        {Msg(DM_REBOOT_ACK), true, false, "Rebooting ... OK."},
        {Msg(DM_REBOOT_ACK, "", 1), true, true, "Invalid Password !!!"},
        {Msg(DM_SET_IP_ACK, "", 2), true, true, "Invalid REQUEST !!!"},
        {Msg(DM_LOGIN_INFO, "", 3) + QByteArray(14, '\0'), true, true, "Internal Error !!!"},
        {Msg(DM_REBOOT_ACK, "", 4), true, true, "FlashInfo Version Mismatched Error !!!"},
        {Msg(DM_REBOOT_ACK, "", 5), true, true, "UnKnown Error !!!"},
        {Msg(DM_REBOOT_ACK, "", 200), true, true, "UnKnown Error !!!"},
        {Msg(DM_REBOOT_ACK, "", 255), true, true, "UnKnown Error !!!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        m_ui.m_messages.clear();
        m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
        m_page.SetTimer(TIMER_SETIP_REPLY, REPLY_TIMEOUT_MS);
        Reply(c.reply);
        EXPECT_EQ(m_ui.m_messages, QStringList{c.pszText});
        EXPECT_NE(m_page.IsTimerRunning(TIMER_REPLY), c.bReplyStopped);
        EXPECT_NE(m_page.IsTimerRunning(TIMER_SETIP_REPLY), c.bSetIpStopped);
        EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REFRESH));
    }
    EXPECT_TRUE(m_ui.m_urls.empty());
}

TEST_F(ChooserTest, TimeOutSaysNoResponseOnce)
{
    for (int nId : {int(TIMER_REPLY), int(TIMER_SETIP_REPLY)}) {
        SCOPED_TRACE(nId);
        const int nOther = nId == TIMER_REPLY ? TIMER_SETIP_REPLY : TIMER_REPLY;
        m_ui.m_messages.clear();
        m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
        m_page.SetTimer(TIMER_SETIP_REPLY, REPLY_TIMEOUT_MS);
        bool bStoppedWhileOpen = false;
        m_ui.onMessage = [&](const QString&) { bStoppedWhileOpen = !m_page.IsTimerRunning(nId); };
        m_page.OnTimer(nId);
        m_ui.onMessage = nullptr;
        EXPECT_EQ(m_ui.m_messages, QStringList{kNoResponse});
        EXPECT_TRUE(bStoppedWhileOpen) << "a box held open must not let the time-out fire again";
        EXPECT_FALSE(m_page.IsTimerRunning(nId));
        EXPECT_TRUE(m_page.IsTimerRunning(nOther));
    }
}

// A page whose socket never opened: every send fails.
TEST(ChooserWithoutSocket, SendErrorsDoNotStackWhileTheirBoxIsOpen)
{
    CRecorderUi ui;
    CSetupSheet sheet(QStringLiteral("Norvane Setup v1.2"));
    CChooseDlg& page = sheet.m_pageChoose;
    page.SetTimer(TIMER_FIRST_DISCOVERY, FIRST_DISCOVERY_MS);
    page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
    bool bNested = false;
    ui.onMessage = [&](const QString& strText) {
        if (strText != "SendTo Error" || bNested)
            return;
        bNested = true;
        EXPECT_TRUE(page.IsTimerRunning(TIMER_FIRST_DISCOVERY));
        page.OnTimer(TIMER_FIRST_DISCOVERY);
        page.OnTimer(TIMER_REFRESH);
        page.OnTimer(TIMER_REPLY);
    };
    page.OnTimer(TIMER_FIRST_DISCOVERY);
    EXPECT_EQ(ui.m_messages, (QStringList{"SendTo Error", "No Response !!!"}));
    EXPECT_FALSE(page.IsTimerRunning(TIMER_FIRST_DISCOVERY));
    EXPECT_EQ(ui.m_nMaxDepth, 2);
}

} // namespace

int main(int argc, char** argv)
{
    RequirePrivateSegmentOrExit();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The chooser page's commands: the checks of their target, the requests
// they send, and the replies and time-outs that end them.
#include "chooserfixture.h"
#include "newipdlg.h"

#include <QDialog>

#include <functional>

namespace {

const QString kInvalidIp = QStringLiteral("Invalid IP Address");
const QString kBadIp = QStringLiteral("Bad IP Address");

// Start Configuration, Reboot and Save go to the address in the field; one
// that reaches every appliance (255.255.255.255 is also what a row with an
// unreadable address puts there) or none is refused like 0.0.0.0.
TEST_F(ChooserTest, UnicastCommandsCheckTheAddressField)
{
    const std::pair<std::function<void()>, int> commands[] = {{[this] { m_page.OnStartConfig(); }, DM_GET_LOGIN},
                                                              {[this] { m_page.OnReboot(); }, DM_REBOOT},
                                                              {[this] { m_page.OnSaveFlashInfo(); }, DM_GET_FLASHINFO}};
    const std::pair<const char*, QString> refused[] = {
        {"10.200.7.", kInvalidIp}, {"0.0.0.0", kBadIp}, {"255.255.255.255", kBadIp}, {"224.0.0.1", kBadIp},
        {"127.0.0.1", kBadIp}};
    for (const auto& [run, nType] : commands) {
        SCOPED_TRACE(nType);
        m_page.m_strSelectedIp = "10.200.1.1";
        for (const auto& [pszField, strAlert] : refused) {
            m_ui.m_messages.clear();
            SetField(pszField);
            run();
            EXPECT_EQ(m_ui.m_messages, QStringList{strAlert});
            EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.1");
            EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
            ExpectNothingSent();
        }
        m_ui.m_messages.clear();
        SetField("10.200.7.9");
        Password()->setText("secret");
        run();
        EXPECT_TRUE(m_ui.m_messages.isEmpty());
        EXPECT_EQ(m_page.m_strPassword, "secret");
        EXPECT_EQ(m_page.m_strSelectedIp, "10.200.7.9");
        EXPECT_EQ(TimerPeriods(m_page), (QList<int>{5000, 5000})) << "refresh and reply";
        ExpectRequest(Msg(nType, "secret"), "10.200.7.9");
        m_page.KillTimer(TIMER_REPLY);
    }
    EXPECT_EQ(m_ui.m_questions.size(), std::size(refused) + 1) << "every reboot asks first";
}

TEST_F(ChooserTest, ChangeIpBroadcastsTheNewAddressForTheClickedMac)
{
    QString strNewIp; // null: the dialog is cancelled
    m_ui.onDialog = [&](QDialog& dialog) {
        auto& dlg = static_cast<CNewIpDlg&>(dialog);
        if (strNewIp.isNull())
            return int(IDCANCEL);
        SetFieldText(*dlg.m_ipNew, strNewIp);
        dlg.accept();
        return int(IDOK);
    };
    // An incomplete field stops it before the dialog.
    m_page.OnChangeIp();
    EXPECT_EQ(m_ui.m_messages, QStringList{kInvalidIp});
    EXPECT_EQ(m_ui.m_nDialogs, 0);

    // 0.0.0.0 is a fine start, but not a new address; nor is one that every
    // host or no host answers to.
    m_ui.Clear();
    SetField("0.0.0.0");
    m_page.OnChangeIp();
    for (const char* pszNewIp : {"0.0.0.0", "255.255.255.255", "239.1.2.3"}) {
        strNewIp = pszNewIp;
        m_page.OnChangeIp();
    }
    EXPECT_EQ(m_ui.m_nDialogs, 4);
    EXPECT_EQ(m_ui.m_messages, QStringList(3, kBadIp));
    EXPECT_TRUE(m_page.m_strSelectedIp.isEmpty());
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_SETIP_REPLY));
    ExpectNothingSent();

    // Before any click the MAC is empty (the end-to-end test clicks one); a
    // blank field of the new address is 0.
    m_ui.Clear();
    SetField("10.200.7.9");
    Password()->setText("pw");
    strNewIp = "10.200.5.";
    m_page.OnChangeIp();
    ExpectRequest(Msg(DM_SET_IP, "pw") + TextField("", 18) + TextField("10.200.5.0", 16));
    EXPECT_EQ(m_page.m_strSelectedIp, "10.200.5.0");
    EXPECT_EQ(Field(), "10.200.7.9") << "the field keeps the old address";
    EXPECT_TRUE(m_page.IsTimerRunning(TIMER_SETIP_REPLY));
    EXPECT_EQ(TimerPeriods(m_page), (QList<int>{5000, 5000})) << "refresh and change of address";
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

TEST_F(ChooserTest, RepliesStopTheirTimersAndSaySo)
{
    const struct {
        QByteArray reply;
        bool bReplyStopped, bSetIpStopped;
        const char* pszText;
    } cases[] = {
        {Msg(DM_SET_IP_ACK), false, true, "IP Address changed - OK"},
        {Msg(DM_REBOOT_ACK), true, false, "Rebooting ... OK."},
        {Msg(DM_REBOOT_ACK, "", 1), true, true, "Invalid Password !!!"},
        {Msg(DM_SET_IP_ACK, "", 2), true, true, "Invalid REQUEST !!!"},
        {Msg(DM_LOGIN_INFO, "", 3) + QByteArray(14, '\0'), true, true, "Internal Error !!!"},
        {Msg(DM_REBOOT_ACK, "", 4), true, true, "FlashInfo Version Mismatched Error !!!"},
        {Msg(DM_REBOOT_ACK, "", 5), true, true, "UnKnown Error !!!"},
        {Msg(DM_REBOOT_ACK, "", 255), true, true, "UnKnown Error !!!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszText);
        m_ui.m_messages.clear();
        m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
        m_page.SetTimer(TIMER_SETIP_REPLY, REPLY_TIMEOUT_MS);
        Feed(c.reply);
        EXPECT_EQ(m_ui.m_messages, QStringList{c.pszText});
        EXPECT_NE(m_page.IsTimerRunning(TIMER_REPLY), c.bReplyStopped);
        EXPECT_NE(m_page.IsTimerRunning(TIMER_SETIP_REPLY), c.bSetIpStopped);
        EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REFRESH));
    }
    EXPECT_TRUE(m_ui.m_urls.empty());
}

TEST_F(ChooserTest, TimeOutSaysNoResponseOnce)
{
    for (const auto& [nId, nOther] :
         {std::pair{TIMER_REPLY, TIMER_SETIP_REPLY}, std::pair{TIMER_SETIP_REPLY, TIMER_REPLY}}) {
        SCOPED_TRACE(nId);
        m_ui.m_messages.clear();
        m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
        m_page.SetTimer(TIMER_SETIP_REPLY, REPLY_TIMEOUT_MS);
        bool bStoppedWhileOpen = false;
        m_ui.onMessage = [&](const QString&) { bStoppedWhileOpen = !m_page.IsTimerRunning(nId); };
        m_page.OnTimer(nId);
        m_ui.onMessage = nullptr;
        EXPECT_EQ(m_ui.m_messages, QStringList{"No Response !!!"});
        EXPECT_TRUE(bStoppedWhileOpen) << "a box held open must not let the time-out fire again";
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

// The setup sheet around the chooser page: start-up, OK, the application
// object, and the web login that follows Start Configuration.
#include "chooserfixture.h"
#include "setupapp.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

namespace {

const QString kBrowserError =
    QStringLiteral("the Internet Explorer or Netscape Navigator not installed properly in your system.");
const QString kOldVersion = QStringLiteral("The old-version Norvane detected.\nUse Norvane Setup Program v1.0");

TEST(SetupSheet, StartUpPreparesSheetAndPage)
{
    CRecorderUi ui;
    CSetupSheet sheet(QStringLiteral("Caption under test"));
    CChooseDlg& page = sheet.m_pageChoose;
    sheet.m_bConfigStarted = true;
    g_bSwapLong = true;
    ASSERT_TRUE(sheet.OnInitDialog());

    EXPECT_FALSE(g_bSwapLong) << "byte order is set from this host at start-up";
    EXPECT_FALSE(sheet.m_bConfigStarted);
    EXPECT_TRUE(page.m_socket.IsOpen());
    EXPECT_TRUE(page.IsTimerRunning(TIMER_FIRST_DISCOVERY));
    EXPECT_TRUE(page.IsTimerRunning(TIMER_REFRESH));
    EXPECT_FALSE(page.IsTimerRunning(TIMER_REPLY));
    EXPECT_FALSE(page.IsTimerRunning(TIMER_SETIP_REPLY));
    EXPECT_TRUE(ui.m_messages.isEmpty());

    EXPECT_EQ(sheet.windowTitle(), "Caption under test");
    ASSERT_NE(sheet.findChild<QTabWidget*>(), nullptr);
    EXPECT_EQ(sheet.findChild<QTabWidget*>()->count(), 1);
    EXPECT_EQ(sheet.findChild<QTabWidget*>()->tabText(0), "Choose");
    EXPECT_FALSE(sheet.m_hIcon.availableSizes().isEmpty()) << "the icon resource must load";
    EXPECT_EQ(sheet.windowIcon().cacheKey(), sheet.m_hIcon.cacheKey());

    ASSERT_NE(sheet.GetDlgItem(IDOK), nullptr);
    ASSERT_NE(sheet.GetDlgItem(IDCANCEL), nullptr);
    ASSERT_NE(sheet.GetDlgItem(ID_APPLY_NOW), nullptr);
    EXPECT_TRUE(sheet.GetDlgItem(IDOK)->isEnabled());
    EXPECT_FALSE(sheet.GetDlgItem(IDCANCEL)->isEnabled());
    EXPECT_FALSE(sheet.GetDlgItem(ID_APPLY_NOW)->isEnabled());
    const auto* pButtons = sheet.findChild<QDialogButtonBox*>();
    ASSERT_NE(pButtons, nullptr);
    EXPECT_EQ(pButtons->buttons().size(), 3);
    EXPECT_EQ(pButtons->button(QDialogButtonBox::Help), nullptr);

    const QTableView* pView = page.m_listDevices->View();
    const int nWidth = pView->frameGeometry().width() / 3;
    EXPECT_GT(nWidth, 0);
    const char* const titles[] = {"MAC Address", "IP Address", "Serial Number"};
    ASSERT_EQ(pView->model()->columnCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pView->model()->headerData(i, Qt::Horizontal).toString(), titles[i]);
        EXPECT_EQ(pView->columnWidth(i), nWidth) << "column " << i;
    }
    EXPECT_EQ(page.m_listDevices->GetItemCount(), 0);
    EXPECT_TRUE(page.m_ipSelected->IsBlank());
}

class CTestApp : public CSetupApp {
public:
    bool m_bSocketsWork = true;
    bool m_bUseRealSocketInit = false;
    QStringList m_sheetsRun;

protected:
    bool SocketInit() override { return m_bUseRealSocketInit ? CSetupApp::SocketInit() : m_bSocketsWork; }
    void RunSheet(CSetupSheet& sheet) override { m_sheetsRun << sheet.windowTitle(); }
};

TEST(SetupApp, SheetRunsOnlyWhenSocketsWork)
{
    CRecorderUi ui;
    CTestApp noSockets;
    noSockets.m_bSocketsWork = false;
    EXPECT_FALSE(noSockets.InitInstance());
    EXPECT_EQ(ui.m_messages, QStringList{"Windows sockets initialization failed."});
    EXPECT_TRUE(noSockets.m_sheetsRun.isEmpty());

    ui.m_messages.clear();
    CTestApp app;
    app.m_bUseRealSocketInit = true;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(ui.m_messages.isEmpty());
    EXPECT_EQ(app.m_sheetsRun, QStringList{"Norvane Setup v1.2"});
}

TEST_F(ChooserTest, OkLeavesThePageRunningUntilConfigurationStarted)
{
    Password()->setText("typed");
    m_sheet.accept();
    EXPECT_FALSE(m_sheet.GetDlgItem(IDCANCEL)->isEnabled());
    EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REFRESH));
    EXPECT_TRUE(m_page.m_strPassword.isEmpty()) << "the edit is not read back";

    m_sheet.m_bConfigStarted = true;
    m_sheet.accept();
    EXPECT_TRUE(m_sheet.GetDlgItem(IDCANCEL)->isEnabled());
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REFRESH));
    EXPECT_EQ(m_page.m_strPassword, "typed");
    EXPECT_EQ(m_sheet.result(), QDialog::Accepted);
}

TEST_F(ChooserTest, LoginReplyFillsTheSheetAndOpensTheBrowser)
{
    m_page.AddDevice("NV-4", "00:1A:2B:00:00:04", "10.200.4.4");
    m_page.OnClickDeviceList(0);
    m_page.m_strPassword = "pw";
    m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
    Reply(LoginReply("operator", 8080));
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_EQ(m_sheet.m_strDeviceIp, "10.200.4.4");
    EXPECT_EQ(m_sheet.m_strDeviceMac, "00:1A:2B:00:00:04");
    EXPECT_EQ(m_sheet.m_strPassword, "pw");
    EXPECT_EQ(m_sheet.m_strUserName, "operator");
    EXPECT_EQ(m_sheet.m_nWebPort, 8080);
    EXPECT_TRUE(m_sheet.m_bConfigStarted);
    ASSERT_EQ(m_ui.m_urls.size(), 1u);
    EXPECT_EQ(m_ui.m_urls[0].toEncoded(),
              "http://10.200.4.4:8080/cgi-bin/qx_login-act.cgi?USER_NAME=operator&USER_PASSWD=pw");
    EXPECT_TRUE(m_ui.m_messages.isEmpty());

    // Web ports outside 1..65535 mean an appliance too old for the web login;
    // the user name is taken all the same.
    struct Case {
        QByteArray userName;
        qint32 nPort;
        const char* pszUserName;
        bool bOpens;
    };
    const Case cases[] = {
        {"", 65535, "", true},
        {"ABCDEFGHIJ", 65536, "ABCDEFGHIJ", false}, // fills its field: no terminator
        {"root", 0, "root", false},
        {"x", -1, "x", false},
        {"ABCDEFGHIJ", 1, "ABCDEFGHIJ", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nPort);
        m_ui.m_messages.clear();
        m_ui.m_urls.clear();
        m_sheet.m_bConfigStarted = false;
        Reply(LoginReply(c.userName, c.nPort));
        EXPECT_EQ(m_sheet.m_strUserName, c.pszUserName);
        EXPECT_EQ(m_sheet.m_bConfigStarted, c.bOpens);
        EXPECT_EQ(m_ui.m_urls.size(), c.bOpens ? 1u : 0u);
        EXPECT_EQ(m_ui.m_messages, c.bOpens ? QStringList() : QStringList{kOldVersion});
        if (c.bOpens) {
            EXPECT_EQ(m_ui.m_urls[0].toEncoded(),
                      QByteArray("http://10.200.4.4:") + QByteArray::number(c.nPort) +
                          "/cgi-bin/qx_login-act.cgi?USER_NAME=" + c.pszUserName + "&USER_PASSWD=pw");
        }
    }
}

TEST_F(ChooserTest, LoginUrlEncodesUserNameAndPassword)
{
    m_page.m_strSelectedIp = "10.200.4.4";
    const struct {
        QByteArray userName;
        QString strPassword;
        QByteArray query;
    } cases[] = {
        {"admin", "a&b", "USER_NAME=admin&USER_PASSWD=a%26b"},
        {"admin", "x#y", "USER_NAME=admin&USER_PASSWD=x%23y"},
        {"admin", "100%", "USER_NAME=admin&USER_PASSWD=100%25"},
        {"admin", "a+b c", "USER_NAME=admin&USER_PASSWD=a%2Bb%20c"},
        {"admin", "Az09-._~", "USER_NAME=admin&USER_PASSWD=Az09-._~"},
        {"admin", "", "USER_NAME=admin&USER_PASSWD="},
        {"o&p=q", "pw", "USER_NAME=o%26p%3Dq&USER_PASSWD=pw"},
        {"\xe9t\xe9", "?/", "USER_NAME=%E9t%E9&USER_PASSWD=%3F%2F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.constData());
        m_ui.m_urls.clear();
        m_page.m_strPassword = c.strPassword;
        Reply(LoginReply(c.userName, 80));
        const QByteArray expected = "http://10.200.4.4:80/cgi-bin/qx_login-act.cgi?" + c.query;
        EXPECT_EQ(m_sheet.FormatLoginUrl(), expected);
        ASSERT_EQ(m_ui.m_urls.size(), 1u);
        EXPECT_EQ(m_ui.m_urls[0].toEncoded(), expected);
    }
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

TEST_F(ChooserTest, BrowserFailuresAndOverlongUrlsShowTheBrowserText)
{
    m_page.m_strSelectedIp = "10.200.4.4";
    m_ui.m_bOpenUrlSucceeds = false;
    Reply(LoginReply("admin", 80));
    EXPECT_EQ(m_ui.m_urls.size(), 1u);
    EXPECT_EQ(m_ui.m_messages, QStringList{kBrowserError});
    EXPECT_TRUE(m_sheet.m_bConfigStarted) << "the appliance did answer";

    // 1023 characters still launch; one more does not.
    m_ui.m_bOpenUrlSucceeds = true;
    const int nBase = int(QByteArray("http://10.200.4.4:80/cgi-bin/qx_login-act.cgi?USER_NAME=admin&USER_PASSWD=").size());
    for (const auto& [strPassword, bLaunched] : {std::pair{QString(LOGIN_URL_BUF_SIZE - 1 - nBase, 'p'), true},
                                                 std::pair{QString(LOGIN_URL_BUF_SIZE - nBase, 'p'), false},
                                                 std::pair{QString(320, '&'), false}}) {
        SCOPED_TRACE(strPassword.size());
        m_ui.m_messages.clear();
        m_ui.m_urls.clear();
        m_page.m_strPassword = strPassword;
        Reply(LoginReply("admin", 80));
        EXPECT_EQ(m_ui.m_urls.size(), bLaunched ? 1u : 0u);
        EXPECT_EQ(m_ui.m_messages, bLaunched ? QStringList() : QStringList{kBrowserError});
        if (bLaunched) {
            EXPECT_EQ(m_ui.m_urls[0].toEncoded().size(), LOGIN_URL_BUF_SIZE - 1);
        }
    }
}

TEST_F(ChooserTest, UnaskedLoginReplyOpensTheTargetNotTheSender)
{
    m_page.AddDevice("NV-3", "00:1A:2B:00:00:03", "10.200.3.3");
    m_page.OnClickDeviceList(0);
    const QByteArray reply = LoginReply("admin", 8080);
    ASSERT_EQ(m_peer.writeDatagram(reply, QHostAddress(QHostAddress::LocalHost), m_page.m_socket.LocalPort()),
              reply.size());
    ASSERT_TRUE(WaitFor([&] { return !m_ui.m_urls.empty(); }, 1000));
    EXPECT_EQ(m_ui.m_urls[0].toEncoded(),
              "http://10.200.3.3:8080/cgi-bin/qx_login-act.cgi?USER_NAME=admin&USER_PASSWD=");
    EXPECT_TRUE(m_sheet.m_bConfigStarted);
}

} // namespace

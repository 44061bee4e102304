// The setup sheet around the chooser page: start-up, OK, the application
// object, and the web login that follows Start Configuration.
#include "chooserfixture.h"
#include "setupapp.h"

#include <QDialogButtonBox>
#include <QRegularExpression>
#include <QTest>
#include <QTabWidget>
#include <QTableView>

#include <bit>

namespace {

const QString kBrowserError =
    QStringLiteral("the Internet Explorer or Netscape Navigator not installed properly in your system.");

TEST(SetupSheet, StartUpPreparesSheetAndPage)
{
    CRecorderUi ui;
    CSetupSheet sheet(QStringLiteral("Norvane Setup"));
    CChooseDlg& page = sheet.m_pageChoose;
    sheet.m_bConfigStarted = true;
    ASSERT_TRUE(sheet.OnInitDialog());
    EXPECT_EQ(g_bSwapLong, std::endian::native == std::endian::big) << "byte order is this host's from the start";
    EXPECT_FALSE(sheet.m_bConfigStarted);
    for (int nId : {TIMER_FIRST_DISCOVERY, TIMER_REFRESH, TIMER_REPLY, TIMER_SETIP_REPLY})
        EXPECT_EQ(page.IsTimerRunning(nId), nId == TIMER_FIRST_DISCOVERY || nId == TIMER_REFRESH) << nId;
    EXPECT_EQ(TimerPeriods(page), (QList<int>{500, 5000}));
    EXPECT_EQ(sheet.findChild<QTabWidget*>()->tabText(0), "Choose");
    const QList<QSize> iconSizes = sheet.m_hIcon.availableSizes();
    for (int nSize : {16, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(iconSizes.contains(QSize(nSize, nSize))) << "the icon resource at " << nSize << " pixels";
    EXPECT_EQ(sheet.windowIcon().cacheKey(), sheet.m_hIcon.cacheKey());
    ASSERT_TRUE(sheet.GetDlgItem(IDOK) && sheet.GetDlgItem(IDCANCEL) && sheet.GetDlgItem(ID_APPLY_NOW));
    EXPECT_TRUE(sheet.GetDlgItem(IDOK)->isEnabled());
    EXPECT_FALSE(sheet.GetDlgItem(IDCANCEL)->isEnabled());
    EXPECT_FALSE(sheet.GetDlgItem(ID_APPLY_NOW)->isEnabled());
    EXPECT_EQ(sheet.findChild<QDialogButtonBox*>()->buttons().size(), 3) << "no Help button";

    // Equal columns; the last one also takes what is left (ColumnsFitWithoutAHorizontalScrollBar).
    const QTableView* pView = page.m_listDevices->View();
    const int nWidth = pView->columnWidth(0);
    ASSERT_EQ(pView->model()->columnCount(), 3);
    const char* const titles[] = {"MAC Address", "IP Address", "Serial Number"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pView->model()->headerData(i, Qt::Horizontal).toString(), titles[i]);
        EXPECT_GE(pView->columnWidth(i), nWidth) << "column " << i;
    }
    EXPECT_EQ(pView->columnWidth(1), nWidth);
    EXPECT_GT(nWidth, pView->frameGeometry().width() / 4);
    EXPECT_TRUE(ui.m_messages.isEmpty());
}

class CTestApp : public CSetupApp {
public:
    bool m_bSocketsWork = true;
    QStringList m_sheetsRun;
    QString m_strPageScans; // the ranges the page of the last sheet run sweeps

protected:
    // Sockets that work are probed for real.
    bool SocketInit() override { return m_bSocketsWork && CSetupApp::SocketInit(); }
    void RunSheet(CSetupSheet& sheet) override
    {
        m_sheetsRun << sheet.windowTitle();
        m_strPageScans = sheet.m_pageChoose.ScanRanges().Text();
    }
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
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(ui.m_messages.isEmpty());
    EXPECT_EQ(app.m_sheetsRun, QStringList{"Norvane Setup v1.2"});
}

// Through the start-up main() runs: the parsed ranges must reach the page,
// and a refused command line must open no window.
TEST(SetupApp, ScanRangesOfTheCommandLineReachThePage)
{
    CTestApp app;
    EXPECT_EQ(app.Run({"norvane-setup", "--scan", "10.9.7.0/24"}), 0);
    EXPECT_EQ(app.m_strPageScans, QStringLiteral("10.9.7.0/24"));

    CTestApp refused;
    EXPECT_EQ(refused.Run({"norvane-setup", "--scan", "10.9.7.0/33"}), 2);
    EXPECT_TRUE(refused.m_sheetsRun.isEmpty());
}

// main() reads the line once before the window's application object, which
// needs a display: help and version must be told apart there.
TEST(SetupApp, HelpAndVersionAreAnsweredWithoutTheSheet)
{
    for (const char* pszOption : {"--help", "--version", "-v"}) {
        SCOPED_TRACE(pszOption);
        QString strMessage;
        bool bHelp = false;
        EXPECT_FALSE(CSetupApp().ParseCommandLine({"norvane-setup", pszOption}, strMessage, bHelp));
        EXPECT_TRUE(bHelp);
        EXPECT_TRUE(strMessage.contains(QRegularExpression(pszOption == QLatin1String("--help")
                                                               ? "--scan <CIDR>"
                                                               : "^norvane-setup \\d+\\.\\d+\n$")))
            << strMessage.toStdString();
        CTestApp app;
        EXPECT_EQ(app.Run({"norvane-setup", pszOption}), 0);
        EXPECT_TRUE(app.m_sheetsRun.isEmpty());
    }
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

// Escape is Cancel's key and does nothing while Cancel is disabled; Enter,
// in the list too, presses the default button OK and picks no row.
TEST_F(ChooserTest, EscapeFollowsCancelAndEnterPressesOk)
{
    m_page.AddDevice({}, "NV-4", "00:1A:2B:00:00:04", "10.200.4.4");
    QWidget* pView = m_page.m_listDevices->View();
    for (const bool bCancelEnabled : {false, true}) {
        SCOPED_TRACE(bCancelEnabled);
        m_sheet.GetDlgItem(IDCANCEL)->setEnabled(bCancelEnabled);
        m_sheet.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_sheet));
        pView->setFocus();
        QTest::keyClick(pView, Qt::Key_Escape);
        EXPECT_EQ(m_sheet.isVisible(), !bCancelEnabled);
        EXPECT_EQ(m_sheet.result(), QDialog::Rejected);
    }
    m_sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_sheet));
    pView->setFocus();
    QTest::keyClick(pView, Qt::Key_Down);
    QTest::keyClick(pView, Qt::Key_Return);
    EXPECT_FALSE(m_sheet.isVisible());
    EXPECT_EQ(m_sheet.result(), QDialog::Accepted);
    EXPECT_TRUE(m_page.m_strSelectedMac.isEmpty());
}

TEST_F(ChooserTest, LoginReplyFillsTheSheetAndOpensTheBrowserAtTheTarget)
{
    m_page.AddDevice({}, "NV-4", "00:1A:2B:00:00:04", "10.200.4.4");
    m_page.OnClickDeviceList(0);
    m_page.m_strPassword = "pw";
    m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
    // Through the socket from 127.0.0.1: the browser goes to the target, not the sender.
    const QByteArray reply = LoginReply("operator", 8080);
    ASSERT_EQ(m_peer.writeDatagram(reply, QHostAddress(QHostAddress::LocalHost), m_page.m_socket.LocalPort()),
              reply.size());
    ASSERT_TRUE(WaitFor([&] { return !m_ui.m_urls.empty(); }, 1000));
    EXPECT_EQ(m_ui.m_urls[0].toEncoded(),
              "http://10.200.4.4:8080/cgi-bin/qx_login-act.cgi?USER_NAME=operator&USER_PASSWD=pw");
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_EQ(m_sheet.m_strDeviceMac, "00:1A:2B:00:00:04");
    EXPECT_TRUE(m_sheet.m_bConfigStarted);
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

// User name and password are percent-encoded; ten characters fill the name
// field. Web ports outside 1..65535 mean an appliance too old for the web
// login, though the user name is taken all the same.
TEST_F(ChooserTest, LoginUrlFromEveryReply)
{
    m_page.m_strSelectedIp = "10.200.4.4";
    const struct {
        QByteArray userName;
        QString strPassword;
        qint32 nPort;
        QByteArray url; // empty: not opened
    } cases[] = {
        {"", "", 65535, "http://10.200.4.4:65535/cgi-bin/qx_login-act.cgi?USER_NAME=&USER_PASSWD="},
        {"o&p=q", "a&b#1%+ c", 1,
         "http://10.200.4.4:1/cgi-bin/qx_login-act.cgi?USER_NAME=o%26p%3Dq&USER_PASSWD=a%26b%231%25%2B%20c"},
        {"\xe9t\xe9", "Az09-._~?/", 80,
         "http://10.200.4.4:80/cgi-bin/qx_login-act.cgi?USER_NAME=%E9t%E9&USER_PASSWD=Az09-._~%3F%2F"},
        {"ABCDEFGHIJ", "pw", 80, "http://10.200.4.4:80/cgi-bin/qx_login-act.cgi?USER_NAME=ABCDEFGHIJ&USER_PASSWD=pw"},
        {"ABCDEFGHIJ", "pw", 65536, ""},
        {"root", "pw", 0, ""},
        {"x", "pw", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nPort);
        m_ui.Clear();
        m_sheet.m_bConfigStarted = false;
        m_page.m_strPassword = c.strPassword;
        const int nPortBefore = m_sheet.m_nWebPort;
        Feed(LoginReply(c.userName, c.nPort));
        EXPECT_EQ(m_sheet.m_strUserName, QString::fromLatin1(c.userName));
        EXPECT_EQ(m_sheet.m_nWebPort, c.url.isEmpty() ? nPortBefore : c.nPort);
        EXPECT_EQ(m_sheet.m_bConfigStarted, !c.url.isEmpty());
        EXPECT_EQ(m_ui.m_urls.empty() ? QByteArray() : m_ui.m_urls[0].toEncoded(), c.url);
        EXPECT_LE(m_ui.m_urls.size(), 1u);
        EXPECT_EQ(m_ui.m_messages, c.url.isEmpty() ? QStringList{"The old-version Norvane detected.\nUse Norvane "
                                                                 "Setup Program v1.0"}
                                                   : QStringList());
    }
}

TEST_F(ChooserTest, BrowserFailuresAndOverlongUrlsShowTheBrowserText)
{
    m_page.m_strSelectedIp = "10.200.4.4";
    m_ui.m_bOpenUrlSucceeds = false;
    Feed(LoginReply("admin", 80));
    EXPECT_EQ(m_ui.m_urls.size(), 1u);
    EXPECT_EQ(m_ui.m_messages, QStringList{kBrowserError});
    EXPECT_TRUE(m_sheet.m_bConfigStarted) << "the appliance did answer";

    // 1023 characters still launch; one more does not.
    m_ui.m_bOpenUrlSucceeds = true;
    const int nBase = int(qstrlen("http://10.200.4.4:80/cgi-bin/qx_login-act.cgi?USER_NAME=admin&USER_PASSWD="));
    for (const auto& [strPassword, bLaunched] : {std::pair{QString(LOGIN_URL_BUF_SIZE - 1 - nBase, 'p'), true},
                                                 std::pair{QString(LOGIN_URL_BUF_SIZE - nBase, 'p'), false},
                                                 std::pair{QString(320, '&'), false}}) {
        SCOPED_TRACE(strPassword.size());
        m_ui.Clear();
        m_page.m_strPassword = strPassword;
        Feed(LoginReply("admin", 80));
        EXPECT_EQ(m_ui.m_urls.size(), bLaunched ? 1u : 0u);
        EXPECT_EQ(m_ui.m_messages, bLaunched ? QStringList() : QStringList{kBrowserError});
    }
}

// The window's --scan: a few thousand addresses, which one refresh sweeps.
TEST(WindowCommandLine, ScanTakesAFewThousandAddressesAtMost)
{
    const auto parse = [](const QStringList& args, QString& strMessage) {
        CSetupApp app;
        bool bHelp = false;
        return app.ParseCommandLine(QStringList{"norvane-setup"} + args, strMessage, bHelp);
    };
    QString strMessage;
    EXPECT_TRUE(parse({}, strMessage));
    EXPECT_TRUE(parse({"--scan", "10.9.0.0/20", "--scan", "10.8.0.0/31"}, strMessage));            // 4094 + 2
    EXPECT_FALSE(parse({"--scan", "10.9.0.0/20", "--scan", "10.8.0.0/31,10.8.0.9"}, strMessage)); // one more
    EXPECT_TRUE(strMessage.contains("4097")) << strMessage.toStdString();
    EXPECT_FALSE(parse({"--scan", "10.9.0.0/40"}, strMessage));
    EXPECT_FALSE(parse({"--nosuch"}, strMessage));
    EXPECT_FALSE(parse({"stray"}, strMessage));
}

} // namespace

// The whole utility against norvane-sim: the real sheet and page, the real
// widget seam, real message boxes and the real New IP dialog, answered by a
// watcher the way a user would answer them. The exact texts and requests are
// checked in the page tests; these check what only the real parts prove.
#include "ipaddressctrl.h"
#include "keys.h"
#include "newipdlg.h"
#include "setupsheet.h"
#include "simprocess.h"
#include "testfiles.h"
#include "testmain.h"
#include "waitfor.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <vector>

namespace {

QString Address(const CIPAddressCtrl& ctrl)
{
    quint8 n0 = 0, n1 = 0, n2 = 0, n3 = 0;
    EXPECT_EQ(ctrl.GetAddress(n0, n1, n2, n3), 4);
    return QStringLiteral("%1.%2.%3.%4").arg(n0).arg(n1).arg(n2).arg(n3);
}

// Answers every modal window as it comes up: a box is recorded and closed
// with OK, or Yes/No as m_bAnswerYes says; a New IP dialog goes to onNewIp,
// which must close it.
class CModalWatcher {
public:
    struct Box {
        QString strText, strCaption;
        QMessageBox::Icon icon;
        bool bQuestion;
        qint64 nAtMs;
    };

    CModalWatcher()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(5);
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const Box& box : m_boxes)
            texts << box.strText;
        return texts;
    }
    bool WaitBoxes(std::size_t n, int nTimeoutMs = 5000)
    {
        return WaitFor([&] { return m_boxes.size() >= n; }, nTimeoutMs);
    }

    std::vector<Box> m_boxes;
    bool m_bAnswerYes = true;
    int m_nNewIpDialogs = 0;
    std::function<void(CNewIpDlg&)> onNewIp;
    QElapsedTimer m_clock;

private:
    void Poll()
    {
        // onNewIp may spin the event loop; one window at a time.
        if (m_bBusy)
            return;
        const QScopedValueRollback busy(m_bBusy, true);
        QWidget* pModal = QApplication::activeModalWidget();
        if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
            const bool bQuestion = pBox->button(QMessageBox::Yes) != nullptr;
            m_boxes.push_back({pBox->text(), pBox->windowTitle(), pBox->icon(), bQuestion, m_clock.elapsed()});
            pBox->button(!bQuestion ? QMessageBox::Ok : m_bAnswerYes ? QMessageBox::Yes : QMessageBox::No)->click();
        } else if (auto* pDlg = qobject_cast<CNewIpDlg*>(pModal)) {
            ++m_nNewIpDialogs;
            if (onNewIp)
                onNewIp(*pDlg);
            if (pDlg->isVisible()) {
                ADD_FAILURE() << "the New IP dialog was left open";
                pDlg->reject();
            }
        }
    }

    QTimer m_timer;
    bool m_bBusy = false;
};

class E2E : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every box, questions too, is an exclamation box named after the program.
        for (const auto& box : m_watcher.m_boxes) {
            EXPECT_EQ(box.strCaption, QStringLiteral("tst_e2e")) << box.strText.toStdString();
            EXPECT_EQ(box.icon, QMessageBox::Warning) << box.strText.toStdString();
        }
    }

    // Starts the simulator (logging to m_strLog) and the sheet, sends the
    // first discovery and waits for nRows rows.
    void Start(QStringList args, int nRows = 3)
    {
        ASSERT_TRUE(m_sim.Start(args << QStringLiteral("--log") << m_strLog)) << m_sim.Stop().toStdString();
        m_sheet.show();
        m_sheet.OnInitDialog();
        // Refreshes come only from OnTimer(TIMER_REFRESH), so a slow run
        // cannot empty the list under a test.
        Page().KillTimer(TIMER_REFRESH);
        Page().OnTimer(TIMER_FIRST_DISCOVERY);
        ASSERT_TRUE(WaitFor([&] { return List().GetItemCount() == nRows; })) << List().GetItemCount() << " rows";
    }

    CChooseDlg& Page() { return m_sheet.m_pageChoose; }
    CDeviceList& List() { return *m_sheet.m_pageChoose.m_listDevices; }
    int RowOfIp(const char* pszIp)
    {
        for (int nRow = 0; nRow < List().GetItemCount(); ++nRow)
            if (List().GetItemText(nRow, 1) == QLatin1String(pszIp))
                return nRow;
        return -1;
    }
    void ClickRow(int nRow)
    {
        QTableView* pView = List().View();
        const QRect rect = pView->visualRect(pView->model()->index(nRow, 1));
        ASSERT_TRUE(pView->viewport()->rect().contains(rect.center())) << "row " << nRow << " is not visible";
        QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void Click(const char* pszButton)
    {
        auto* pButton = Page().findChild<QPushButton*>(QLatin1String(pszButton));
        ASSERT_NE(pButton, nullptr) << pszButton;
        QTest::mouseClick(pButton, Qt::LeftButton);
    }
    void TypePassword(const QString& strPassword)
    {
        QTest::keyClicks(Page().findChild<QLineEdit*>(QStringLiteral("IDC_PASSWORD")), strPassword);
    }

    CModalWatcher m_watcher;
    QTemporaryDir m_dir;
    const QString m_strLog = m_dir.filePath(QStringLiteral("sim.log"));
    CSimProcess m_sim;
    CSetupSheet m_sheet{QStringLiteral("Norvane Setup")};
};

TEST_F(E2E, AppliancesAreListedInMacOrderWhateverOrderTheyAnswerIn)
{
    // Seed 16 with half the replies dropped: the first discovery hears only
    // the third appliance, the second only the first two.
    QStringList arrivals;
    QObject::connect(List().View()->model(), &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int nFirst, int) { arrivals << List().GetItemText(nFirst, 0); });
    Start({"--count", "3", "--first-ip", "10.200.3.7", "--drop", "0.5", "--seed", "16"}, 1);
    Page().OnTimer(TIMER_FIRST_DISCOVERY);
    ASSERT_TRUE(WaitFor([&] { return List().GetItemCount() == 3; }));

    // The simulator lists its appliances in MAC order.
    static const QRegularExpression re(QStringLiteral("^appliance mac=(\\S+) ip=(\\S+) serial=(\\S+)$"),
                                       QRegularExpression::MultilineOption);
    QStringList expected, rows;
    for (auto it = re.globalMatch(m_sim.Output()); it.hasNext();)
        expected << it.next().capturedTexts().mid(1).join('|');
    for (int nRow = 0; nRow < List().GetItemCount(); ++nRow)
        rows << List().GetItemText(nRow, 0) + '|' + List().GetItemText(nRow, 1) + '|' + List().GetItemText(nRow, 2);
    EXPECT_EQ(rows, expected);
    ASSERT_EQ(arrivals.size(), 3);
    EXPECT_EQ(arrivals.first(), expected.value(2).section('|', 0, 0)) << "the arrival order was the MAC order";
    EXPECT_TRUE(m_watcher.m_boxes.empty());
}

// Runs only on the xcb platform under tests/window/e2e/with-xvfb.sh, whose
// $BROWSER appends each URL it is handed to $NORVANE_URL_LOG.
TEST_F(E2E, StartConfigurationOpensTheLoginPageInTheBrowser)
{
    const QString strUrlLog = qEnvironmentVariable("NORVANE_URL_LOG");
    if (QGuiApplication::platformName() != QLatin1String("xcb") || strUrlLog.isEmpty())
        GTEST_SKIP() << "needs the xcb platform and a recording browser (tests/window/e2e/with-xvfb.sh)";

    // Ten characters, the whole password field; the user name fills nine of ten.
    const QString strPassword = QStringLiteral("a&b #%+/=?");
    Start({"--count", "3", "--password", strPassword, "--user", "op er&#1%", "--web-port", "8080"});
    TypePassword(strPassword);
    ClickRow(RowOfIp("10.200.1.2"));
    Click("IDC_START_CONFIG");
    ASSERT_TRUE(WaitFor([&] { return ReadText(strUrlLog).endsWith('\n'); })) << "the browser was not started";
    EXPECT_EQ(ReadText(strUrlLog), "http://10.200.1.2:8080/cgi-bin/qx_login-act.cgi?USER_NAME=op%20er%26%231%25"
                                   "&USER_PASSWD=a%26b%20%23%25%2B%2F%3D%3F\n");
    EXPECT_TRUE(m_sheet.m_bConfigStarted);
    EXPECT_TRUE(m_watcher.m_boxes.empty()) << m_watcher.Texts().join(QLatin1String(" | ")).toStdString();
}

TEST_F(E2E, ChangeIpMovesTheApplianceAndTheRefreshShowsItThere)
{
    Start({"--count", "3", "--password", "pw"});
    TypePassword(QStringLiteral("pw"));
    const int nRow = RowOfIp("10.200.1.3");
    ASSERT_GE(nRow, 0);
    const QString strMac = List().GetItemText(nRow, 0);
    ClickRow(nRow);

    QString strPreset;
    m_watcher.onNewIp = [&](CNewIpDlg& dlg) {
        strPreset = Address(*dlg.m_ipNew);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
        dlg.m_ipNew->ClearAddress();
        dlg.m_ipNew->Field(0)->setFocus();
        TypeKeys("10.200.5.5");
        QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("IDOK")), Qt::LeftButton);
    };
    Click("IDC_CHANGE_IP");
    EXPECT_EQ(m_watcher.m_nNewIpDialogs, 1);
    EXPECT_EQ(strPreset, "10.200.1.3");
    ASSERT_TRUE(m_watcher.WaitBoxes(1));
    EXPECT_EQ(m_watcher.Texts(), QStringList{QStringLiteral("IP Address changed - OK")});

    Page().OnTimer(TIMER_REFRESH);
    ASSERT_TRUE(WaitFor([&] { return List().GetItemCount() == 3; }));
    const int nMoved = List().FindItem(strMac);
    ASSERT_GE(nMoved, 0);
    EXPECT_EQ(List().GetItemText(nMoved, 1), QStringLiteral("10.200.5.5"));
    EXPECT_EQ(RowOfIp("10.200.1.3"), -1);
}

TEST_F(E2E, RebootAskedFirstAndSentOnlyOnYes)
{
    Start({"--count", "3"});
    ClickRow(RowOfIp("10.200.1.1"));
    m_watcher.m_bAnswerYes = false;
    Click("IDC_REBOOT");
    ASSERT_EQ(m_watcher.m_boxes.size(), 1u);
    EXPECT_TRUE(m_watcher.m_boxes[0].bQuestion);
    EXPECT_TRUE(m_watcher.m_boxes[0].strText.startsWith(QLatin1String("The selected Norvane will be rebooted.")));
    EXPECT_FALSE(Page().IsTimerRunning(TIMER_REPLY));

    m_watcher.m_bAnswerYes = true;
    Click("IDC_REBOOT");
    ASSERT_TRUE(m_watcher.WaitBoxes(3));
    EXPECT_TRUE(m_watcher.m_boxes[1].bQuestion);
    EXPECT_EQ(m_watcher.Texts()[2], QStringLiteral("Rebooting ... OK."));
    // The No sent nothing: the one reboot request is the Yes.
    EXPECT_EQ(ReadText(m_strLog).count(QStringLiteral("req type=0x13")), 1);
}

// The suite's one real wait: the five-second reply time-out.
TEST_F(E2E, SilentApplianceGivesNoResponseAfterFiveSeconds)
{
    Start({"--count", "3", "--drop", "1.0"}, 0);
    Page().m_ipSelected->SetAddress(10, 200, 1, 2);
    const qint64 nStart = m_watcher.m_clock.elapsed();
    Click("IDC_START_CONFIG");
    ASSERT_TRUE(m_watcher.WaitBoxes(1, 8000));
    EXPECT_EQ(m_watcher.Texts(), QStringList{QStringLiteral("No Response !!!")});
    // Never early: a coarse timer may run out up to 5% before its time.
    EXPECT_GE(m_watcher.m_boxes[0].nAtMs - nStart, 4990);
    EXPECT_LE(m_watcher.m_boxes[0].nAtMs - nStart, 7000);
    // The request did reach the appliance; it just never answered.
    static const QRegularExpression re(QStringLiteral("^req type=0x12 .* to=10\\.200\\.1\\.2 "),
                                       QRegularExpression::MultilineOption);
    EXPECT_TRUE(ReadText(m_strLog).contains(re));
}

} // namespace

int main(int argc, char** argv)
{
    return RunSegmentTests(argc, argv);
}

// The whole utility against norvane-sim: the real sheet and page, the real
// widget seam, real message boxes and the real New IP dialog, answered by a
// watcher the way a user would answer them.
#include "alerts.h"
#include "ipaddressctrl.h"
#include "newipdlg.h"
#include "privatesegment.h"
#include "setupsheet.h"
#include "simprocess.h"
#include "waitfor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <ostream>
#include <vector>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& str, std::ostream* pOut)
{
    *pOut << '"' << str.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* pOut)
{
    *pOut << '"' << bytes.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* pOut)
{
    *pOut << '{' << list.join(QLatin1String(" | ")).toStdString() << '}';
}

namespace {

using Octets = std::array<int, 4>;

Octets Address(const CIPAddressCtrl& ctrl)
{
    quint8 n0 = 0, n1 = 0, n2 = 0, n3 = 0;
    EXPECT_EQ(ctrl.GetAddress(n0, n1, n2, n3), 4);
    return {n0, n1, n2, n3};
}

// Answers every modal window as it comes up: a box is recorded and closed
// with OK, or Yes/No as m_bAnswerYes says; a New IP dialog goes to onNewIp,
// which must close it.
class CModalWatcher {
public:
    struct Box {
        QString strText;
        QString strCaption;
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
    bool WaitBoxes(qsizetype n, int nTimeoutMs = 5000)
    {
        return WaitFor([&] { return qsizetype(m_boxes.size()) >= n; }, nTimeoutMs);
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

// "appliance mac=.. ip=.. serial=.." lines of the simulator as list rows.
std::vector<QStringList> SimRows(const QString& strOutput)
{
    static const QRegularExpression re(QStringLiteral("^appliance mac=(\\S+) ip=(\\S+) serial=(\\S+)$"),
                                       QRegularExpression::MultilineOption);
    std::vector<QStringList> rows;
    for (auto it = re.globalMatch(strOutput); it.hasNext();) {
        const auto match = it.next();
        rows.push_back({match.captured(1), match.captured(2), match.captured(3)});
    }
    return rows;
}

class E2E : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every box the utility showed is an exclamation box named after the program.
        for (const auto& box : m_watcher.m_boxes) {
            EXPECT_EQ(box.strCaption, QStringLiteral("tst_e2e")) << box.strText.toStdString();
            EXPECT_EQ(box.icon, QMessageBox::Warning) << box.strText.toStdString();
        }
    }

    // Starts the simulator and the sheet, sends the first discovery and waits
    // for nRows rows.
    void Start(const QStringList& args, int nRows = 3)
    {
        ASSERT_TRUE(m_sim.Start(args)) << m_sim.Stop().toStdString();
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
    QStringList Row(int nRow)
    {
        return {List().GetItemText(nRow, 0), List().GetItemText(nRow, 1), List().GetItemText(nRow, 2)};
    }

    int RowOfIp(const QString& strIp)
    {
        for (int nRow = 0; nRow < List().GetItemCount(); ++nRow)
            if (List().GetItemText(nRow, 1) == strIp)
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
        auto* pEdit = Page().findChild<QLineEdit*>(QStringLiteral("IDC_PASSWORD"));
        ASSERT_NE(pEdit, nullptr);
        pEdit->clear();
        QTest::keyClicks(pEdit, strPassword);
    }

    CModalWatcher m_watcher;
    CSimProcess m_sim;
    CSetupSheet m_sheet{QStringLiteral("Norvane Setup")};
};

TEST_F(E2E, AppliancesAreListedInMacOrderWhateverOrderTheyAnswerIn)
{
    // Seed 16 with half the replies dropped: the first discovery hears only
    // the third appliance, the second only the first two.
    std::vector<QString> arrivals;
    QObject::connect(List().View()->model(), &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int nFirst, int) { arrivals.push_back(List().GetItemText(nFirst, 0)); });
    Start({"--count", "3", "--first-ip", "10.200.3.7", "--drop", "0.5", "--seed", "16"}, 1);
    Page().OnTimer(TIMER_FIRST_DISCOVERY);
    ASSERT_TRUE(WaitFor([&] { return List().GetItemCount() == 3; }));

    const auto expected = SimRows(m_sim.Output());
    ASSERT_EQ(expected.size(), 3u);
    ASSERT_EQ(arrivals.size(), 3u);
    EXPECT_EQ(arrivals[0], expected[2][0]) << "the arrival order did not differ from the MAC order";
    for (int nRow = 0; nRow < 3; ++nRow)
        EXPECT_EQ(Row(nRow), expected[std::size_t(nRow)]) << "row " << nRow;
    EXPECT_TRUE(m_watcher.m_boxes.empty());
}

TEST_F(E2E, ClickingARowTargetsItsAddress)
{
    Start({"--count", "3"});
    ClickRow(RowOfIp(QStringLiteral("10.200.1.2")));
    EXPECT_EQ(Address(*Page().m_ipSelected), (Octets{10, 200, 1, 2}));
    ClickRow(RowOfIp(QStringLiteral("10.200.1.3")));
    EXPECT_EQ(Address(*Page().m_ipSelected), (Octets{10, 200, 1, 3}));

    // Below the last row: no row, no new target.
    QTableView* pView = List().View();
    const QRect last = pView->visualRect(pView->model()->index(2, 1));
    const QPoint below = last.center() + QPoint(0, 3 * last.height());
    ASSERT_TRUE(pView->viewport()->rect().contains(below));
    QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(Address(*Page().m_ipSelected), (Octets{10, 200, 1, 3}));
}

// Runs only on the xcb platform under tests/e2e/with-xvfb.sh, whose $BROWSER
// appends each URL it is handed to $NORVANE_URL_LOG.
TEST_F(E2E, StartConfigurationOpensTheLoginPageInTheBrowser)
{
    const QString strLog = qEnvironmentVariable("NORVANE_URL_LOG");
    if (QGuiApplication::platformName() != QLatin1String("xcb") || strLog.isEmpty())
        GTEST_SKIP() << "needs the xcb platform and a recording browser (tests/e2e/with-xvfb.sh)";

    // Ten characters, the whole password field; the user name fills nine of ten.
    const QString strPassword = QStringLiteral("a&b #%+/=?");
    Start({"--count", "3", "--password", strPassword, "--user", "op er&#1%", "--web-port", "8080"});
    TypePassword(strPassword);
    ClickRow(RowOfIp(QStringLiteral("10.200.1.2")));
    Click("IDC_START_CONFIG");

    QByteArray urls;
    ASSERT_TRUE(WaitFor([&] {
        QFile file(strLog);
        if (file.open(QIODevice::ReadOnly))
            urls = file.readAll();
        return urls.endsWith('\n');
    })) << "the browser was not started";
    EXPECT_EQ(urls, "http://10.200.1.2:8080/cgi-bin/qx_login-act.cgi?USER_NAME=op%20er%26%231%25"
                    "&USER_PASSWD=a%26b%20%23%25%2B%2F%3D%3F\n");
    EXPECT_TRUE(m_sheet.m_bConfigStarted);
    EXPECT_FALSE(Page().IsTimerRunning(TIMER_REPLY));
    EXPECT_TRUE(m_watcher.m_boxes.empty()) << m_watcher.Texts().join(QLatin1String(" | ")).toStdString();
}

TEST_F(E2E, ChangeIpMovesTheApplianceAndTheRefreshShowsItThere)
{
    Start({"--count", "3", "--password", "pw"});
    TypePassword(QStringLiteral("pw"));
    const int nRow = RowOfIp(QStringLiteral("10.200.1.3"));
    ASSERT_GE(nRow, 0);
    const QString strMac = List().GetItemText(nRow, 0);
    ClickRow(nRow);

    Octets preset{};
    m_watcher.onNewIp = [&](CNewIpDlg& dlg) {
        preset = Address(*dlg.m_ipNew);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
        dlg.m_ipNew->ClearAddress();
        dlg.m_ipNew->Field(0)->setFocus();
        for (const char c : QByteArrayLiteral("10.200.5.5"))
            QTest::keyClick(QApplication::focusWidget(), c);
        QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("IDOK")), Qt::LeftButton);
    };
    Click("IDC_CHANGE_IP");
    EXPECT_EQ(m_watcher.m_nNewIpDialogs, 1);
    EXPECT_EQ(preset, (Octets{10, 200, 1, 3}));
    ASSERT_TRUE(m_watcher.WaitBoxes(1));
    EXPECT_EQ(m_watcher.Texts(), QStringList{QStringLiteral("IP Address changed - OK")});
    EXPECT_FALSE(Page().IsTimerRunning(TIMER_SETIP_REPLY));
    EXPECT_EQ(Address(*Page().m_ipSelected), (Octets{10, 200, 1, 3}));

    Page().OnTimer(TIMER_REFRESH);
    ASSERT_TRUE(WaitFor([&] { return List().GetItemCount() == 3; }));
    const int nMoved = List().FindItem(strMac);
    ASSERT_GE(nMoved, 0);
    EXPECT_EQ(List().GetItemText(nMoved, 1), QStringLiteral("10.200.5.5"));
    EXPECT_EQ(RowOfIp(QStringLiteral("10.200.1.3")), -1);
}

TEST_F(E2E, RebootAskedFirstAndSentOnlyOnYes)
{
    QTemporaryDir dir;
    const QString strLog = dir.filePath(QStringLiteral("sim.log"));
    Start({"--count", "3", "--log", strLog});
    ClickRow(RowOfIp(QStringLiteral("10.200.1.1")));

    m_watcher.m_bAnswerYes = false;
    Click("IDC_REBOOT");
    ASSERT_EQ(m_watcher.m_boxes.size(), 1u);
    EXPECT_TRUE(m_watcher.m_boxes[0].bQuestion);
    EXPECT_TRUE(m_watcher.m_boxes[0].strText.startsWith(QLatin1String("The selected Norvane will be rebooted.")));
    EXPECT_FALSE(Page().IsTimerRunning(TIMER_REPLY));

    m_watcher.m_bAnswerYes = true;
    Click("IDC_REBOOT");
    ASSERT_TRUE(m_watcher.WaitBoxes(3));
    EXPECT_EQ(m_watcher.Texts()[2], QStringLiteral("Rebooting ... OK."));
    EXPECT_TRUE(m_watcher.m_boxes[1].bQuestion);
    EXPECT_FALSE(Page().IsTimerRunning(TIMER_REPLY));

    // The No sent nothing: the one reboot request is the Yes.
    QFile log(strLog);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(log.readAll()).count(QStringLiteral("req type=0x13")), 1);
}

TEST_F(E2E, WrongPasswordIsReported)
{
    Start({"--count", "3", "--password", "right"});
    TypePassword(QStringLiteral("wrong"));
    ClickRow(RowOfIp(QStringLiteral("10.200.1.2")));
    Click("IDC_START_CONFIG");
    // Past the reply time-out, so a lost reply shows up as what it is.
    ASSERT_TRUE(m_watcher.WaitBoxes(1, 6000));
    EXPECT_EQ(m_watcher.Texts(), QStringList{QStringLiteral("Invalid Password !!!")});
    EXPECT_FALSE(Page().IsTimerRunning(TIMER_REPLY));
    EXPECT_FALSE(m_sheet.m_bConfigStarted);
}

// The suite's one real wait: the five-second reply time-out.
TEST_F(E2E, SilentApplianceGivesNoResponseAfterFiveSeconds)
{
    QTemporaryDir dir;
    const QString strLog = dir.filePath(QStringLiteral("sim.log"));
    Start({"--count", "3", "--drop", "1.0", "--log", strLog}, 0);
    Page().m_ipSelected->SetAddress(10, 200, 1, 2);

    const qint64 nStart = m_watcher.m_clock.elapsed();
    Click("IDC_START_CONFIG");
    ASSERT_TRUE(m_watcher.WaitBoxes(1, 8000));
    EXPECT_EQ(m_watcher.Texts(), QStringList{QStringLiteral("No Response !!!")});
    const qint64 nAfterMs = m_watcher.m_boxes[0].nAtMs - nStart;
    EXPECT_GE(nAfterMs, 4500);
    EXPECT_LE(nAfterMs, 7000);

    // The request did reach the appliance; it just never answered.
    QFile log(strLog);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromLatin1(log.readAll())
                    .contains(QRegularExpression(QStringLiteral("^req type=0x12 .* to=10\\.200\\.1\\.2 "),
                                                 QRegularExpression::MultilineOption)));
}

} // namespace

int main(int argc, char** argv)
{
    RequirePrivateSegmentOrExit();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

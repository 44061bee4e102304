// Save and Load of configuration images, and the appliance's error replies:
// the chooser page against norvane-sim, whose --dump-dir shows what each
// appliance holds, plus the image replies and file faults that are easier to
// feed in directly.
#include "pagetest.h"
#include "simprocess.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <sys/file.h>
#include <sys/resource.h>

namespace {

const QString kFilters = QStringLiteral("Lumisk Configuration Files (*.cfg);All Files (*.*)");
const QString kSaveDialog = QStringLiteral("save|") + kFilters + QStringLiteral("|cfg");
const QString kOpenDialog = QStringLiteral("open|") + kFilters + QStringLiteral("|cfg");
const QString kConfirmLoad = QStringLiteral(
    "ask After replacing the configuration information, The Norvane will be rebooted. Are you sure?");
const QString kFileOpenError = QStringLiteral("File Open Error");

// The image the simulator gives appliance i until something is loaded into it.
QByteArray FormulaImage(int i)
{
    QByteArray image(FLASHINFO_SIZE, '\0');
    quint32 x = quint32(i + 1) * 0x9E3779B9u;
    for (char& byte : image) {
        x = x * 1664525u + 1013904223u;
        byte = char(x >> 24);
    }
    return image;
}

// Another program's hold on a file.
struct CForeignLock {
    explicit CForeignLock(const QString& strPath) : m_file(strPath)
    {
        m_bLocked = m_file.open(QIODevice::ReadWrite) && ::flock(m_file.handle(), LOCK_EX) == 0;
    }
    QFile m_file;
    bool m_bLocked;
};

class FlashInfoTest : public PageTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("files")));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("dump")));
        PageTest::SetUp();
        // Only the command under test talks; discoveries are sent as markers.
        m_page.KillTimer(TIMER_FIRST_DISCOVERY);
        m_page.KillTimer(TIMER_REFRESH);
        m_page.m_ipSelected->SetAddress(10, 200, 1, 2); // appliance 1; its neighbours must never change
    }

    void StartSim(QStringList args = {})
    {
        args << QStringLiteral("--dump-dir") << m_dir.filePath(QStringLiteral("dump")) << QStringLiteral("--log")
             << m_dir.filePath(QStringLiteral("sim.log"));
        ASSERT_TRUE(m_sim.Start(args)) << m_sim.Stop().toStdString();
    }

    QString FilePath(const char* pszName) const { return m_dir.filePath(QLatin1String("files/") + pszName); }
    QStringList Files() const { return QDir(m_dir.filePath(QStringLiteral("files"))).entryList(QDir::Files); }
    QByteArray Held(const char* pszIp = "10.200.1.2") const
    {
        return ReadFile(m_dir.filePath(QStringLiteral("dump/%1.img").arg(QLatin1String(pszIp))));
    }

    // Requests the simulator received, as "type to length", discoveries left
    // out. A discovery goes out first as a marker: once the simulator logged
    // it, everything the page sent before it is in the log too.
    QStringList Requests()
    {
        m_page.m_socket.Send(DeviceRequest{});
        ++m_nMarkers;
        static const QRegularExpression re(QStringLiteral("^req type=(\\S+) from=\\S+ to=(\\S+) len=(\\d+)$"),
                                           QRegularExpression::MultilineOption);
        QStringList requests;
        EXPECT_TRUE(WaitFor([&] {
            requests.clear();
            int nMarkers = 0;
            const QString strLog = QString::fromLatin1(ReadFile(m_dir.filePath(QStringLiteral("sim.log"))));
            for (auto it = re.globalMatch(strLog); it.hasNext();) {
                const auto match = it.next();
                if (match.captured(1) == QLatin1String("0x10"))
                    ++nMarkers;
                else
                    requests << match.captured(1) + ' ' + match.captured(2) + ' ' + match.captured(3);
            }
            return nMarkers == m_nMarkers;
        })) << "the simulator never logged the marker";
        return requests;
    }

    QTemporaryDir m_dir;
    CSimProcess m_sim;
    int m_nMarkers = 0;
};

TEST_F(FlashInfoTest, SaveWritesTheTargetsImageByteForByte)
{
    ASSERT_NO_FATAL_FAILURE(StartSim({"--password", "pw"}));
    Password()->setText("pw");
    ASSERT_TRUE(Held() == FormulaImage(1)) << "the simulator and this test disagree on the image";
    // The second time a longer file is in the way: it is replaced without a question.
    WriteFile(FilePath("old.cfg"), QByteArray(20000, 'o'));
    for (const char* pszName : {"a.cfg", "old.cfg"}) {
        SCOPED_TRACE(pszName);
        m_ui.Clear();
        m_ui.m_fileAnswers << FilePath(pszName);
        Click("IDC_SAVE_FLASHINFO");
        EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.2");
        ASSERT_TRUE(WaitFor([&] { return !m_ui.m_events.isEmpty(); }));
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_EQ(m_ui.m_events, QStringList{kSaveDialog}) << "a successful save says nothing";
        EXPECT_TRUE(ReadFile(FilePath(pszName)) == FormulaImage(1));
    }
    EXPECT_EQ(Files(), (QStringList{"a.cfg", "old.cfg"}));
    EXPECT_EQ(Requests(), (QStringList{"0x14 10.200.1.2 12", "0x14 10.200.1.2 12"}));
}

TEST_F(FlashInfoTest, LoadSendsTheFilesFirst8192BytesAndTheApplianceTakesThem)
{
    ASSERT_NO_FATAL_FAILURE(StartSim({"--password", "pw"}));
    Password()->setText("pw");
    WriteFile(FilePath("exact.cfg"), FormulaImage(7));
    WriteFile(FilePath("long.cfg"), FormulaImage(8) + QByteArray(100, 'z'));
    for (const auto& [pszName, expected] :
         {std::pair{"exact.cfg", FormulaImage(7)}, std::pair{"long.cfg", FormulaImage(8)}}) {
        SCOPED_TRACE(pszName);
        m_ui.Clear();
        m_ui.m_fileAnswers << FilePath(pszName);
        Click("IDC_LOAD_FLASHINFO");
        EXPECT_EQ(m_ui.m_events, (QStringList{kConfirmLoad, kOpenDialog}));
        EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.2");
        ASSERT_TRUE(WaitFor([&] { return !m_ui.m_messages.isEmpty(); }));
        EXPECT_EQ(m_ui.m_messages, QStringList{"Load FlashInfo ... OK."});
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_TRUE(Held() == expected);
    }
    EXPECT_EQ(Requests(), (QStringList{"0x15 10.200.1.2 8204", "0x15 10.200.1.2 8204"}));
    EXPECT_TRUE(Held("10.200.1.1") == FormulaImage(0));
    EXPECT_TRUE(Held("10.200.1.3") == FormulaImage(2));
}

// The address is checked before the question, the question before the file
// dialog, and no file that is short, empty, missing or held elsewhere is sent.
TEST_F(FlashInfoTest, RefusedLoadsAskOnlyWhatTheyMustAndSendNothing)
{
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteFile(FilePath("short.cfg"), FormulaImage(7).left(FLASHINFO_SIZE - 1));
    WriteFile(FilePath("empty.cfg"), {});
    WriteFile(FilePath("locked.cfg"), FormulaImage(7));
    CForeignLock lock(FilePath("locked.cfg"));
    ASSERT_TRUE(lock.m_bLocked);
    m_page.m_strSelectedIp = QStringLiteral("10.200.1.3");
    const struct {
        const char* pszField;
        bool bYes;
        const char* pszFile; // nullptr: the open dialog is cancelled
        QStringList events;
    } cases[] = {
        {"10.200.1.", true, "never.cfg", {"Invalid IP Address"}},
        {"0.0.0.0", true, "never.cfg", {"Bad IP Address"}},
        {"10.200.255.255", true, "never.cfg", {"Bad IP Address"}}, // the segment's broadcast
        {"10.200.1.2", false, "never.cfg", {kConfirmLoad}},
        {"10.200.1.2", true, nullptr, {kConfirmLoad, kOpenDialog}},
        {"10.200.1.2", true, "short.cfg", {kConfirmLoad, kOpenDialog, kFileOpenError}},
        {"10.200.1.2", true, "empty.cfg", {kConfirmLoad, kOpenDialog, kFileOpenError}},
        {"10.200.1.2", true, "missing.cfg", {kConfirmLoad, kOpenDialog, kFileOpenError}},
        {"10.200.1.2", true, "locked.cfg", {kConfirmLoad, kOpenDialog, kFileOpenError}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszFile ? c.pszFile : c.pszField);
        m_ui.Clear();
        m_ui.m_bAnswerYes = c.bYes;
        if (c.pszFile)
            m_ui.m_fileAnswers << FilePath(c.pszFile);
        SetField(QString::fromLatin1(c.pszField));
        Click("IDC_LOAD_FLASHINFO");
        EXPECT_EQ(m_ui.m_events, c.events);
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_EQ(m_page.m_strSelectedIp, "10.200.1.3");
    }
    EXPECT_TRUE(Requests().isEmpty());
    EXPECT_TRUE(Held() == FormulaImage(1));
}

// The appliance leaves the image out of an error reply; so it does for the login.
TEST_F(FlashInfoTest, HeaderOnlyWrongPasswordReplyIsReported)
{
    ASSERT_NO_FATAL_FAILURE(StartSim({"--password", "right"}));
    Password()->setText("wrong");
    for (const char* pszButton : {"IDC_SAVE_FLASHINFO", "IDC_START_CONFIG"}) {
        SCOPED_TRACE(pszButton);
        m_ui.Clear();
        m_ui.m_fileAnswers << FilePath("a.cfg");
        Click(pszButton);
        ASSERT_TRUE(WaitFor([&] { return !m_ui.m_events.isEmpty(); }));
        EXPECT_EQ(m_ui.m_events, QStringList{"Invalid Password !!!"});
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    }
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_FALSE(m_sheet.m_bConfigStarted);
    EXPECT_TRUE(m_ui.m_urls.empty());
}

TEST_F(FlashInfoTest, SaveOntoALockedFileLeavesItUntouched)
{
    WriteFile(FilePath("locked.cfg"), QByteArray(100, 'o'));
    CForeignLock lock(FilePath("locked.cfg"));
    ASSERT_TRUE(lock.m_bLocked);
    m_ui.m_fileAnswers << FilePath("locked.cfg");
    Feed(ImageReply(FormulaImage(1)));
    EXPECT_EQ(m_ui.m_events, (QStringList{kSaveDialog, kFileOpenError}));
    EXPECT_EQ(ReadFile(FilePath("locked.cfg")), QByteArray(100, 'o'));
    EXPECT_EQ(Files(), QStringList{"locked.cfg"});
}

TEST_F(FlashInfoTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    WriteFile(FilePath("old.cfg"), QByteArray(100, 'o'));
    m_ui.m_fileAnswers << FilePath("old.cfg");
    {
        // Writes past 4 KiB fail with EFBIG instead of raising SIGXFSZ.
        const auto pfnOldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        Feed(ImageReply(FormulaImage(1)));
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, pfnOldSignal);
    }
    EXPECT_EQ(ReadFile(FilePath("old.cfg")), QByteArray(100, 'o')) << "a cut-short image replaced the old file";
    ASSERT_EQ(m_ui.m_messages.size(), 1) << "a failed save must say so";
    EXPECT_TRUE(m_ui.m_messages[0].contains(FilePath("old.cfg"))) << m_ui.m_messages[0].toStdString();
    EXPECT_EQ(Files(), QStringList{"old.cfg"});

    // The same save goes through once the disk takes it.
    m_ui.Clear();
    m_ui.m_fileAnswers << FilePath("old.cfg");
    Feed(ImageReply(FormulaImage(1)));
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
    EXPECT_TRUE(ReadFile(FilePath("old.cfg")) == FormulaImage(1));
}

TEST_F(FlashInfoTest, UnaskedImageAndLateAckAreStillActedOn)
{
    // An image nobody asked for is saved all the same.
    m_ui.m_fileAnswers << FilePath("unasked.cfg");
    Feed(ImageReply(FormulaImage(5)));
    EXPECT_EQ(m_ui.m_events, QStringList{kSaveDialog});
    EXPECT_TRUE(ReadFile(FilePath("unasked.cfg")) == FormulaImage(5));

    // The time-out fires before the load's ack is handled; the ack still counts.
    ASSERT_NO_FATAL_FAILURE(StartSim());
    m_ui.Clear();
    m_ui.m_fileAnswers << FilePath("unasked.cfg");
    Click("IDC_LOAD_FLASHINFO");
    m_page.OnTimer(TIMER_REPLY);
    EXPECT_EQ(m_ui.m_messages, QStringList{"No Response !!!"});
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    ASSERT_TRUE(WaitFor([&] { return m_ui.m_messages.size() == 2; }));
    EXPECT_EQ(m_ui.m_messages[1], "Load FlashInfo ... OK.");
    EXPECT_TRUE(Held() == FormulaImage(5));
}

TEST_F(FlashInfoTest, CutShortImageReplyIsNeverSaved)
{
    const QByteArray full = ImageReply(FormulaImage(1));
    m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
    for (const int nLength : {DEVMSG_MAX_SIZE - 1, DEVMSG_HEADER_SIZE + 1, DEVMSG_HEADER_SIZE, 1}) {
        SCOPED_TRACE(nLength);
        m_ui.m_fileAnswers = QStringList{FilePath("cut.cfg")};
        Feed(full.left(nLength));
        EXPECT_TRUE(m_ui.m_events.isEmpty());
        EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REPLY)) << "a dropped reply is no answer";
    }
    EXPECT_TRUE(Files().isEmpty());
    m_page.KillTimer(TIMER_REPLY);
}

} // namespace

int main(int argc, char** argv)
{
    return RunSegmentTests(argc, argv);
}

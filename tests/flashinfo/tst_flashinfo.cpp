// Save and Load of configuration images: the chooser page against
// norvane-sim, whose --dump-dir shows what each appliance holds, plus the
// image replies and file faults that are easier to feed in directly.
#include "choosedlg.h"
#include "devicemsg.h"
#include "ipaddressctrl.h"
#include "privatesegment.h"
#include "recorder.h"
#include "setupsheet.h"
#include "simprocess.h"
#include "waitfor.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kFilters = QStringLiteral("Lumisk Configuration Files (*.cfg);All Files (*.*)");
const QString kSaveDialog = QStringLiteral("save|") + kFilters + QStringLiteral("|cfg");
const QString kOpenDialog = QStringLiteral("open|") + kFilters + QStringLiteral("|cfg");
const QString kConfirmLoad =
    QStringLiteral("After replacing the configuration information, The Norvane will be rebooted. Are you sure?");
const QString kLoadDone = QStringLiteral("Load FlashInfo ... OK.");
const QString kFileOpenError = QStringLiteral("File Open Error");

// Appliance 1 of the simulator; its neighbours must never be touched.
constexpr quint32 kTarget = 0x0AC80102; // 10.200.1.2
const QString kTargetText = QStringLiteral("10.200.1.2");

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

QByteArray ImageReply(const QByteArray& image)
{
    QByteArray reply(DEVMSG_HEADER_SIZE, '\0');
    reply[0] = char(DM_FLASHINFO);
    return reply + image;
}

// Byte-exact comparison that names the first difference instead of dumping 8 KiB.
::testing::AssertionResult SameBytes(const QByteArray& actual, const QByteArray& expected)
{
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
    for (qsizetype i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i])
            return ::testing::AssertionFailure() << "first difference at byte " << i;
    return ::testing::AssertionSuccess();
}

QByteArray ReadFile(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& strPath, const QByteArray& bytes)
{
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << strPath.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Another program's hold on a file: an exclusive flock on its own descriptor.
class CForeignLock {
public:
    explicit CForeignLock(const QString& strPath) : m_fd(::open(QFile::encodeName(strPath).constData(), O_RDWR))
    {
        m_bLocked = m_fd >= 0 && ::flock(m_fd, LOCK_EX) == 0;
    }
    ~CForeignLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CForeignLock(const CForeignLock&) = delete;
    CForeignLock& operator=(const CForeignLock&) = delete;
    bool m_bLocked = false;

private:
    int m_fd;
};

// Makes every write past nBytes fail with EFBIG (instead of killing us with
// SIGXFSZ) while it lives.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t nBytes)
    {
        m_pfnOldSignal = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = nBytes;
        m_bSet = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~CFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_pfnOldSignal);
    }
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;
    bool m_bSet = false;

private:
    rlimit m_old{};
    void (*m_pfnOldSignal)(int) = nullptr;
};

// The recorder, plus one list of every box, question and file dialog in the
// order they came up.
class COrderedUi : public CRecorderUi {
public:
    void MessageBox(const QString& strText) override
    {
        m_events << QStringLiteral("box ") + strText;
        CRecorderUi::MessageBox(strText);
    }
    bool AskYesNo(const QString& strText) override
    {
        m_events << QStringLiteral("ask ") + strText;
        return CRecorderUi::AskYesNo(strText);
    }
    QString GetFileName(bool bSave, const QStringList& filters, const QString& strDefaultSuffix) override
    {
        const QString strPath = CRecorderUi::GetFileName(bSave, filters, strDefaultSuffix);
        m_events << m_fileDialogs.last();
        return strPath;
    }
    void Clear()
    {
        m_events.clear();
        m_messages.clear();
        m_questions.clear();
        m_fileDialogs.clear();
        m_fileAnswers.clear();
    }
    QStringList m_events;
};

class FlashInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("files")));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("dump")));
        m_sheet.OnInitDialog();
        ASSERT_TRUE(m_page.m_socket.IsOpen());
        // Only the command under test talks; discoveries are sent as markers.
        m_page.KillTimer(TIMER_FIRST_DISCOVERY);
        m_page.KillTimer(TIMER_REFRESH);
        m_page.m_ipSelected->SetAddress(kTarget);
        ASSERT_TRUE(m_ui.m_events.isEmpty());
    }

    void StartSim(QStringList args = {})
    {
        args << QStringLiteral("--dump-dir") << m_dir.filePath(QStringLiteral("dump")) << QStringLiteral("--log")
             << m_dir.filePath(QStringLiteral("sim.log"));
        ASSERT_TRUE(m_sim.Start(args)) << m_sim.Stop().toStdString();
    }

    QString FilePath(const char* pszName) const
    {
        return m_dir.filePath(QStringLiteral("files/") + QLatin1String(pszName));
    }
    QStringList Files() const { return QDir(m_dir.filePath(QStringLiteral("files"))).entryList(QDir::Files); }
    QByteArray TargetImage(const char* pszIp = "10.200.1.2") const
    {
        return ReadFile(m_dir.filePath(QStringLiteral("dump/%1.img").arg(QLatin1String(pszIp))));
    }

    // Requests the simulator received, as "type to length", discoveries left
    // out. A discovery goes out first as a marker: once the simulator logged
    // it, everything the page sent before it is in the log too.
    QStringList Requests()
    {
        m_page.m_socket.SendDiscover();
        ++m_nMarkers;
        static const QRegularExpression re(QStringLiteral("^req type=(\\S+) from=\\S+ to=(\\S+) len=(\\d+)$"),
                                           QRegularExpression::MultilineOption);
        QStringList requests;
        const bool bMarked = WaitFor([&] {
            requests.clear();
            int nMarkers = 0;
            for (auto it = re.globalMatch(QString::fromLatin1(ReadFile(m_dir.filePath(QStringLiteral("sim.log")))));
                 it.hasNext();) {
                const auto match = it.next();
                if (match.captured(1) == QLatin1String("0x10"))
                    ++nMarkers;
                else
                    requests << match.captured(1) + ' ' + match.captured(2) + ' ' + match.captured(3);
            }
            return nMarkers == m_nMarkers;
        });
        EXPECT_TRUE(bMarked) << "the simulator never logged the marker";
        return requests;
    }

    void Click(const char* pszButton)
    {
        auto* pButton = m_page.findChild<QPushButton*>(QLatin1String(pszButton));
        ASSERT_NE(pButton, nullptr) << pszButton;
        pButton->click();
    }
    void SetField(const QString& strText)
    {
        const QStringList fields = strText.split('.');
        for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
            m_page.m_ipSelected->Field(i)->setText(fields.value(i));
    }
    void TypePassword(const QString& strPassword)
    {
        m_page.findChild<QLineEdit*>(QStringLiteral("IDC_PASSWORD"))->setText(strPassword);
    }
    void Feed(const QByteArray& bytes)
    {
        m_page.m_socket.HandleDatagram(reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size(),
                                       DEVICE_PORT);
    }

    COrderedUi m_ui;
    QTemporaryDir m_dir;
    CSimProcess m_sim;
    CSetupSheet m_sheet{QStringLiteral("x")};
    CChooseDlg& m_page = m_sheet.m_pageChoose;
    int m_nMarkers = 0;
};

TEST_F(FlashInfoTest, SaveWritesTheTargetsImageByteForByte)
{
    ASSERT_NO_FATAL_FAILURE(StartSim({"--password", "pw"}));
    TypePassword(QStringLiteral("pw"));
    ASSERT_TRUE(SameBytes(TargetImage(), FormulaImage(1))) << "the simulator and this test disagree on the image";

    m_ui.m_fileAnswers << FilePath("a.cfg");
    Click("IDC_SAVE_FLASHINFO");
    EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_EQ(m_page.m_strSelectedIp, kTargetText);
    ASSERT_TRUE(WaitFor([&] { return !m_ui.m_fileDialogs.isEmpty(); }));
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_EQ(m_ui.m_events, QStringList{kSaveDialog}) << "a successful save says nothing";
    EXPECT_TRUE(SameBytes(ReadFile(FilePath("a.cfg")), FormulaImage(1)));

    // A longer file in the way is replaced without a question.
    WriteFile(FilePath("old.cfg"), QByteArray(20000, 'o'));
    m_ui.Clear();
    m_ui.m_fileAnswers << FilePath("old.cfg");
    Click("IDC_SAVE_FLASHINFO");
    ASSERT_TRUE(WaitFor([&] { return !m_ui.m_fileDialogs.isEmpty(); }));
    EXPECT_EQ(m_ui.m_events, QStringList{kSaveDialog});
    EXPECT_TRUE(SameBytes(ReadFile(FilePath("old.cfg")), FormulaImage(1)));

    EXPECT_EQ(Files(), (QStringList{"a.cfg", "old.cfg"}));
    const QString strGet = QStringLiteral("0x14 10.200.1.2 12");
    EXPECT_EQ(Requests(), (QStringList{strGet, strGet}));
}

TEST_F(FlashInfoTest, BadAddressIsReportedBeforeAnythingIsAskedOrSent)
{
    ASSERT_NO_FATAL_FAILURE(StartSim());
    m_page.m_strSelectedIp = QStringLiteral("10.200.1.3");
    for (const char* pszButton : {"IDC_LOAD_FLASHINFO", "IDC_SAVE_FLASHINFO"}) {
        for (const auto& [pszField, pszAlert] :
             {std::pair{"10.200.1.", "Invalid IP Address"}, std::pair{"0.0.0.0", "Bad IP Address"}}) {
            SCOPED_TRACE(std::string(pszButton) + ' ' + pszField);
            m_ui.Clear();
            m_ui.m_fileAnswers << FilePath("never.cfg");
            SetField(QString::fromLatin1(pszField));
            Click(pszButton);
            EXPECT_EQ(m_ui.m_events, QStringList{QStringLiteral("box ") + QLatin1String(pszAlert)});
            EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
            EXPECT_EQ(m_page.m_strSelectedIp, QStringLiteral("10.200.1.3"));
        }
    }
    EXPECT_TRUE(Requests().isEmpty());
}

TEST_F(FlashInfoTest, LoadAnsweredNoOrCancelledSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteFile(FilePath("new.cfg"), FormulaImage(7));
    m_page.m_strSelectedIp = QStringLiteral("10.200.1.3");

    m_ui.m_bAnswerYes = false;
    m_ui.m_fileAnswers << FilePath("new.cfg");
    Click("IDC_LOAD_FLASHINFO");
    EXPECT_EQ(m_ui.m_events, QStringList{QStringLiteral("ask ") + kConfirmLoad}) << "No opens no file dialog";

    m_ui.Clear();
    m_ui.m_bAnswerYes = true;
    Click("IDC_LOAD_FLASHINFO"); // the open dialog is cancelled
    EXPECT_EQ(m_ui.m_events, (QStringList{QStringLiteral("ask ") + kConfirmLoad, kOpenDialog}));

    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_EQ(m_page.m_strSelectedIp, QStringLiteral("10.200.1.3"));
    EXPECT_TRUE(Requests().isEmpty());
    EXPECT_TRUE(SameBytes(TargetImage(), FormulaImage(1)));
}

TEST_F(FlashInfoTest, LoadSendsTheFilesFirst8192BytesAndTheApplianceTakesThem)
{
    ASSERT_NO_FATAL_FAILURE(StartSim({"--password", "pw"}));
    TypePassword(QStringLiteral("pw"));
    const struct {
        const char* pszName;
        QByteArray contents;
        QByteArray expected;
    } cases[] = {
        {"exact.cfg", FormulaImage(7), FormulaImage(7)},
        {"long.cfg", FormulaImage(8) + QByteArray(100, 'z'), FormulaImage(8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        WriteFile(FilePath(c.pszName), c.contents);
        m_ui.Clear();
        m_ui.m_fileAnswers << FilePath(c.pszName);
        Click("IDC_LOAD_FLASHINFO");
        EXPECT_EQ(m_ui.m_events, (QStringList{QStringLiteral("ask ") + kConfirmLoad, kOpenDialog}));
        EXPECT_TRUE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_EQ(m_page.m_strSelectedIp, kTargetText);
        ASSERT_TRUE(WaitFor([&] { return !m_ui.m_messages.isEmpty(); }));
        EXPECT_EQ(m_ui.m_messages, QStringList{kLoadDone});
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_TRUE(SameBytes(TargetImage(), c.expected));
    }
    const QString strPut = QStringLiteral("0x15 10.200.1.2 8204");
    EXPECT_EQ(Requests(), (QStringList{strPut, strPut}));
    EXPECT_TRUE(SameBytes(TargetImage("10.200.1.1"), FormulaImage(0)));
    EXPECT_TRUE(SameBytes(TargetImage("10.200.1.3"), FormulaImage(2)));
}

TEST_F(FlashInfoTest, UnusableFilesAreRefusedAndNothingIsSent)
{
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteFile(FilePath("short.cfg"), FormulaImage(7).left(FLASHINFO_SIZE - 1));
    WriteFile(FilePath("empty.cfg"), {});
    WriteFile(FilePath("locked.cfg"), FormulaImage(7));
    CForeignLock lock(FilePath("locked.cfg"));
    ASSERT_TRUE(lock.m_bLocked);
    m_page.m_strSelectedIp = QStringLiteral("10.200.1.3");

    for (const char* pszName : {"short.cfg", "empty.cfg", "missing.cfg", "locked.cfg"}) {
        SCOPED_TRACE(pszName);
        m_ui.Clear();
        m_ui.m_fileAnswers << FilePath(pszName);
        Click("IDC_LOAD_FLASHINFO");
        EXPECT_EQ(m_ui.m_messages, QStringList{kFileOpenError});
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
        EXPECT_EQ(m_page.m_strSelectedIp, QStringLiteral("10.200.1.3"));
    }
    EXPECT_TRUE(Requests().isEmpty());
    EXPECT_TRUE(SameBytes(TargetImage(), FormulaImage(1)));
}

TEST_F(FlashInfoTest, SaveOntoALockedFileLeavesItUntouched)
{
    const QByteArray old(100, 'o');
    WriteFile(FilePath("locked.cfg"), old);
    CForeignLock lock(FilePath("locked.cfg"));
    ASSERT_TRUE(lock.m_bLocked);

    m_ui.m_fileAnswers << FilePath("locked.cfg");
    Feed(ImageReply(FormulaImage(1)));
    EXPECT_EQ(m_ui.m_events, (QStringList{kSaveDialog, QStringLiteral("box ") + kFileOpenError}));
    EXPECT_EQ(ReadFile(FilePath("locked.cfg")), old);
    EXPECT_EQ(Files(), QStringList{"locked.cfg"});
}

TEST_F(FlashInfoTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    const QByteArray old(100, 'o');
    WriteFile(FilePath("old.cfg"), old);
    m_ui.m_fileAnswers << FilePath("old.cfg");
    {
        CFileSizeLimit limit(4096);
        ASSERT_TRUE(limit.m_bSet);
        Feed(ImageReply(FormulaImage(1)));
    }
    EXPECT_TRUE(SameBytes(ReadFile(FilePath("old.cfg")), old)) << "a cut-short image replaced the old file";
    ASSERT_EQ(m_ui.m_messages.size(), 1) << "a failed save must say so";
    EXPECT_NE(m_ui.m_messages[0], kFileOpenError);
    EXPECT_TRUE(m_ui.m_messages[0].contains(FilePath("old.cfg"))) << m_ui.m_messages[0].toStdString();
    EXPECT_EQ(Files(), QStringList{"old.cfg"});

    // The same save goes through once the disk takes it.
    m_ui.Clear();
    m_ui.m_fileAnswers << FilePath("old.cfg");
    Feed(ImageReply(FormulaImage(1)));
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
    EXPECT_TRUE(SameBytes(ReadFile(FilePath("old.cfg")), FormulaImage(1)));
}

TEST_F(FlashInfoTest, VersionMismatchOnTheImageReplyIsReportedAndNothingSaved)
{
    ASSERT_NO_FATAL_FAILURE(StartSim({"--status", "getflash=4"}));
    m_ui.m_fileAnswers << FilePath("a.cfg");
    Click("IDC_SAVE_FLASHINFO");
    ASSERT_TRUE(m_page.IsTimerRunning(TIMER_REPLY));
    ASSERT_TRUE(WaitFor([&] { return !m_ui.m_events.isEmpty(); }));
    EXPECT_EQ(m_ui.m_events, QStringList{QStringLiteral("box FlashInfo Version Mismatched Error !!!")});
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_TRUE(Files().isEmpty());
}

// The appliance leaves the image out of an error reply.
TEST_F(FlashInfoTest, HeaderOnlyWrongPasswordReplyToSaveIsReported)
{
    ASSERT_NO_FATAL_FAILURE(StartSim({"--password", "right"}));
    TypePassword(QStringLiteral("wrong"));
    m_ui.m_fileAnswers << FilePath("a.cfg");
    Click("IDC_SAVE_FLASHINFO");
    ASSERT_TRUE(WaitFor([&] { return !m_ui.m_events.isEmpty(); }));
    EXPECT_EQ(m_ui.m_events, QStringList{QStringLiteral("box Invalid Password !!!")});
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(FlashInfoTest, UnaskedImageAndLateAckAreStillActedOn)
{
    // An image nobody asked for is saved all the same.
    const QByteArray image = FormulaImage(5);
    m_ui.m_fileAnswers << FilePath("unasked.cfg");
    Feed(ImageReply(image));
    EXPECT_EQ(m_ui.m_events, QStringList{kSaveDialog});
    EXPECT_TRUE(SameBytes(ReadFile(FilePath("unasked.cfg")), image));

    // The time-out fires before the load's ack is handled; the ack still counts.
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteFile(FilePath("new.cfg"), image);
    m_ui.Clear();
    m_ui.m_fileAnswers << FilePath("new.cfg");
    Click("IDC_LOAD_FLASHINFO");
    m_page.OnTimer(TIMER_REPLY);
    EXPECT_EQ(m_ui.m_messages, QStringList{QStringLiteral("No Response !!!")});
    EXPECT_FALSE(m_page.IsTimerRunning(TIMER_REPLY));
    ASSERT_TRUE(WaitFor([&] { return m_ui.m_messages.size() == 2; }));
    EXPECT_EQ(m_ui.m_messages[1], kLoadDone);
    EXPECT_TRUE(SameBytes(TargetImage(), image));
}

TEST_F(FlashInfoTest, CutShortImageReplyIsNeverSaved)
{
    const QByteArray full = ImageReply(FormulaImage(1));
    m_page.SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
    for (const qsizetype nLength : {qsizetype(DEVMSG_MAX_SIZE - 1), qsizetype(DEVMSG_HEADER_SIZE + 1),
                                    qsizetype(DEVMSG_HEADER_SIZE), qsizetype(1)}) {
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
    RequirePrivateSegmentOrExit();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

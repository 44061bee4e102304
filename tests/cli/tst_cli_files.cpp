// The command line under hostile use: files: images, reports and standard streams, and what is never touched.
#include "clifixture.h"

#include <QJsonArray>
#include <QJsonDocument>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// 00:1A:2B:00:00:07 at kAppliance: it answers discovery, gives Image(5) and takes any image.
QList<QNetworkDatagram> Appliance7(const QNetworkDatagram& request)
{
    switch (request.data().isEmpty() ? -1 : int(request.data()[0])) {
    case DM_DISCOVER:
        return {QNetworkDatagram(DeviceInfo("NV7", "00:1A:2B:00:00:07", "10.200.7.9"))};
    case DM_GET_FLASHINFO:
        return {QNetworkDatagram(ImageReply(Image(5)))};
    case DM_PUT_FLASHINFO:
        return {QNetworkDatagram(Msg(DM_PUT_FLASHINFO_ACK))};
    }
    return {};
}

TEST_F(CliTest, RefusedArgumentsSendNothingAndCreateNothing)
{
    WriteFile(Path("image.cfg"), Image(3));
    WriteFile(Path("short"), Image(3).left(FLASHINFO_SIZE - 1));
    const QString strOut = Path("out");
    const QList<QStringList> cases = {
        {"backup-all", strOut, "--parallel", "0"},
        {"backup-all", strOut, "--retries", "101"},
        {"backup-all", strOut, "--rounds", "0"},
        {"backup-all", strOut, "--report", Path("no-such-dir/r.json")},
        {"backup-all", strOut, "--match", "["},
        {"restore", "10.200.7.9", Path("image.cfg")}, // no --yes, and input is not a terminal
        {"restore", "10.200.7.9", "-"},
        {"restore", "10.200.7.9", "-", "--yes"}, // 8191 bytes on standard input
    };
    m_prepare = [this](QProcess& process) { process.setStandardInputFile(Path("short")); };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = Run(args, Appliance7);
        EXPECT_EQ(run.nExit, 2);
        EXPECT_EQ(run.strErr.count(QLatin1Char('\n')), 1) << run.strErr.toStdString();
        EXPECT_TRUE(m_requests.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(strOut));
    }
}

// A nightly job on the wrong segment, or with a mistyped --match, must not pass for a backup.
TEST_F(CliTest, BackupAllOfNoApplianceFailsWithItsOwnCodeAndStillReports)
{
    const struct {
        const char* pszMatch;
        bool bAnswer;
        int nExit;
        const char* pszSays;
    } cases[] = {{"*", false, 3, "no appliance answered"}, {"*:99", true, 14, "matches *:99"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nExit);
        const CliRun run = Run({"backup-all", Path("out"), "--match", c.pszMatch, "--report", Path("r.json"),
                                "--discover-timeout", "0.3"},
                               c.bAnswer ? Appliance7 : nullptr);
        EXPECT_EQ(run.nExit, c.nExit);
        EXPECT_TRUE(run.strErr.contains(QLatin1String(c.pszSays))) << run.strErr.toStdString();
        EXPECT_EQ(ReadFile(Path("r.json")).simplified(), "[ ]");
        EXPECT_FALSE(QFileInfo::exists(Path("out")));
    }
}

TEST_F(CliTest, DashIsStandardOutputForBackupAndStandardInputForRestore)
{
    m_prepare = [this](QProcess& process) { process.setStandardOutputFile(Path("stdout")); };
    const CliRun backup = Run({"backup", "10.200.7.9", "-"}, Appliance7);
    EXPECT_EQ(backup.nExit, 0) << backup.strErr.toStdString();
    EXPECT_TRUE(ReadFile(Path("stdout")) == Image(5)) << "nothing but the image on standard output";
    EXPECT_FALSE(QFileInfo::exists(Path("-")));

    WriteFile(Path("stdin"), Image(3) + "tail");
    m_prepare = [this](QProcess& process) { process.setStandardInputFile(Path("stdin")); };
    const CliRun restore = Run({"restore", "10.200.7.9", "-", "--yes"}, Appliance7);
    EXPECT_EQ(restore.nExit, 0) << restore.strErr.toStdString();
    ASSERT_EQ(m_requests.size(), 2);
    EXPECT_TRUE(m_requests[1].data() == '\x15' + TextField("abcde", 10) + '\0' + Image(3));
}

#ifdef Q_OS_UNIX
// Type and permissions, of a link itself rather than what it points at.
unsigned Mode(const QString& strPath)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(strPath).constData(), &st) == 0 ? unsigned(st.st_mode) : 0;
}

TEST_F(CliTest, OnlyRegularFilesAreReplacedAndNothingIsSentBeforeTheRefusal)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(Path("nowhere"), Path("dangling")));
    const QList<QStringList> cases = {
        {"backup", "10.200.7.9", Path("fifo")},
        {"backup", "10.200.7.9", Path("dangling")},
        {"backup-all", Path("out"), "--report", Path("fifo")},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = Run(args, Appliance7);
        EXPECT_EQ(run.nExit, 10);
        EXPECT_TRUE(run.strErr.contains(QLatin1String("not a regular file"))) << run.strErr.toStdString();
        EXPECT_TRUE(m_requests.isEmpty());
    }
    // Among backup-all's own files too, planted after the checks could look.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("all")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("all/00-1A-2B-00-00-07.cfg")).constData(), 0600), 0);
    const CliRun run = Run({"backup-all", Path("all"), "--discover-timeout", "0.3"}, Appliance7);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(run.strErr.contains(QLatin1String("not a regular file"))) << run.strErr.toStdString();
    EXPECT_TRUE(S_ISFIFO(Mode(Path("fifo"))));
    EXPECT_TRUE(S_ISFIFO(Mode(Path("all/00-1A-2B-00-00-07.cfg"))));
    EXPECT_TRUE(S_ISLNK(Mode(Path("dangling"))));
    EXPECT_FALSE(QFileInfo::exists(Path("nowhere")));
}

TEST_F(CliTest, NewFilesAreTheOwnersAloneAndAReplacedFileKeepsItsModeAndLink)
{
    m_prepare = [](QProcess& process) { process.setChildProcessModifier([] { ::umask(022); }); };
    WriteFile(Path("kept.cfg"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(Path("kept.cfg")).constData(), 0640), 0);
    WriteFile(Path("real.cfg"), "old");
    ASSERT_TRUE(QFile::link(QStringLiteral("real.cfg"), Path("link.cfg")));
    for (const char* pszName : {"new.cfg", "kept.cfg", "link.cfg"})
        ASSERT_EQ(Run({"backup", "10.200.7.9", Path(pszName)}, Appliance7).nExit, 0) << pszName;
    const CliRun all = Run({"backup-all", Path("new/dir"), "--report", Path("new/r.json"), "--discover-timeout", "0.3"},
                           Appliance7);
    ASSERT_EQ(all.nExit, 0) << all.strErr.toStdString();

    EXPECT_EQ(Mode(Path("new.cfg")), S_IFREG | 0600);
    EXPECT_EQ(Mode(Path("kept.cfg")), S_IFREG | 0640);
    EXPECT_TRUE(S_ISLNK(Mode(Path("link.cfg"))));
    EXPECT_TRUE(ReadFile(Path("real.cfg")) == Image(5));
    EXPECT_EQ(Mode(Path("new")), S_IFDIR | 0700);
    EXPECT_EQ(Mode(Path("new/dir")), S_IFDIR | 0700);
    EXPECT_EQ(Mode(Path("new/dir/00-1A-2B-00-00-07.cfg")), S_IFREG | 0600);
    EXPECT_EQ(Mode(Path("new/r.json")), S_IFREG | 0600);
}

// A full disk, played by a file size limit of 2 bytes.
TEST_F(CliTest, AWriteThatFailsExitsTenAndKeepsTheOldFile)
{
    WriteFile(Path("old.json"), QByteArray(100, 'o'));
    WriteFile(Path("old.cfg"), QByteArray(100, 'o'));
    m_prepare = [this](QProcess& process) {
        process.setStandardOutputFile(Path("stdout"));
        process.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{2, 2};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    };
    const QList<QStringList> cases = {
        {"backup-all", Path("out"), "--match", "none", "--report", Path("old.json"), "--discover-timeout", "0.3"},
        {"backup", "10.200.7.9", Path("old.cfg")},
        {"backup", "10.200.7.9", "-"},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = Run(args, Appliance7);
        EXPECT_EQ(run.nExit, 10) << run.strErr.toStdString();
    }
    EXPECT_EQ(ReadFile(Path("old.json")), QByteArray(100, 'o'));
    EXPECT_EQ(ReadFile(Path("old.cfg")), QByteArray(100, 'o'));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 3) << "a temporary file was left";
}

TEST_F(CliTest, FileErrorsSayWhy)
{
    WriteFile(Path("locked.cfg"), Image(3));
    QFile lock(Path("locked.cfg"));
    ASSERT_TRUE(lock.open(QIODevice::ReadOnly) && ::flock(lock.handle(), LOCK_EX) == 0);
    const struct {
        QStringList args;
        int nExit;
        const char* pszReason;
    } cases[] = {
        {{"restore", "10.200.7.9", Path("missing.cfg"), "--yes"}, 2, "No such file or directory"},
        {{"restore", "10.200.7.9", Path("locked.cfg"), "--yes"}, 2, "locked by another program"},
        {{"backup", "10.200.7.9", Path("locked.cfg")}, 10, "locked by another program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun run = Run(c.args, Appliance7);
        EXPECT_EQ(run.nExit, c.nExit);
        EXPECT_EQ(run.strErr, QStringLiteral("norvane: %1: File Open Error: %2\n").arg(c.args[2], c.pszReason));
    }
    EXPECT_TRUE(ReadFile(Path("locked.cfg")) == Image(3));
}
#endif

} // namespace

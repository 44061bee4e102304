// The file layer of configuration images and reports on its own: what is
// replaced and how, the lock, and what a load accepts.
#include "devicemsg.h"
#include "filelock.h"
#include "flashinfofile.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>

namespace {

QByteArray Image(char cSeed)
{
    QByteArray image(FLASHINFO_SIZE, '\0');
    for (int i = 0; i < FLASHINFO_SIZE; ++i)
        image[i] = char(cSeed + i * 7);
    return image;
}

const unsigned char* Bytes(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

// Type and permissions of the path itself, a link not followed.
unsigned Mode(const QString& strPath)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(strPath).constData(), &st) == 0 ? unsigned(st.st_mode) : 0;
}

class FlashInfoFileTest : public ::testing::Test {
protected:
    QString Path(const char* pszName) const { return m_dir.filePath(QLatin1String(pszName)); }
    QStringList Entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    }

    QTemporaryDir m_dir;
    QString m_strError;
};

TEST_F(FlashInfoFileTest, NewFilesAreTheOwnersAloneAndAReplacedOneKeepsItsMode)
{
    ASSERT_EQ(SaveFlashInfoFile(Path("new.cfg"), Bytes(Image(1)), m_strError), FlashFileResult::Ok)
        << m_strError.toStdString();
    EXPECT_EQ(Mode(Path("new.cfg")), unsigned(S_IFREG | 0600));
    EXPECT_TRUE(ReadFile(Path("new.cfg")) == Image(1));

    // A longer old file leaves no tail behind.
    WriteFile(Path("old.cfg"), QByteArray(3 * FLASHINFO_SIZE, 'o'));
    ASSERT_EQ(::chmod(QFile::encodeName(Path("old.cfg")).constData(), 0640), 0);
    EXPECT_EQ(SaveFlashInfoFile(Path("old.cfg"), Bytes(Image(2)), m_strError), FlashFileResult::Ok);
    EXPECT_EQ(Mode(Path("old.cfg")), unsigned(S_IFREG | 0640));
    EXPECT_TRUE(ReadFile(Path("old.cfg")) == Image(2));
    EXPECT_EQ(Entries(), (QStringList{"new.cfg", "old.cfg"}));
}

// Pieces are written in order until the first empty one; a write that
// fails halfway leaves the old file as it was and no temporary beside it.
TEST_F(FlashInfoFileTest, PiecewiseSaveIsWholeOrNothing)
{
    const QByteArrayList pieces = {QByteArray(3000, 'a'), QByteArray(1, 'b'), QByteArray(3000, 'c')};
    int nCalls = 0;
    const auto next = [&] { return ++nCalls <= pieces.size() ? pieces[nCalls - 1] : QByteArray(); };
    ASSERT_EQ(SaveWholeFile(Path("report.json"), next, m_strError), FlashFileResult::Ok);
    EXPECT_TRUE(ReadFile(Path("report.json")) == pieces.join());
    EXPECT_EQ(nCalls, 4);

    // Writes past 4 KiB fail with EFBIG instead of raising SIGXFSZ.
    const auto pfnOldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    nCalls = 0;
    const FlashFileResult result = SaveWholeFile(Path("report.json"), next, m_strError);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, pfnOldSignal);
    EXPECT_EQ(result, FlashFileResult::IoError);
    EXPECT_FALSE(m_strError.isEmpty());
    EXPECT_TRUE(ReadFile(Path("report.json")) == pieces.join());
    EXPECT_EQ(Entries(), QStringList{"report.json"});
}

// What is no regular file is refused before a byte is asked for, the same
// as CheckSaveTarget says beforehand; a link to a file writes through it.
TEST_F(FlashInfoFileTest, OnlyRegularFilesAreReplaced)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("dir")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(Path("nowhere"), Path("dangling")));
    const struct {
        const char* pszName;
        FlashFileResult expected;
    } cases[] = {
        {"dir", FlashFileResult::OpenError},
        {"fifo", FlashFileResult::NotRegular},
        {"dangling", FlashFileResult::NotRegular},
        {"missing/x.cfg", FlashFileResult::OpenError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        bool bAsked = false;
        const auto next = [&] { return std::exchange(bAsked, true) ? QByteArray() : Image(3); };
        EXPECT_EQ(CheckSaveTarget(Path(c.pszName), m_strError), c.expected);
        EXPECT_EQ(SaveWholeFile(Path(c.pszName), next, m_strError), c.expected);
        EXPECT_FALSE(m_strError.isEmpty());
        EXPECT_FALSE(bAsked);
    }
    EXPECT_TRUE(S_ISDIR(Mode(Path("dir"))));
    EXPECT_TRUE(S_ISFIFO(Mode(Path("fifo"))));
    EXPECT_TRUE(S_ISLNK(Mode(Path("dangling"))));
    EXPECT_EQ(Entries(), (QStringList{"dangling", "dir", "fifo"}));

    WriteFile(Path("real.cfg"), "old");
    ASSERT_TRUE(QFile::link(Path("real.cfg"), Path("link.cfg")));
    EXPECT_EQ(SaveFlashInfoFile(Path("link.cfg"), Bytes(Image(4)), m_strError), FlashFileResult::Ok);
    EXPECT_TRUE(S_ISLNK(Mode(Path("link.cfg"))));
    EXPECT_TRUE(ReadFile(Path("real.cfg")) == Image(4));
}

TEST_F(FlashInfoFileTest, LockedFileIsNeitherReadNorReplacedUntilReleased)
{
    WriteFile(Path("held.cfg"), Image(5));
    QFile holder(Path("held.cfg"));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    CFileLock lock(holder);
    ASSERT_TRUE(lock.IsLocked());
    QFile second(Path("held.cfg"));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_FALSE(CFileLock(second).IsLocked());

    QByteArray image(FLASHINFO_SIZE, '\0');
    auto* pImage = reinterpret_cast<unsigned char*>(image.data());
    EXPECT_EQ(LoadFlashInfoFile(Path("held.cfg"), pImage, m_strError), FlashFileResult::OpenError);
    EXPECT_EQ(SaveFlashInfoFile(Path("held.cfg"), Bytes(Image(6)), m_strError), FlashFileResult::OpenError);
    EXPECT_TRUE(ReadFile(Path("held.cfg")) == Image(5));

    lock.Unlock();
    EXPECT_TRUE(CFileLock(second).IsLocked());
    EXPECT_EQ(LoadFlashInfoFile(Path("held.cfg"), pImage, m_strError), FlashFileResult::Ok);
    EXPECT_TRUE(image == Image(5));
}

// A short file would corrupt the appliance; after 8192 bytes the rest is ignored.
TEST_F(FlashInfoFileTest, LoadTakesExactlyTheFirst8192Bytes)
{
    WriteFile(Path("empty.cfg"), {});
    WriteFile(Path("short.cfg"), Image(7).left(FLASHINFO_SIZE - 1));
    WriteFile(Path("exact.cfg"), Image(7));
    WriteFile(Path("long.cfg"), Image(7) + "tail");
    const std::pair<const char*, FlashFileResult> cases[] = {
        {"empty.cfg", FlashFileResult::ShortFile}, {"short.cfg", FlashFileResult::ShortFile},
        {"exact.cfg", FlashFileResult::Ok},        {"long.cfg", FlashFileResult::Ok},
        {"missing.cfg", FlashFileResult::OpenError},
    };
    for (const auto& [pszName, expected] : cases) {
        SCOPED_TRACE(pszName);
        QByteArray image(FLASHINFO_SIZE, '\0');
        auto* pImage = reinterpret_cast<unsigned char*>(image.data());
        EXPECT_EQ(LoadFlashInfoFile(Path(pszName), pImage, m_strError), expected);
        EXPECT_TRUE(expected != FlashFileResult::Ok || image == Image(7));
    }
}

} // namespace

#include "flashinfofile.h"

#include "devicemsg.h"
#include "filelock.h"

#include <QFile>
#include <QSaveFile>

#include <optional>

const char* const FLASHINFO_FILE_SUFFIX = "cfg";

namespace {
// A short write sets no error of its own: say so plainly then.
QString FileErrorText(const QFileDevice& file)
{
    return file.error() == QFileDevice::NoError ? QStringLiteral("not all of the data could be written")
                                                 : file.errorString();
}
} // namespace

QStringList FlashInfoFileFilters()
{
    return {QStringLiteral("Lumisk Configuration Files (*.cfg)"), QStringLiteral("All Files (*.*)")};
}

FlashFileResult SaveFlashInfoFile(const QString& strPath, const unsigned char* pImage, QString& strError)
{
    // An existing file must be ours to replace, and held by nobody else.
    QFile existing(strPath);
    std::optional<CFileLock> lock;
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadWrite))
            return FlashFileResult::OpenError;
        lock.emplace(existing);
        if (!lock->IsLocked())
            return FlashFileResult::OpenError;
    }

    // Unbuffered: a buffered write reports success and fails only inside
    // commit(), which then still replaces the target with a cut-short file.
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return FlashFileResult::OpenError;
    if (file.write(reinterpret_cast<const char*>(pImage), FLASHINFO_SIZE) != FLASHINFO_SIZE) {
        strError = FileErrorText(file);
        return FlashFileResult::IoError; // the temporary file goes with `file`
    }
    // Released before the new file takes the old one's place: some systems
    // refuse to replace a file that is open.
    lock.reset();
    existing.close();
    if (!file.commit()) {
        strError = FileErrorText(file);
        return FlashFileResult::IoError;
    }
    return FlashFileResult::Ok;
}

FlashFileResult LoadFlashInfoFile(const QString& strPath, unsigned char* pImage, QString& strError)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return FlashFileResult::OpenError;
    CFileLock lock(file);
    if (!lock.IsLocked())
        return FlashFileResult::OpenError;

    qint64 nRead = 0;
    while (nRead < FLASHINFO_SIZE) {
        const qint64 n = file.read(reinterpret_cast<char*>(pImage) + nRead, FLASHINFO_SIZE - nRead);
        if (n < 0) {
            strError = FileErrorText(file);
            return FlashFileResult::IoError;
        }
        if (n == 0)
            break;
        nRead += n;
    }
    return nRead == FLASHINFO_SIZE ? FlashFileResult::Ok : FlashFileResult::ShortFile;
}

#include "flashinfofile.h"

#include "devicemsg.h"
#include "filelock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>
#include <utility>

namespace {
// A short write sets no error of its own: say so plainly then.
QString FileErrorText(const QFileDevice& file)
{
    return file.error() == QFileDevice::NoError ? QStringLiteral("not all of the data could be written")
                                                 : file.errorString();
}

QString LockedText()
{
    return QStringLiteral("locked by another program");
}
} // namespace

FlashFileResult CheckSaveTarget(const QString& strPath, QString& strError)
{
    // A symbolic link to a regular file stands for that file: QSaveFile
    // writes the file it points at and keeps the link, as most tools do. A
    // link to nothing would create a file wherever it points: refused, as is
    // anything else that is no regular file (renaming over /dev/null, a FIFO
    // or a socket would replace it for everyone).
    const QFileInfo info(strPath);
    if (info.isDir()) {
        strError = QStringLiteral("is a directory");
        return FlashFileResult::OpenError;
    }
    if (info.exists() || info.isSymbolicLink()) {
        if (!info.isFile()) {
            strError = QStringLiteral("not a regular file");
            return FlashFileResult::NotRegular;
        }
        if (!info.isWritable()) {
            // The open fails, as isWritable() said; it tells why (permission,
            // a read-only file system).
            QFile file(strPath);
            strError = file.open(QIODevice::ReadWrite) ? QStringLiteral("Permission denied") : file.errorString();
            return FlashFileResult::OpenError;
        }
    }
    // The new file is made beside the one it replaces.
    const QString strTarget = info.isSymbolicLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QFileInfo folder(QFileInfo(strTarget).absolutePath());
    if (!folder.isDir() || !folder.isWritable()) {
        strError = QString::fromLatin1(folder.isDir() ? "cannot write in the directory %1" : "no directory %1")
                       .arg(QDir::toNativeSeparators(folder.filePath()));
        return FlashFileResult::OpenError;
    }
    return FlashFileResult::Ok;
}

FlashFileResult SaveFlashInfoFile(const QString& strPath, const unsigned char* pImage, QString& strError)
{
    return SaveWholeFile(strPath, QByteArray::fromRawData(reinterpret_cast<const char*>(pImage), FLASHINFO_SIZE),
                         strError);
}

FlashFileResult SaveWholeFile(const QString& strPath, const QByteArray& bytes, QString& strError)
{
    bool bGiven = false;
    return SaveWholeFile(
        strPath, [&] { return std::exchange(bGiven, true) ? QByteArray() : bytes; }, strError);
}

FlashFileResult SaveWholeFile(const QString& strPath, const std::function<QByteArray()>& next, QString& strError)
{
    if (const FlashFileResult check = CheckSaveTarget(strPath, strError); check != FlashFileResult::Ok)
        return check;
    // An existing file must be ours to replace, and held by nobody else.
    QFile existing(strPath);
    std::optional<CFileLock> lock;
    const bool bExists = existing.exists();
    if (bExists) {
        if (!existing.open(QIODevice::ReadWrite)) {
            strError = existing.errorString();
            return FlashFileResult::OpenError;
        }
        lock.emplace(existing);
        if (!lock->IsLocked()) {
            strError = LockedText();
            return FlashFileResult::OpenError;
        }
    }

    // Unbuffered: a buffered write reports success and fails only inside
    // commit(), which then still replaces the target with a cut-short file.
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        strError = file.errorString();
        return FlashFileResult::OpenError;
    }
    // Images hold passwords: a new file is its owner's alone, set before a
    // byte is written. A replaced file keeps the mode its owner chose, which
    // QSaveFile copies.
    if (!bExists && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        strError = file.errorString();
        return FlashFileResult::IoError;
    }
    for (QByteArray bytes; !(bytes = next()).isEmpty();) {
        if (file.write(bytes) != bytes.size()) {
            strError = FileErrorText(file);
            return FlashFileResult::IoError; // the temporary file goes with `file`
        }
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
    if (!file.open(QIODevice::ReadOnly)) {
        strError = file.errorString();
        return FlashFileResult::OpenError;
    }
    CFileLock lock(file);
    if (!lock.IsLocked()) {
        strError = LockedText();
        return FlashFileResult::OpenError;
    }
    return ReadFlashInfo(file, pImage, strError);
}

FlashFileResult ReadFlashInfo(QFileDevice& device, unsigned char* pImage, QString& strError)
{
    qint64 nRead = 0;
    while (nRead < FLASHINFO_SIZE) {
        const qint64 n = device.read(reinterpret_cast<char*>(pImage) + nRead, FLASHINFO_SIZE - nRead);
        if (n < 0) {
            strError = FileErrorText(device);
            return FlashFileResult::IoError;
        }
        if (n == 0)
            break;
        nRead += n;
    }
    return nRead == FLASHINFO_SIZE ? FlashFileResult::Ok : FlashFileResult::ShortFile;
}

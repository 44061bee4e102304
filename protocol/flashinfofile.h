// Configuration image files (.cfg): exactly the 8192 bytes of an appliance's
// FlashInfo image, byte n of the file being byte 12 + n of the datagram that
// carried it. No header, no checksum.
#pragma once

#include <QString>

#include <functional>

class QByteArray;
class QFileDevice;

enum class FlashFileResult {
    Ok,
    OpenError,  // cannot be opened, or another program holds it locked; strError says why
    ShortFile,  // fewer than 8192 bytes: never sent, it would corrupt the appliance
    IoError,    // the read or write failed after the open; strError says why
    NotRegular, // a FIFO, a device, a socket or a link to nothing: never replaced
};

// Whether SaveFlashInfoFile would write strPath, found without touching it:
// Ok for a new file in a writable folder or a writable regular file;
// NotRegular, or OpenError for a folder or what cannot be written, with the
// reason in strError.
FlashFileResult CheckSaveTarget(const QString& strPath, QString& strError);

// Replaces the file (or creates it, readable by its owner alone) only once
// the whole image is written: a failed write leaves an existing file as it
// was. Only a regular file is ever replaced.
FlashFileResult SaveFlashInfoFile(const QString& strPath, const unsigned char* pImage, QString& strError);

// The same for any whole file, such as a report.
FlashFileResult SaveWholeFile(const QString& strPath, const QByteArray& bytes, QString& strError);
// The same, written piece by piece as next hands them out, until it hands out
// an empty one: a file too large to hold in memory whole.
FlashFileResult SaveWholeFile(const QString& strPath, const std::function<QByteArray()>& next, QString& strError);

// Reads the first 8192 bytes; anything after them is ignored.
FlashFileResult LoadFlashInfoFile(const QString& strPath, unsigned char* pImage, QString& strError);

// The same on an open device, such as standard input.
FlashFileResult ReadFlashInfo(QFileDevice& device, unsigned char* pImage, QString& strError);

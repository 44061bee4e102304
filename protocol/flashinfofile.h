// Configuration image files (.cfg): exactly the 8192 bytes of an appliance's
// FlashInfo image, byte n of the file being byte 12 + n of the datagram that
// carried it. No header, no checksum.
#pragma once

#include <QString>
#include <QStringList>

enum class FlashFileResult {
    Ok,
    OpenError, // cannot be opened, or another program holds it locked
    ShortFile, // fewer than 8192 bytes: never sent, it would corrupt the appliance
    IoError,   // the read or write failed after the open; strError says why
};

// Filters of both file dialogs, the first one initial, and the suffix added
// to a name typed without one.
QStringList FlashInfoFileFilters();
extern const char* const FLASHINFO_FILE_SUFFIX;

// Replaces the file (or creates it) only once the whole image is written:
// a failed write leaves an existing file as it was.
FlashFileResult SaveFlashInfoFile(const QString& strPath, const unsigned char* pImage, QString& strError);

// Reads the first 8192 bytes; anything after them is ignored.
FlashFileResult LoadFlashInfoFile(const QString& strPath, unsigned char* pImage, QString& strError);

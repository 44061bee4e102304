#include "filelock.h"

#include <QFileDevice>

CFileLock::CFileLock(QFileDevice& file) : m_file(file)
{
    const int nHandle = file.handle();
    m_bLocked = nHandle >= 0 && LockWholeFile(nHandle);
}

CFileLock::~CFileLock()
{
    Unlock();
}

void CFileLock::Unlock()
{
    if (!m_bLocked)
        return;
    m_bLocked = false;
    if (const int nHandle = m_file.handle(); nHandle >= 0)
        UnlockWholeFile(nHandle);
}

// The lock on POSIX systems: flock.
#include "filelock.h"

#include <QFileDevice>

#include <sys/file.h>

CFileLock::CFileLock(QFileDevice& file) : m_file(file)
{
    const int nHandle = file.handle();
    m_bLocked = nHandle >= 0 && flock(nHandle, LOCK_EX | LOCK_NB) == 0;
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
        flock(nHandle, LOCK_UN);
}

// The lock on Windows: LockFileEx over the whole file.
#include "filelock.h"

#include <QFileDevice>

#include <io.h>
#include <windows.h>

CFileLock::CFileLock(QFileDevice& file) : m_file(file)
{
    const int nHandle = file.handle();
    if (nHandle < 0)
        return;
    OVERLAPPED overlapped{};
    m_bLocked = LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(nHandle)),
                           LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &overlapped);
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
    const int nHandle = m_file.handle();
    if (nHandle < 0)
        return;
    OVERLAPPED overlapped{};
    UnlockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(nHandle)), 0, MAXDWORD, MAXDWORD, &overlapped);
}

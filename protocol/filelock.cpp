#include "filelock.h"

#include <QFileDevice>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#endif

CFileLock::CFileLock(QFileDevice& file) : m_file(file)
{
    const int nHandle = file.handle();
    if (nHandle < 0)
        return;
#ifdef Q_OS_WIN
    OVERLAPPED overlapped{};
    m_bLocked = LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(nHandle)),
                           LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &overlapped);
#else
    m_bLocked = flock(nHandle, LOCK_EX | LOCK_NB) == 0;
#endif
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
#ifdef Q_OS_WIN
    OVERLAPPED overlapped{};
    UnlockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(nHandle)), 0, MAXDWORD, MAXDWORD, &overlapped);
#else
    flock(nHandle, LOCK_UN);
#endif
}

// The lock on Windows: LockFileEx over the whole file.
#include "filelock.h"

#include <io.h>
#include <windows.h>

bool LockWholeFile(int nHandle)
{
    OVERLAPPED overlapped{};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(nHandle)),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &overlapped);
}

void UnlockWholeFile(int nHandle)
{
    OVERLAPPED overlapped{};
    UnlockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(nHandle)), 0, MAXDWORD, MAXDWORD, &overlapped);
}

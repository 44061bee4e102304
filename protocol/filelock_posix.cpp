// The lock on POSIX systems: flock.
#include "filelock.h"

#include <sys/file.h>

bool LockWholeFile(int nHandle)
{
    return flock(nHandle, LOCK_EX | LOCK_NB) == 0;
}

void UnlockWholeFile(int nHandle)
{
    flock(nHandle, LOCK_UN);
}

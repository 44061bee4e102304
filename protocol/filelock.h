// An exclusive lock on an open file, held for as long as the object lives,
// so that a configuration image is never read or written while another
// program holds the file. Qt has no such lock; this is the small layer that
// gives one on each platform.
#pragma once

class QFileDevice;

class CFileLock {
public:
    // Tries once, without waiting.
    explicit CFileLock(QFileDevice& file);
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    bool IsLocked() const { return m_bLocked; }
    void Unlock();

private:
    QFileDevice& m_file;
    bool m_bLocked = false;
};

// The system's lock on an open file descriptor, without waiting: given by
// filelock_posix.cpp or filelock_win.cpp (the build picks one).
bool LockWholeFile(int nHandle);
void UnlockWholeFile(int nHandle);

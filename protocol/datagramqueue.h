// CDatagramQueue: received datagrams waiting for their handlers, oldest
// first. The receiving thread pushes, the user-interface thread pops; both
// sides hold the lock only to copy bytes.
#pragma once

#include <QMutex>

#include <memory>

class CDatagramQueue {
public:
    // Appends a datagram as the read returned it: nLength is its length (-1
    // for a failed read, more than DEVMSG_BUF_SIZE for one too long, whose
    // bytes are not kept), nAddress its sender's IPv4 address (0 when
    // unknown). Returns the bytes queued afterwards.
    qint64 Push(const unsigned char* pData, qint64 nLength, quint16 nPort, quint32 nAddress = 0);

    // Copies the oldest datagram into pBuf (DEVMSG_BUF_SIZE bytes) and
    // removes it; false when the queue is empty. nRemaining: bytes left.
    bool Pop(unsigned char* pBuf, qint64& nLength, quint16& nPort, quint32& nAddress, qint64& nRemaining);

    qint64 Bytes() const;

private:
    void Reserve(qint64 nBytes);

    mutable QMutex m_mutex;
    // Records of [length][port][address][bytes] packed in one buffer that grows to
    // the largest backlog and is reused.
    std::unique_ptr<unsigned char[]> m_pBuffer;
    qint64 m_nCapacity = 0;
    qint64 m_nHead = 0;
    qint64 m_nTail = 0;
};

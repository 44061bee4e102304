// CDatagramQueue: received datagrams waiting for their handlers, oldest
// first. The receiving thread pushes, the user-interface thread pops; both
// sides hold the lock only to copy bytes.
//
// Past its limit the queue pauses the reader: datagrams then wait in the
// system's buffer (and are dropped there) until the handlers catch up, so
// memory stays bounded under a flood. Both the pause and the resume are
// decided here, under the lock, so a resume can never be missed.
#pragma once

#include <QMutex>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

// What the queue keeps beside a datagram's bytes.
struct DatagramInfo {
    qint64 nLength = 0;    // as read: -1 for a failed read, more than DEVMSG_BUF_SIZE
                           // for one too long (bytes of neither are kept)
    quint16 nPort = 0;     // sender's port
    quint32 nSenderIp = 0; // sender's IPv4 address, host order; 0 when not known
    int nInterface = 0;    // index of the interface it arrived on; 0 when not known
};

// What one Pop took, beside the datagram's bytes.
struct PoppedDatagram {
    DatagramInfo info;
    bool bMore = false;   // datagrams remain
    // This pop emptied a paused queue, and its caller now resumes the reader
    // (one pop, exactly, says so after each pause).
    bool bResume = false;
};

constexpr qint64 DATAGRAM_QUEUE_LIMIT = 16 * 1024 * 1024;

class CDatagramQueue {
public:
    void SetLimit(qint64 nBytes);

    // Appends a datagram as the read returned it. True when the queue has
    // reached its limit: the reader is paused from then on, until a Pop
    // tells its caller to resume it.
    bool Push(const unsigned char* pData, const DatagramInfo& info);

    // Copies the oldest datagram into pBuf (DEVMSG_BUF_SIZE bytes) and
    // removes it; nothing when the queue is empty.
    std::optional<PoppedDatagram> Pop(unsigned char* pBuf);

    bool IsPaused() const;
    qint64 Bytes() const;

private:
    // Records of [header][bytes], packed in blocks: a burst only ever adds
    // a block, so a push never waits for the backlog to be copied.
    struct Block {
        std::unique_ptr<unsigned char[]> pBytes;
        qint64 nHead = 0; // first record not yet popped
        qint64 nTail = 0; // end of the last record pushed
    };

    mutable QMutex m_mutex;
    std::deque<Block> m_blocks; // oldest first; none empty
    // Blocks emptied by Pop, kept for the next burst.
    std::vector<std::unique_ptr<unsigned char[]>> m_spare;
    qint64 m_nBytes = 0;
    qint64 m_nLimit = DATAGRAM_QUEUE_LIMIT;
    bool m_bPaused = false;
};

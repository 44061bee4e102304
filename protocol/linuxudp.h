// CLinuxUdp: the endpoint's socket on Linux, read in batches.
//
// One recvmmsg call takes up to a batch of datagrams, with each one's
// sender, arriving interface and the system's count of datagrams it
// dropped for want of buffer (SO_RXQ_OVFL).
//
// Batches only pay when datagrams have gathered, and reading each one the
// moment it lands does not let them: the reader and whatever delivers the
// datagrams then take turns on a core, one switch per datagram, the reader
// using about as much processor time as the sender. The scheduler soon
// stops letting such a reader in when it wakes, and a sender left to run a
// whole time slice (several milliseconds) overflows a stock kernel's buffer
// (212,992 bytes: some 500 small replies). So after a read that found
// datagrams the reader waits a moment (the pace timer) before it reads
// again: a burst is read a few hundred datagrams at a time with a fraction
// of the processor time, and the reader is let in when it wakes.
#pragma once

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include <atomic>
#include <memory>

class CDatagramQueue;

class CLinuxUdp {
public:
    CLinuxUdp();
    ~CLinuxUdp();
    CLinuxUdp(const CLinuxUdp&) = delete;
    CLinuxUdp& operator=(const CLinuxUdp&) = delete;

    // A non-blocking IPv4 UDP socket on every local address and a
    // system-chosen port, broadcasts allowed.
    bool Open(int nReceiveBuffer);
    int Descriptor() const { return m_fd; }
    quint16 LocalPort() const { return m_nLocalPort; }
    int ReceiveBufferSize() const { return m_nReceiveBuffer; }

    // Sends one datagram, out of interface nInterface unless it is 0; false
    // when the system refused it, bRetry then telling whether it may take it
    // a moment later.
    bool SendTo(const char* pData, int nLength, quint32 nIp, quint16 nPort, int nInterface, bool& bRetry);

    // Moves the pending datagrams into the queue until the socket has none
    // left or the queue pauses the reader; a failed read is queued as one
    // receive error and ends the drain. Returns the records queued.
    int Drain(CDatagramQueue& queue);

    // Datagrams the system dropped on this socket: what it tells with each
    // datagram read (how many it had dropped before), or its count right
    // now where it has one, which also covers drops at the end of a burst.
    quint64 SystemDrops() const;

    // The pace timer: a descriptor that turns readable once the wait after
    // a read is over (-1 without one: read at once); Start arms it, End
    // clears it.
    int PaceDescriptor() const { return m_paceFd; }
    void StartPace();
    void EndPace();

    // Asks the scheduler to let the calling thread in soon after it wakes,
    // by a short time slice; this takes no more processor time. Kernels
    // before 6.12 ignore the request.
    static void RequestShortSlice();

private:
    struct Batch;
    int m_fd = -1;
    int m_paceFd = -1;
    quint16 m_nLocalPort = 0;
    int m_nReceiveBuffer = 0;
    std::unique_ptr<Batch> m_pBatch;
    std::atomic<quint64> m_nSystemDrops{0};
};

#endif

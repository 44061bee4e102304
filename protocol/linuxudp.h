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
// again: a burst is read a hundred datagrams or more at a time with a
// fraction of the processor time, and the reader is let in when it wakes.
// A sender on the same machine fills a stock buffer in under a millisecond,
// so the wait is kept as short as lets about a quarter of the buffer fill:
// the rest covers a reader that wakes late.
#pragma once

#include "datagramsocket.h"

#include <atomic>
#include <memory>

class QSocketNotifier;

class CLinuxUdp : public CDatagramSocket {
    Q_OBJECT
public:
    CLinuxUdp();
    ~CLinuxUdp() override;

    // Also asks the scheduler to let the opening thread, the one that
    // reads, in soon after it wakes.
    bool Open(int nReceiveBuffer) override;
    quint16 LocalPort() const override { return m_nLocalPort; }
    int ReceiveBufferSize() const override { return m_nReceiveBuffer; }
    // What the system tells with each datagram read (how many it had
    // dropped before), or its count right now where it has one, which also
    // covers drops at the end of a burst.
    quint64 SystemDrops() const override;
    bool SendTo(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface,
                bool& bRetry) override;
    int Read() override;
    int BatchSize() const override;
    const ReceivedDatagram& Datagram(int nIndex) const override;
    void Listen(bool bOn) override;
    void Pace() override;

private:
    struct Batch;
    void OnPaceEnd();
    void AdjustPace();
    void UpdateNotifier();

    int m_fd = -1;
    int m_paceFd = -1;
    qint64 m_nPaceNs = 0;
    quint16 m_nLocalPort = 0;
    int m_nReceiveBuffer = 0;
    bool m_bListening = true;
    bool m_bPacing = false;
    std::unique_ptr<Batch> m_pBatch;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    std::unique_ptr<QSocketNotifier> m_pPaceNotifier;
    std::atomic<quint64> m_nSystemDrops{0};
};

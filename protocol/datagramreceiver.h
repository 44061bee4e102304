// CDatagramReceiver: the endpoint's UDP socket, living on a thread of its
// own so that a burst of replies is taken off the socket while the
// user-interface thread is busy (a small receive buffer holds only a few
// hundred replies). It only moves datagrams into the queue; every handler
// still runs on the user-interface thread. Sends run here too, because a
// socket belongs to one thread; the endpoint waits for each.
//
// On Linux the socket is read in batches (CLinuxUdp); elsewhere, or when
// asked for, through QUdpSocket a datagram at a time.
#pragma once

#include "datagramqueue.h"

#include <QHostAddress>
#include <QObject>

#include <functional>
#include <memory>

class CLinuxUdp;
class QSocketNotifier;
class QUdpSocket;

// The two reads a drain makes of a socket, apart so that a test can play a
// system whose "nothing pending" is not a temporary error.
class CDatagramSource {
public:
    virtual ~CDatagramSource() = default;
    virtual bool HasPending() = 0;
    // Reads one datagram into pBuf (nMax bytes) and says what it was in
    // info: its length (more than nMax when it was cut; -1 when the read
    // failed) and its sender.
    virtual void Read(unsigned char* pBuf, qint64 nMax, DatagramInfo& info) = 0;
};

// Moves the source's pending datagrams into the queue, ending when none is
// pending, when the queue pauses the reader, or after a failed read (queued
// as one receive error: whatever is still pending signals the socket
// again). Returns the records queued.
int DrainDatagrams(CDatagramSource& source, CDatagramQueue& queue);

class CDatagramReceiver : public QObject {
    Q_OBJECT
public:
    // notify runs on the receiving thread after datagrams were queued.
    CDatagramReceiver(CDatagramQueue& queue, std::function<void()> notify);
    ~CDatagramReceiver() override;

    // The operations below run on the receiving thread.
    // bPortable: through QUdpSocket even where batched reads are had.
    bool Open(int nReceiveBuffer, bool bPortable = false);
    // Sends one datagram, out of interface nInterface unless it is 0,
    // waiting a while out when the system cannot take it.
    bool Send(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface = 0);
    // Takes the socket's datagrams again after the queue was full.
    void Resume();
    void Close();

    quint16 LocalPort() const { return m_nLocalPort; }
    int ReceiveBufferSize() const { return m_nReceiveBuffer; }
    // Datagrams the system reported dropping for want of buffer (0 where
    // it does not report them); read from any thread.
    quint64 SystemDrops() const;

private:
    void OnReadyRead();
#ifdef Q_OS_LINUX
    bool OpenBatched(int nReceiveBuffer);
    void OnReadable();
    void OnPaceEnd();
    std::unique_ptr<CLinuxUdp> m_pLinux;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    std::unique_ptr<QSocketNotifier> m_pPaceNotifier;
#endif

    CDatagramQueue& m_queue;
    std::function<void()> m_notify;
    std::unique_ptr<QUdpSocket> m_pUdp;
    std::unique_ptr<CDatagramSource> m_pSource;
    quint16 m_nLocalPort = 0;
    int m_nReceiveBuffer = 0;
};

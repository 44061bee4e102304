// CDatagramSocket: the endpoint's UDP socket as a platform provides it, used
// on the thread that opened it. Two back ends: CLinuxUdp (batched reads, the
// system's drop count) and CPortableUdp (QUdpSocket, a datagram at a time);
// CreateDatagramSocket picks one. The rule for draining a socket into the
// queue is DrainDatagrams, the same for both.
#pragma once

#include "datagramqueue.h"

#include <QHostAddress>
#include <QObject>

#include <memory>

// One datagram as a read returned it; pData points into the socket's own
// buffer and holds until its next read.
struct ReceivedDatagram {
    const unsigned char* pData = nullptr;
    DatagramInfo info;
};

class CDatagramSocket : public QObject {
    Q_OBJECT
public:
    // An IPv4 UDP socket on every local address and a system-chosen port,
    // broadcasts allowed, listening from then on.
    virtual bool Open(int nReceiveBuffer) = 0;
    virtual quint16 LocalPort() const = 0;
    // Receive buffer the system granted, in bytes (as it reports it).
    virtual int ReceiveBufferSize() const = 0;
    // Datagrams the system reported dropping for want of buffer (0 where it
    // does not report them); read from any thread.
    virtual quint64 SystemDrops() const { return 0; }

    // Sends one datagram, out of interface nInterface unless it is 0; false
    // when the system refused it, bRetry then telling whether it may take it
    // a moment later and ErrorString() why it did not.
    virtual bool SendTo(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface,
                        bool& bRetry) = 0;
    // The system's reason for the last refusal of SendTo.
    const QString& ErrorString() const { return m_strError; }

    // One read of what is pending, at most BatchSize() datagrams: how many
    // came (Datagram(0) to Datagram(n - 1)), 0 when none was pending, -1
    // when the read failed.
    virtual int Read() = 0;
    virtual int BatchSize() const = 0;
    virtual const ReceivedDatagram& Datagram(int nIndex) const = 0;

    // While listening, Readable is emitted when datagrams may be pending.
    virtual void Listen(bool bOn) = 0;
    // Holds Readable back a moment after a read that found datagrams, so
    // that more gather for the next read (see linuxudp.h); nothing where the
    // back end reads a datagram at a time anyway.
    virtual void Pace() {}

signals:
    void Readable();

protected:
    QString m_strError;
};

// bPortable: QUdpSocket's back end even where batched reads are had.
std::unique_ptr<CDatagramSocket> CreateDatagramSocket(bool bPortable);

// Moves the socket's pending datagrams into the queue, ending when none is
// pending, when the queue pauses the reader, or after a failed read (queued
// as one receive error: whatever is still pending signals the socket
// again). Returns the records queued.
int DrainDatagrams(CDatagramSocket& socket, CDatagramQueue& queue);

// CDeviceSocket: the utility's one UDP endpoint.
//
// Requests go out to port 8400, broadcast (discovery, change of address) or
// unicast to one appliance; replies come back to our system-chosen port and
// are taken only from source port 8400. Each reply is decoded and handed to
// the owner's handler by status and type. Nothing is remembered between
// datagrams: a reply is matched neither to a request nor to its sender.
//
// Receiving runs in two steps. A thread of the endpoint's own takes every
// datagram off the socket as it arrives and queues it; a queued call on the
// user-interface thread then hands the datagrams to the owner one at a time,
// in arrival order, a few milliseconds' worth per call so the window stays
// responsive under a burst. Handlers may open modal boxes whose nested event
// loops deliver further datagrams (and their own boxes) while the outer
// handler waits, exactly as on the outermost loop.
//
// The parts, in the order a datagram meets them: CDatagramSocket, the socket
// as a platform gives it (linuxudp.h, portableudp.h); CSocketWorker, which
// owns it on that thread, drains it and sends (socketworker.h); and
// CDatagramQueue between the two threads (datagramqueue.h).
#pragma once

#include "datagramqueue.h"
#include "devicemsg.h"
#include "devicereplies.h"
#include "devicerequest.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>

class CSocketWorker;

// Kernel receive buffer asked for, so that a burst of replies survives while
// the user-interface thread is busy; the system caps it at its own maximum.
constexpr int DEVICE_RCVBUF_SIZE = 8 * 1024 * 1024;

// What became of the datagrams received, by class.
struct DeviceReceiveStats {
    quint64 nReceiveErrors = 0; // failed reads, empty or oversized datagrams
    quint64 nWrongPort = 0;
    quint64 nTooShort = 0;
    quint64 nStatusErrors = 0;
    quint64 nReplies = 0;       // handed to a handler of their type
    quint64 nIgnored = 0;       // requests and unknown types with status 0
    quint64 nRefused = 0;       // turned down by the owner's AcceptReply
    quint64 nSystemDrops = 0;   // dropped by the system before we could read them (where it tells)
};

class CDeviceSocket : public QObject {
    Q_OBJECT
public:
    CDeviceSocket();
    ~CDeviceSocket() override;

    // Receive buffer to ask the system for at Create (benchmarks hold it to
    // what an ordinary user gets).
    void SetReceiveBufferRequest(int nBytes) { m_nReceiveBufferRequest = nBytes; }
    // Backlog of received datagrams past which the socket is left unread
    // until the handlers have taken them all (tests lower it).
    void SetQueueLimit(qint64 nBytes) { m_queue.SetLimit(nBytes); }
    bool IsReceivePaused() const { return m_queue.IsPaused(); }
    // Reads datagrams through QUdpSocket one at a time, as on systems
    // without batched reads (before Create; tests).
    void UsePortableReceive() { m_bPortableReceive = true; }

    // Opens an IPv4 UDP socket on every local address and a system-chosen port.
    bool Create();
    // Allows broadcasts and names the owner of every reply call.
    void Setup(CDeviceReplies* pOwner);

    // Sends one request; false when it could not, ErrorString() then
    // telling why (telling the user is the caller's part). The two
    // broadcasts go out once on every broadcast interface (or the chosen
    // ones), and count as sent when they left on any. A unicast goes out of
    // nInterface when it is not 0 (the interface the appliance answered
    // on), else where the routes say.
    bool Send(const DeviceRequest& request);
    // Why the last Send could not send, in the system's words where it gave
    // any (for a broadcast, the last interface's that refused it); empty
    // when every datagram of it left.
    const QString& ErrorString() const { return m_strError; }
    // Discovery by unicast to each address in turn (a sweep's batch), in one
    // call to the socket's thread; returns how many left.
    int SendDiscoverTo(const QList<quint32>& addresses);

    // Interfaces (by index) the broadcasts go out on; empty for every
    // broadcast interface, or the plain broadcast when there is none.
    void SetBroadcastInterfaces(const QList<int>& interfaces) { m_broadcastInterfaces = interfaces; }
    // Names of the interfaces the last request failed to leave on, and of
    // those it left on ("" where the routes chose).
    const QStringList& SendFailures() const { return m_sendFailures; }
    const QStringList& SentOn() const { return m_sentOn; }

    // Handles one received datagram of nLength bytes: the whole receive path
    // after the socket read. A length of 0 or above DEVMSG_BUF_SIZE is a
    // receive error, and so is a negative one: the read failed.
    void HandleDatagram(const unsigned char* pData, qint64 nLength, const DeviceOrigin& origin);
    void HandleDatagram(const unsigned char* pData, qint64 nLength, quint16 nSourcePort)
    {
        HandleDatagram(pData, nLength, DeviceOrigin{QHostAddress(), nSourcePort});
    }

    DeviceReceiveStats Stats() const;
    // Bytes of received datagrams waiting for their handlers.
    qint64 QueuedBytes() const { return m_queue.Bytes(); }

    bool IsOpen() const;
    quint16 LocalPort() const;
    // Receive buffer the system granted, in bytes (as it reports it).
    int ReceiveBufferSize() const;

private:
    // Hands a decoded reply, with its texts decoded, to the owner's handler
    // of its type; false for a type no handler takes.
    bool Dispatch(const DeviceOrigin& origin, const DeviceMsg& msg);
    void PostDispatch();
    void DispatchQueued();
    // The request's datagram in buf; its length, or 0 when it cannot be made.
    static int Encode(const DeviceRequest& request, unsigned char* buf);
    bool SendOn(const unsigned char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface);
    bool ResolveHost(const QString& strHost, QHostAddress& addr) const;

    int m_nReceiveBufferRequest = DEVICE_RCVBUF_SIZE;
    bool m_bPortableReceive = false;
    QThread m_thread;
    std::unique_ptr<CSocketWorker> m_pWorker;
    QHostAddress m_addrBroadcast;
    quint16 m_nBroadcastPort = 0;
    CDeviceReplies* m_pOwner = nullptr;
    QList<int> m_broadcastInterfaces;
    QStringList m_sendFailures;
    QStringList m_sentOn;
    QString m_strError;

    DeviceReceiveStats m_stats;
    CDatagramQueue m_queue;
    std::atomic<bool> m_bDispatchPosted{false};
};

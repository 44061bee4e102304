// CSocketWorker: the endpoint's UDP socket on a thread of its own, so that a
// burst of replies is taken off the socket while the user-interface thread
// is busy (a small receive buffer holds only a few hundred replies). It
// moves datagrams into the queue; every handler still runs on the
// user-interface thread. Sends run here too, because a socket belongs to one
// thread; the endpoint waits for each.
//
// Back-pressure: the queue decides, under its lock, when it is full (the
// push that reaches its limit pauses the reader) and when the handlers have
// taken it all (the pop that empties a paused queue tells its caller to
// resume). Paused, the worker stops listening to the socket, whose datagrams
// then wait in the system's buffer, and Resume listens and drains again.
#pragma once

#include <QHostAddress>
#include <QObject>

#include <functional>
#include <memory>

class CDatagramQueue;
class CDatagramSocket;

class CSocketWorker : public QObject {
    Q_OBJECT
public:
    // notify runs on the worker's thread after datagrams were queued.
    CSocketWorker(CDatagramQueue& queue, std::function<void()> notify);
    ~CSocketWorker() override;

    // The operations below run on the worker's thread.
    // bPortable: through QUdpSocket even where batched reads are had.
    bool Open(int nReceiveBuffer, bool bPortable = false);
    // Sends one datagram, out of interface nInterface unless it is 0,
    // waiting a while out when the system cannot take it.
    bool Send(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface = 0);
    // Why the last Send failed, in the system's words.
    QString ErrorString() const;
    // Takes the socket's datagrams again after the queue was full.
    void Resume();
    void Close();

    quint16 LocalPort() const;
    int ReceiveBufferSize() const;
    // Datagrams the system reported dropping for want of buffer (0 where
    // it does not report them); read from any thread.
    quint64 SystemDrops() const;

private:
    void OnReadable();

    CDatagramQueue& m_queue;
    std::function<void()> m_notify;
    std::unique_ptr<CDatagramSocket> m_pSocket;
};

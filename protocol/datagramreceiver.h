// CDatagramReceiver: the endpoint's UDP socket, living on a thread of its
// own so that a burst of replies is taken off the socket while the
// user-interface thread is busy (a small receive buffer holds only a few
// hundred replies). It only moves datagrams into the queue; every handler
// still runs on the user-interface thread. Sends run here too, because a
// socket belongs to one thread; the endpoint waits for each.
#pragma once

#include <QHostAddress>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class CDatagramQueue;
class QUdpSocket;

class CDatagramReceiver : public QObject {
    Q_OBJECT
public:
    // notify runs on the receiving thread after datagrams were queued.
    CDatagramReceiver(CDatagramQueue& queue, std::function<void()> notify);
    ~CDatagramReceiver() override;

    // The operations below run on the receiving thread.
    bool Open(int nReceiveBuffer);
    // Sends one datagram, out of interface nInterface unless it is 0,
    // waiting a while out when the system cannot take it.
    bool Send(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface = 0);
    // Takes the socket's datagrams again after the queue was full.
    void Resume();
    void Close();

    quint16 LocalPort() const { return m_nLocalPort; }
    int ReceiveBufferSize() const { return m_nReceiveBuffer; }
    bool IsPaused() const { return m_bPaused; }

private:
    void OnReadyRead();

    CDatagramQueue& m_queue;
    std::function<void()> m_notify;
    std::unique_ptr<QUdpSocket> m_pUdp;
    quint16 m_nLocalPort = 0;
    int m_nReceiveBuffer = 0;
    std::atomic<bool> m_bPaused{false};
};

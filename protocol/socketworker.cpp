#include "socketworker.h"

#include "datagramqueue.h"
#include "datagramsocket.h"

#include <QElapsedTimer>
#include <QThread>

namespace {
constexpr int SEND_RETRY_MS = 2000;
} // namespace

CSocketWorker::CSocketWorker(CDatagramQueue& queue, std::function<void()> notify)
    : m_queue(queue), m_notify(std::move(notify))
{
}

CSocketWorker::~CSocketWorker() = default;

bool CSocketWorker::Open(int nReceiveBuffer, bool bPortable)
{
    auto pSocket = CreateDatagramSocket(bPortable);
    if (!pSocket->Open(nReceiveBuffer))
        return false;
    m_pSocket = std::move(pSocket);
    connect(m_pSocket.get(), &CDatagramSocket::Readable, this, &CSocketWorker::OnReadable);
    return true;
}

void CSocketWorker::Close()
{
    m_pSocket.reset();
}

quint16 CSocketWorker::LocalPort() const
{
    return m_pSocket ? m_pSocket->LocalPort() : 0;
}

int CSocketWorker::ReceiveBufferSize() const
{
    return m_pSocket ? m_pSocket->ReceiveBufferSize() : 0;
}

quint64 CSocketWorker::SystemDrops() const
{
    return m_pSocket ? m_pSocket->SystemDrops() : 0;
}

bool CSocketWorker::Send(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface)
{
    if (!m_pSocket)
        return false;
    QElapsedTimer waited;
    waited.start();
    bool bRetry = false;
    while (!m_pSocket->SendTo(pData, nLength, addr, nPort, nInterface, bRetry)) {
        if (!bRetry || waited.elapsed() >= SEND_RETRY_MS)
            return false;
        QThread::msleep(1);
    }
    return true;
}

QString CSocketWorker::ErrorString() const
{
    return m_pSocket ? m_pSocket->ErrorString() : QStringLiteral("the socket is closed");
}

void CSocketWorker::OnReadable()
{
    if (!m_pSocket)
        return;
    if (m_queue.IsPaused()) {
        m_pSocket->Listen(false);
        return;
    }
    const int nQueued = DrainDatagrams(*m_pSocket, m_queue);
    if (m_queue.IsPaused())
        m_pSocket->Listen(false);
    else if (nQueued > 0)
        m_pSocket->Pace();
    if (nQueued > 0)
        m_notify();
}

void CSocketWorker::Resume()
{
    if (!m_pSocket)
        return;
    m_pSocket->Listen(true);
    OnReadable();
}

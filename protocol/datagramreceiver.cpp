#include "datagramreceiver.h"

#include "datagramqueue.h"
#include "devicemsg.h"

#include <QElapsedTimer>
#include <QThread>
#include <QUdpSocket>
#include <QVariant>

namespace {
// A read that fills this many bytes found a datagram longer than any message.
constexpr qint64 READ_LIMIT = DEVMSG_BUF_SIZE + 1;

// Past this backlog the socket is left alone (datagrams wait in the kernel
// buffer, then are dropped there) until the handlers catch up: memory stays
// bounded under a flood.
constexpr qint64 QUEUE_PAUSE_BYTES = 16 * 1024 * 1024;

constexpr int SEND_RETRY_MS = 2000;

class CUdpSource : public CDatagramSource {
public:
    explicit CUdpSource(QUdpSocket& udp) : m_udp(udp) {}
    bool HasPending() override { return m_udp.hasPendingDatagrams(); }
    qint64 Read(unsigned char* pBuf, qint64 nMax, quint16& nPort) override
    {
        return m_udp.readDatagram(reinterpret_cast<char*>(pBuf), nMax, nullptr, &nPort);
    }

private:
    QUdpSocket& m_udp;
};
} // namespace

int DrainDatagrams(CDatagramSource& source, CDatagramQueue& queue, bool& bPaused, qint64 nPauseBytes)
{
    unsigned char buf[READ_LIMIT];
    int nQueued = 0;
    // Asking first whether a datagram waits is what ends the loop: the error
    // a read of an empty socket reports differs between systems (a temporary
    // error here, a network error on Windows).
    while (source.HasPending()) {
        quint16 nPort = 0;
        const qint64 nRead = source.Read(buf, READ_LIMIT, nPort);
        ++nQueued;
        if (queue.Push(buf, nRead, nPort) >= nPauseBytes) {
            bPaused = true;
            break;
        }
        if (nRead < 0)
            break;
    }
    return nQueued;
}

CDatagramReceiver::CDatagramReceiver(CDatagramQueue& queue, std::function<void()> notify)
    : m_queue(queue), m_notify(std::move(notify))
{
}

CDatagramReceiver::~CDatagramReceiver() = default;

bool CDatagramReceiver::Open(int nReceiveBuffer)
{
    m_pUdp = std::make_unique<QUdpSocket>();
    if (!m_pUdp->bind(QHostAddress::AnyIPv4, 0)) {
        m_pUdp.reset();
        return false;
    }
    m_pUdp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, nReceiveBuffer);
    m_nReceiveBuffer = m_pUdp->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    m_nLocalPort = m_pUdp->localPort();
    m_pSource = std::make_unique<CUdpSource>(*m_pUdp);
    connect(m_pUdp.get(), &QUdpSocket::readyRead, this, &CDatagramReceiver::OnReadyRead);
    return true;
}

void CDatagramReceiver::Close()
{
    m_pSource.reset();
    m_pUdp.reset();
}

bool CDatagramReceiver::Send(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort)
{
    if (!m_pUdp)
        return false;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (m_pUdp->writeDatagram(pData, nLength, addr, nPort) == nLength)
            return true;
        if (m_pUdp->error() != QAbstractSocket::TemporaryError || waited.elapsed() >= SEND_RETRY_MS)
            return false;
        QThread::msleep(1);
    }
}

void CDatagramReceiver::Resume()
{
    m_bPaused = false;
    OnReadyRead();
}

void CDatagramReceiver::OnReadyRead()
{
    if (!m_pSource || m_bPaused)
        return;
    bool bPaused = false;
    const int nQueued = DrainDatagrams(*m_pSource, m_queue, bPaused, QUEUE_PAUSE_BYTES);
    if (bPaused)
        m_bPaused = true;
    if (nQueued > 0)
        m_notify();
}

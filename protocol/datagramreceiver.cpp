#include "datagramreceiver.h"

#include "datagramqueue.h"
#include "devicemsg.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
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
} // namespace

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
    connect(m_pUdp.get(), &QUdpSocket::readyRead, this, &CDatagramReceiver::OnReadyRead);
    return true;
}

void CDatagramReceiver::Close()
{
    m_pUdp.reset();
}

bool CDatagramReceiver::Send(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort,
                             int nInterface)
{
    if (!m_pUdp)
        return false;
    QNetworkDatagram datagram(QByteArray::fromRawData(pData, nLength), addr, nPort);
    if (nInterface > 0)
        datagram.setInterfaceIndex(uint(nInterface));
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (m_pUdp->writeDatagram(datagram) == nLength)
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
    if (!m_pUdp || m_bPaused)
        return;
    unsigned char buf[READ_LIMIT];
    bool bQueued = false;
    // One system call per datagram: read until the socket has none left,
    // rather than asking first whether one is pending.
    for (;;) {
        quint16 nPort = 0;
        QHostAddress addr;
        const qint64 nRead = m_pUdp->readDatagram(reinterpret_cast<char*>(buf), READ_LIMIT, &addr, &nPort);
        if (nRead < 0 && m_pUdp->error() == QAbstractSocket::TemporaryError)
            break;
        bQueued = true;
        if (m_queue.Push(buf, nRead, nPort, addr.toIPv4Address()) >= QUEUE_PAUSE_BYTES) {
            m_bPaused = true;
            break;
        }
    }
    if (bQueued)
        m_notify();
}

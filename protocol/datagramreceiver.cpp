#include "datagramreceiver.h"

#include "datagramqueue.h"
#include "devicemsg.h"
#include "linuxudp.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QThread>
#include <QUdpSocket>
#include <QVariant>

#include <cstring>

namespace {
// A read that fills this many bytes found a datagram longer than any message.
constexpr qint64 READ_LIMIT = DEVMSG_BUF_SIZE + 1;

constexpr int SEND_RETRY_MS = 2000;

class CUdpSource : public CDatagramSource {
public:
    explicit CUdpSource(QUdpSocket& udp) : m_udp(udp) {}
    bool HasPending() override { return m_udp.hasPendingDatagrams(); }
    void Read(unsigned char* pBuf, qint64 nMax, DatagramInfo& info) override
    {
        // A datagram longer than nMax comes cut to nMax: its length says so.
        const QNetworkDatagram datagram = m_udp.receiveDatagram(nMax);
        if (!datagram.isValid()) {
            info.nLength = -1;
            return;
        }
        const QByteArray data = datagram.data();
        std::memcpy(pBuf, data.constData(), std::size_t(data.size()));
        info.nLength = data.size();
        info.nPort = quint16(datagram.senderPort());
        info.nSenderIp = datagram.senderAddress().toIPv4Address();
        info.nInterface = int(datagram.interfaceIndex());
    }

private:
    QUdpSocket& m_udp;
};
} // namespace

int DrainDatagrams(CDatagramSource& source, CDatagramQueue& queue)
{
    unsigned char buf[READ_LIMIT];
    int nQueued = 0;
    // Asking first whether a datagram waits is what ends the loop: the error
    // a read of an empty socket reports differs between systems (a temporary
    // error here, a network error on Windows).
    while (source.HasPending()) {
        DatagramInfo info;
        source.Read(buf, READ_LIMIT, info);
        ++nQueued;
        if (queue.Push(buf, info) || info.nLength < 0)
            break;
    }
    return nQueued;
}

CDatagramReceiver::CDatagramReceiver(CDatagramQueue& queue, std::function<void()> notify)
    : m_queue(queue), m_notify(std::move(notify))
{
}

CDatagramReceiver::~CDatagramReceiver() = default;

bool CDatagramReceiver::Open(int nReceiveBuffer, bool bPortable)
{
#ifdef Q_OS_LINUX
    if (!bPortable)
        return OpenBatched(nReceiveBuffer);
#else
    Q_UNUSED(bPortable);
#endif
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
#ifdef Q_OS_LINUX
    m_pPaceNotifier.reset();
    m_pNotifier.reset();
    m_pLinux.reset();
#endif
    m_pSource.reset();
    m_pUdp.reset();
}

quint64 CDatagramReceiver::SystemDrops() const
{
#ifdef Q_OS_LINUX
    if (m_pLinux)
        return m_pLinux->SystemDrops();
#endif
    return 0;
}

bool CDatagramReceiver::Send(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort,
                             int nInterface)
{
    QElapsedTimer waited;
    waited.start();
#ifdef Q_OS_LINUX
    if (m_pLinux) {
        bool bRetry = false;
        while (!m_pLinux->SendTo(pData, nLength, addr.toIPv4Address(), nPort, nInterface, bRetry)) {
            if (!bRetry || waited.elapsed() >= SEND_RETRY_MS)
                return false;
            QThread::msleep(1);
        }
        return true;
    }
#endif
    if (!m_pUdp)
        return false;
    QNetworkDatagram datagram(QByteArray::fromRawData(pData, nLength), addr, nPort);
    if (nInterface > 0)
        datagram.setInterfaceIndex(uint(nInterface));
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
#ifdef Q_OS_LINUX
    if (m_pNotifier) {
        m_pNotifier->setEnabled(true);
        OnReadable();
        return;
    }
#endif
    OnReadyRead();
}

void CDatagramReceiver::OnReadyRead()
{
    // Paused, the socket is not read: Qt then stops signalling it, and
    // Resume drains it when the queue has emptied.
    if (!m_pSource || m_queue.IsPaused())
        return;
    if (DrainDatagrams(*m_pSource, m_queue) > 0)
        m_notify();
}

#ifdef Q_OS_LINUX
bool CDatagramReceiver::OpenBatched(int nReceiveBuffer)
{
    auto pLinux = std::make_unique<CLinuxUdp>();
    if (!pLinux->Open(nReceiveBuffer))
        return false;
    m_pLinux = std::move(pLinux);
    m_nReceiveBuffer = m_pLinux->ReceiveBufferSize();
    m_nLocalPort = m_pLinux->LocalPort();
    m_pNotifier = std::make_unique<QSocketNotifier>(m_pLinux->Descriptor(), QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CDatagramReceiver::OnReadable);
    if (m_pLinux->PaceDescriptor() >= 0) {
        m_pPaceNotifier = std::make_unique<QSocketNotifier>(m_pLinux->PaceDescriptor(), QSocketNotifier::Read);
        connect(m_pPaceNotifier.get(), &QSocketNotifier::activated, this, &CDatagramReceiver::OnPaceEnd);
    }
    CLinuxUdp::RequestShortSlice();
    return true;
}

void CDatagramReceiver::OnReadable()
{
    // The notifier reports a readable socket for as long as it is one: a
    // paused reader stops listening until Resume.
    if (m_queue.IsPaused()) {
        m_pNotifier->setEnabled(false);
        return;
    }
    const int nQueued = m_pLinux->Drain(m_queue);
    if (m_queue.IsPaused()) {
        m_pNotifier->setEnabled(false);
    } else if (nQueued > 0 && m_pPaceNotifier) {
        // More may follow: let them gather (see linuxudp.h).
        m_pNotifier->setEnabled(false);
        m_pLinux->StartPace();
    }
    if (nQueued > 0)
        m_notify();
}

void CDatagramReceiver::OnPaceEnd()
{
    m_pLinux->EndPace();
    m_pNotifier->setEnabled(true);
    OnReadable();
}
#endif

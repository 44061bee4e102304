#include "portableudp.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QVariant>

#include <cstring>

namespace {
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

CPortableUdp::CPortableUdp()
{
    m_received.pData = m_buf;
}

CPortableUdp::CPortableUdp(CDatagramSource& source) : CPortableUdp()
{
    m_pSource = &source;
}

CPortableUdp::~CPortableUdp() = default;

bool CPortableUdp::Open(int nReceiveBuffer)
{
    // Qt allows broadcasts on every UDP socket it opens.
    auto pUdp = std::make_unique<QUdpSocket>();
    if (!pUdp->bind(QHostAddress::AnyIPv4, 0))
        return false;
    m_pUdp = std::move(pUdp);
    m_pUdp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, nReceiveBuffer);
    m_nReceiveBuffer = m_pUdp->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    m_nLocalPort = m_pUdp->localPort();
    m_pUdpSource = std::make_unique<CUdpSource>(*m_pUdp);
    m_pSource = m_pUdpSource.get();
    connect(m_pUdp.get(), &QUdpSocket::readyRead, this, &CPortableUdp::OnReadyRead);
    return true;
}

bool CPortableUdp::SendTo(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface,
                          bool& bRetry)
{
    bRetry = false;
    if (!m_pUdp) {
        m_strError = QStringLiteral("the socket is not open");
        return false;
    }
    QNetworkDatagram datagram(QByteArray::fromRawData(pData, nLength), addr, nPort);
    if (nInterface > 0)
        datagram.setInterfaceIndex(uint(nInterface));
    if (m_pUdp->writeDatagram(datagram) == nLength)
        return true;
    bRetry = m_pUdp->error() == QAbstractSocket::TemporaryError;
    m_strError = m_pUdp->errorString();
    return false;
}

int CPortableUdp::Read()
{
    // Asking first whether a datagram waits is what ends a drain: the error
    // a read of an empty socket reports differs between systems (a temporary
    // error here, a network error on Windows).
    if (!m_pSource || !m_pSource->HasPending())
        return 0;
    m_received.info = DatagramInfo();
    m_pSource->Read(m_buf, sizeof m_buf, m_received.info);
    return m_received.info.nLength < 0 ? -1 : 1;
}

void CPortableUdp::OnReadyRead()
{
    // Not listening, the socket is left unread: Qt then stops signalling it
    // until the next read.
    if (m_bListening)
        emit Readable();
}

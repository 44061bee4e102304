#include "devicesocket.h"

#include "alerts.h"
#include "devicereplies.h"
#include "resource.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QThread>
#include <QVariant>

#include <cstring>

namespace {
// A read that fills this many bytes found a datagram longer than any message.
constexpr qint64 READ_LIMIT = DEVMSG_BUF_SIZE + 1;

// Queue record header: datagram length as received, then the source port.
struct QueuedHeader {
    qint32 nLength;
    quint16 nPort;
    quint16 nReserved;
};
constexpr qint64 QUEUE_HEADER_SIZE = sizeof(QueuedHeader);

// Past this much queued data the socket is left alone (its datagrams wait in
// the kernel buffer) until the handlers have caught up; this bounds memory
// under a flood.
constexpr qint64 QUEUE_PAUSE_BYTES = 16 * 1024 * 1024;

constexpr int SEND_RETRY_MS = 2000;

// Stored payload of a queued datagram: receive errors keep none.
qint64 StoredLength(qint32 nLength)
{
    return nLength >= 1 && nLength <= DEVMSG_BUF_SIZE ? nLength : 0;
}
} // namespace

CDeviceSocket::CDeviceSocket() = default;
CDeviceSocket::~CDeviceSocket() = default;

bool CDeviceSocket::Create()
{
    m_pUdp = std::make_unique<QUdpSocket>();
    if (!m_pUdp->bind(QHostAddress::AnyIPv4, 0)) {
        m_pUdp.reset();
        return false;
    }
    m_pUdp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, DEVICE_RCVBUF_SIZE);
    connect(m_pUdp.get(), &QUdpSocket::readyRead, this, &CDeviceSocket::OnReceive);
    m_bOpen = true;
    return true;
}

void CDeviceSocket::Setup(CDeviceReplies* pOwner)
{
    // Qt enables SO_BROADCAST on every UDP socket it opens, so the limited
    // broadcast address needs nothing more here.
    m_pOwner = pOwner;
    m_addrBroadcast = QHostAddress(QHostAddress::Broadcast);
    m_nBroadcastPort = DEVICE_PORT;
}

bool CDeviceSocket::IsOpen() const
{
    return m_bOpen;
}

quint16 CDeviceSocket::LocalPort() const
{
    return m_bOpen ? m_pUdp->localPort() : 0;
}

int CDeviceSocket::ReceiveBufferSize() const
{
    return m_bOpen ? m_pUdp->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt() : 0;
}

int CDeviceSocket::SendDiscover()
{
    DeviceMsg msg{};
    msg.type = DM_DISCOVER;
    msg.body.magic = DISCOVER_MAGIC;
    return SendRequest(msg, QString(), nullptr);
}

int CDeviceSocket::SendSetIp(const QString& strPassword, const QString& strMac, const QString& strNewIp)
{
    DeviceMsg msg{};
    msg.type = DM_SET_IP;
    const QByteArray mac = strMac.toLatin1();
    const QByteArray newIp = strNewIp.toLatin1();
    PutTextField(msg.body.setIp.mac, sizeof msg.body.setIp.mac, {mac.constData(), std::size_t(mac.size())});
    PutTextField(msg.body.setIp.newIp, sizeof msg.body.setIp.newIp, {newIp.constData(), std::size_t(newIp.size())});
    return SendRequest(msg, strPassword, nullptr);
}

int CDeviceSocket::SendGetLogin(const QString& strPassword, const QString& strDeviceIp)
{
    DeviceMsg msg{};
    msg.type = DM_GET_LOGIN;
    return SendRequest(msg, strPassword, &strDeviceIp);
}

int CDeviceSocket::SendReboot(const QString& strPassword, const QString& strDeviceIp)
{
    DeviceMsg msg{};
    msg.type = DM_REBOOT;
    return SendRequest(msg, strPassword, &strDeviceIp);
}

int CDeviceSocket::SendGetFlashInfo(const QString& strPassword, const QString& strDeviceIp)
{
    DeviceMsg msg{};
    msg.type = DM_GET_FLASHINFO;
    return SendRequest(msg, strPassword, &strDeviceIp);
}

int CDeviceSocket::SendPutFlashInfo(const QString& strPassword, const QString& strDeviceIp,
                                    const unsigned char* pImage)
{
    DeviceMsg msg{};
    msg.type = DM_PUT_FLASHINFO;
    std::memcpy(msg.body.image, pImage, FLASHINFO_SIZE);
    return SendRequest(msg, strPassword, &strDeviceIp);
}

bool CDeviceSocket::ResolveHost(const QString& strHost, QHostAddress& addr) const
{
    if (addr.setAddress(strHost))
        return addr.protocol() == QAbstractSocket::IPv4Protocol;
    const QHostInfo info = QHostInfo::fromName(strHost);
    for (const QHostAddress& candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            addr = candidate;
            return true;
        }
    }
    return false;
}

// pstrHost null: broadcast; otherwise unicast to that host, port 8400.
int CDeviceSocket::SendRequest(DeviceMsg& msg, const QString& strPassword, const QString* pstrHost)
{
    const QByteArray password = strPassword.toLatin1();
    PutTextField(msg.password, DEVMSG_PASSWORD_SIZE, {password.constData(), std::size_t(password.size())});

    unsigned char buf[DEVMSG_MAX_SIZE];
    int nPos = 0;
    const int nLength = EncodeDeviceMsg(buf, nPos, msg);

    QHostAddress addrDest = m_addrBroadcast;
    quint16 nPort = m_nBroadcastPort;
    if (pstrHost) {
        nPort = DEVICE_PORT;
        if (!ResolveHost(*pstrHost, addrDest))
            addrDest.clear();
    }

    bool bSent = false;
    if (m_bOpen && !addrDest.isNull() && nPort != 0) {
        // A full send buffer is waited out for a while, as a blocking socket would.
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const qint64 nSent = m_pUdp->writeDatagram(reinterpret_cast<const char*>(buf), nLength, addrDest, nPort);
            if (nSent == nLength) {
                bSent = true;
                break;
            }
            if (m_pUdp->error() != QAbstractSocket::TemporaryError || waited.elapsed() >= SEND_RETRY_MS)
                break;
            QThread::msleep(1);
        }
    }
    if (!bSent) {
        ShowAlert(IDS_SEND_ERROR);
        return 0;
    }
    return 1;
}

void CDeviceSocket::QueueReserve(qint64 nBytes)
{
    if (m_nQueueTail + nBytes <= m_nQueueCapacity)
        return;
    if (m_nQueueHead > 0) {
        std::memmove(m_pQueue.get(), m_pQueue.get() + m_nQueueHead, std::size_t(QueuedBytes()));
        m_nQueueTail -= m_nQueueHead;
        m_nQueueHead = 0;
        if (m_nQueueTail + nBytes <= m_nQueueCapacity)
            return;
    }
    qint64 nCapacity = m_nQueueCapacity ? m_nQueueCapacity * 2 : 64 * 1024;
    while (nCapacity < m_nQueueTail + nBytes)
        nCapacity *= 2;
    auto pQueue = std::make_unique<unsigned char[]>(std::size_t(nCapacity));
    if (m_nQueueTail > 0)
        std::memcpy(pQueue.get(), m_pQueue.get(), std::size_t(m_nQueueTail));
    m_pQueue = std::move(pQueue);
    m_nQueueCapacity = nCapacity;
}

void CDeviceSocket::OnReceive()
{
    if (!m_bOpen)
        return;
    while (m_pUdp->hasPendingDatagrams()) {
        if (QueuedBytes() >= QUEUE_PAUSE_BYTES) {
            m_bReadPaused = true;
            break;
        }
        // Read straight into the queue; the header goes in front afterwards.
        QueueReserve(QUEUE_HEADER_SIZE + READ_LIMIT);
        unsigned char* pRecord = m_pQueue.get() + m_nQueueTail;
        quint16 nPort = 0;
        const qint64 nRead = m_pUdp->readDatagram(reinterpret_cast<char*>(pRecord + QUEUE_HEADER_SIZE), READ_LIMIT,
                                                  nullptr, &nPort);
        QueuedHeader header{};
        header.nLength = nRead < 0 ? -1 : qint32(nRead);
        header.nPort = nPort;
        std::memcpy(pRecord, &header, sizeof header);
        m_nQueueTail += QUEUE_HEADER_SIZE + StoredLength(header.nLength);
    }
    if (QueuedBytes() > 0 && !m_bDispatchPosted) {
        m_bDispatchPosted = true;
        QMetaObject::invokeMethod(this, &CDeviceSocket::DispatchQueued, Qt::QueuedConnection);
    }
}

void CDeviceSocket::DispatchQueued()
{
    m_bDispatchPosted = false;
    while (QueuedBytes() > 0) {
        // Copied out before handling: a handler's nested event loop may queue
        // more datagrams and move the queue's storage.
        QueuedHeader header;
        std::memcpy(&header, m_pQueue.get() + m_nQueueHead, sizeof header);
        const qint64 nStored = StoredLength(header.nLength);
        unsigned char buf[DEVMSG_BUF_SIZE];
        std::memcpy(buf, m_pQueue.get() + m_nQueueHead + QUEUE_HEADER_SIZE, std::size_t(nStored));
        m_nQueueHead += QUEUE_HEADER_SIZE + nStored;
        if (m_nQueueHead == m_nQueueTail)
            m_nQueueHead = m_nQueueTail = 0;

        if (m_bReadPaused && QueuedBytes() < QUEUE_PAUSE_BYTES / 2) {
            m_bReadPaused = false;
            OnReceive();
        }
        HandleDatagram(buf, header.nLength, header.nPort);
    }
}

void CDeviceSocket::HandleDatagram(const unsigned char* pData, qint64 nLength, quint16 nSourcePort)
{
    if (nLength < 1 || nLength > DEVMSG_BUF_SIZE) {
        ShowAlert(IDS_RECEIVE_ERROR);
        return;
    }
    if (nSourcePort != DEVICE_PORT)
        return;

    if (nLength < DEVMSG_HEADER_SIZE || !m_pOwner)
        return;
    // An error reply needs only its header: appliances may leave the body out.
    const std::int8_t nStatus = std::int8_t(pData[DEVMSG_HEADER_SIZE - 1]);
    if (nStatus != DS_OK) {
        m_pOwner->OnStatusError(nStatus);
        return;
    }
    // A reply shorter than its type's layout is dropped: its missing bytes
    // were never sent and a cut-short image must never reach a file.
    if (nLength < DeviceMsgSize(std::int8_t(pData[0])))
        return;

    DeviceMsg msg;
    int nPos = 0;
    DecodeDeviceMsg(pData, nPos, msg);
    switch (msg.type) {
    case DM_DEVICE_INFO: {
        const DeviceInfoBody& info = msg.body.deviceInfo;
        const auto text = [](const char* pField, int nWidth) {
            const std::string_view view = GetTextField(pField, nWidth);
            return QString::fromLatin1(view.data(), qsizetype(view.size()));
        };
        m_pOwner->AddDevice(text(info.serial, sizeof info.serial), text(info.mac, sizeof info.mac),
                            text(info.ip, sizeof info.ip));
        break;
    }
    case DM_SET_IP_ACK:
        m_pOwner->OnSetIpDone();
        break;
    case DM_LOGIN_INFO:
        m_pOwner->OnLoginInfo(msg.body.loginInfo);
        break;
    case DM_REBOOT_ACK:
        m_pOwner->OnRebootDone();
        break;
    case DM_FLASHINFO:
        m_pOwner->OnFlashInfo(msg.body.image);
        break;
    case DM_PUT_FLASHINFO_ACK:
        m_pOwner->OnPutFlashInfoDone();
        break;
    default:
        break;
    }
}

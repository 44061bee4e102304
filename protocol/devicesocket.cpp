#include "devicesocket.h"

#include "socketworker.h"
#include "interfaces.h"

#include <QElapsedTimer>
#include <QHostInfo>

#include <cstring>

namespace {
// Longest run of handlers in one go before the window gets its turn again.
constexpr int DISPATCH_SLICE_MS = 8;
} // namespace

CDeviceSocket::CDeviceSocket() = default;

CDeviceSocket::~CDeviceSocket()
{
    if (m_pWorker) {
        QMetaObject::invokeMethod(m_pWorker.get(), [this] { m_pWorker->Close(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
}

bool CDeviceSocket::Create()
{
    m_pWorker = std::make_unique<CSocketWorker>(m_queue, [this] { PostDispatch(); });
    m_pWorker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("device-receive"));
    m_thread.start();
    bool bOpened = false;
    const int nRequest = m_nReceiveBufferRequest;
    const bool bPortable = m_bPortableReceive;
    QMetaObject::invokeMethod(
        m_pWorker.get(), [&] { bOpened = m_pWorker->Open(nRequest, bPortable); }, Qt::BlockingQueuedConnection);
    if (!bOpened) {
        m_thread.quit();
        m_thread.wait();
        m_pWorker.reset();
        return false;
    }
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
    return m_pWorker != nullptr;
}

quint16 CDeviceSocket::LocalPort() const
{
    return m_pWorker ? m_pWorker->LocalPort() : 0;
}

int CDeviceSocket::ReceiveBufferSize() const
{
    return m_pWorker ? m_pWorker->ReceiveBufferSize() : 0;
}

DeviceReceiveStats CDeviceSocket::Stats() const
{
    DeviceReceiveStats stats = m_stats;
    stats.nSystemDrops = m_pWorker ? m_pWorker->SystemDrops() : 0;
    return stats;
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

int CDeviceSocket::Encode(const DeviceRequest& request, unsigned char* buf)
{
    DeviceMsg msg{};
    msg.type = request.nType;
    const auto put = [](char* pField, int nWidth, const QString& strText) {
        const QByteArray bytes = strText.toLatin1();
        PutTextField(pField, nWidth, {bytes.constData(), std::size_t(bytes.size())});
    };
    put(msg.password, DEVMSG_PASSWORD_SIZE, request.strPassword);
    switch (request.nType) {
    case DM_DISCOVER:
        msg.body.magic = DISCOVER_MAGIC;
        break;
    case DM_SET_IP:
        put(msg.body.setIp.mac, sizeof msg.body.setIp.mac, request.strMac);
        put(msg.body.setIp.newIp, sizeof msg.body.setIp.newIp, request.strNewIp);
        break;
    case DM_PUT_FLASHINFO:
        if (request.image.size() != FLASHINFO_SIZE)
            return 0;
        std::memcpy(msg.body.image, request.image.constData(), FLASHINFO_SIZE);
        break;
    default:
        break;
    }
    int nPos = 0;
    return EncodeDeviceMsg(buf, nPos, msg);
}

int CDeviceSocket::SendDiscoverTo(const QList<quint32>& addresses)
{
    unsigned char buf[DEVMSG_MAX_SIZE];
    const int nLength = Encode(DeviceRequest{}, buf);
    int nSent = 0;
    if (m_pWorker) {
        const char* pBytes = reinterpret_cast<const char*>(buf);
        QMetaObject::invokeMethod(
            m_pWorker.get(),
            [&] {
                for (const quint32 nAddress : addresses)
                    nSent += m_pWorker->Send(pBytes, nLength, QHostAddress(nAddress), DEVICE_PORT) ? 1 : 0;
            },
            Qt::BlockingQueuedConnection);
    }
    return nSent;
}

bool CDeviceSocket::Send(const DeviceRequest& request)
{
    m_sendFailures.clear();
    m_sentOn.clear();
    m_strError.clear();
    unsigned char buf[DEVMSG_MAX_SIZE];
    const int nLength = Encode(request, buf);
    if (nLength == 0) {
        m_strError =
            QStringLiteral("a configuration image is %1 bytes, not %2").arg(FLASHINFO_SIZE).arg(request.image.size());
        return false;
    }

    if (!request.IsBroadcast()) {
        QHostAddress addr;
        if (!ResolveHost(request.strDeviceIp, addr)) {
            m_strError = QStringLiteral("no IPv4 address for \"%1\"").arg(request.strDeviceIp);
            return false;
        }
        return SendOn(buf, nLength, addr, DEVICE_PORT, request.nInterface);
    }
    QList<int> interfaces = m_broadcastInterfaces;
    if (interfaces.isEmpty())
        for (const QNetworkInterface& iface : BroadcastInterfaces())
            interfaces.append(iface.index());
    if (interfaces.isEmpty())
        interfaces.append(0); // no such interface: the plain broadcast, by the routes
    bool bSentAny = false;
    for (const int nIndex : interfaces)
        bSentAny = SendOn(buf, nLength, m_addrBroadcast, m_nBroadcastPort, nIndex) || bSentAny;
    return bSentAny;
}

bool CDeviceSocket::SendOn(const unsigned char* pData, int nLength, const QHostAddress& addr, quint16 nPort,
                           int nInterface)
{
    bool bSent = false;
    if (!m_pWorker) {
        m_strError = QStringLiteral("the socket is not open");
    } else if (addr.isNull() || nPort == 0) {
        m_strError = QStringLiteral("no broadcast address: the endpoint was never set up");
    } else {
        const char* pBytes = reinterpret_cast<const char*>(pData);
        QString strError;
        QMetaObject::invokeMethod(
            m_pWorker.get(),
            [&] {
                bSent = m_pWorker->Send(pBytes, nLength, addr, nPort, nInterface);
                if (!bSent)
                    strError = m_pWorker->ErrorString();
            },
            Qt::BlockingQueuedConnection);
        if (!bSent)
            m_strError = strError;
    }
    const QString strInterface = nInterface > 0 ? QNetworkInterface::interfaceNameFromIndex(nInterface) : QString();
    if (bSent)
        m_sentOn.append(strInterface);
    else if (nInterface > 0)
        m_sendFailures.append(strInterface);
    return bSent;
}

// Runs on either thread: one queued call covers every datagram queued before it runs.
void CDeviceSocket::PostDispatch()
{
    if (!m_bDispatchPosted.exchange(true))
        QMetaObject::invokeMethod(this, &CDeviceSocket::DispatchQueued, Qt::QueuedConnection);
}

void CDeviceSocket::DispatchQueued()
{
    m_bDispatchPosted = false;
    QElapsedTimer slice;
    slice.start();
    // Copied out of the queue before handling: a handler's nested event loop
    // may run this again and take the datagrams after it.
    unsigned char buf[DEVMSG_BUF_SIZE];
    while (const std::optional<PoppedDatagram> popped = m_queue.Pop(buf)) {
        if (popped->bResume && m_pWorker)
            QMetaObject::invokeMethod(m_pWorker.get(), [this] { m_pWorker->Resume(); }, Qt::QueuedConnection);
        // Should this handler open a box, its event loop takes the datagrams
        // still waiting, as it takes those that arrive while it is open.
        if (popped->bMore)
            PostDispatch();
        const DatagramInfo& info = popped->info;
        HandleDatagram(buf, info.nLength, DeviceOrigin{QHostAddress(info.nSenderIp), info.nPort, info.nInterface});
        if (slice.elapsed() >= DISPATCH_SLICE_MS) {
            PostDispatch();
            return;
        }
    }
}

void CDeviceSocket::HandleDatagram(const unsigned char* pData, qint64 nLength, const DeviceOrigin& origin)
{
    if (nLength < 1 || nLength > DEVMSG_BUF_SIZE) {
        ++m_stats.nReceiveErrors;
        if (!m_pOwner)
            return;
        if (nLength < 0)
            m_pOwner->OnReceiveError(DeviceOrigin{}, QStringLiteral("a read of the socket failed"));
        else
            m_pOwner->OnReceiveError(origin, nLength == 0 ? QStringLiteral("empty")
                                                          : QStringLiteral("more than %1 bytes, longer than any message")
                                                                .arg(DEVMSG_BUF_SIZE));
        return;
    }
    if (origin.nPort != DEVICE_PORT) {
        ++m_stats.nWrongPort;
        if (m_pOwner)
            m_pOwner->OnIgnored(origin, QStringLiteral("from port %1, not %2").arg(origin.nPort).arg(DEVICE_PORT));
        return;
    }
    if (nLength < DEVMSG_HEADER_SIZE || !m_pOwner) {
        ++m_stats.nTooShort;
        if (m_pOwner)
            m_pOwner->OnIgnored(origin, QStringLiteral("%1 bytes, shorter than any message").arg(nLength));
        return;
    }
    // An error reply needs only its header: appliances may leave the body out.
    const std::int8_t nType = std::int8_t(pData[0]);
    const std::int8_t nStatus = std::int8_t(pData[DEVMSG_HEADER_SIZE - 1]);
    if (!m_pOwner->AcceptReply(origin, nType, nStatus)) {
        ++m_stats.nRefused;
        return;
    }
    if (nStatus != DS_OK) {
        ++m_stats.nStatusErrors;
        m_pOwner->OnStatusError(origin, nStatus);
        return;
    }
    // A reply shorter than its type's layout is dropped: its missing bytes
    // were never sent and a cut-short image must never reach a file.
    if (nLength < DeviceMsgSize(nType)) {
        ++m_stats.nTooShort;
        m_pOwner->OnIgnored(origin, QStringLiteral("%1 bytes, shorter than a message of type 0x%2")
                                        .arg(nLength)
                                        .arg(nType & 0xFF, 2, 16, QLatin1Char('0')));
        return;
    }

    DeviceMsg msg;
    int nPos = 0;
    DecodeDeviceMsg(pData, nPos, msg);
    if (!Dispatch(origin, msg)) {
        ++m_stats.nIgnored;
        m_pOwner->OnIgnored(origin, QStringLiteral("type 0x%1 is no reply").arg(nType & 0xFF, 2, 16, QLatin1Char('0')));
        return;
    }
    ++m_stats.nReplies;
}

bool CDeviceSocket::Dispatch(const DeviceOrigin& origin, const DeviceMsg& msg)
{
    const auto text = [](const char* pField, int nWidth) {
        const std::string_view view = GetTextField(pField, nWidth);
        return QString::fromLatin1(view.data(), qsizetype(view.size()));
    };
    switch (msg.type) {
    case DM_DEVICE_INFO: {
        const DeviceInfoBody& info = msg.body.deviceInfo;
        m_pOwner->AddDevice(origin, text(info.serial, sizeof info.serial), text(info.mac, sizeof info.mac),
                            text(info.ip, sizeof info.ip));
        return true;
    }
    case DM_SET_IP_ACK:
        m_pOwner->OnSetIpDone(origin);
        return true;
    case DM_LOGIN_INFO: {
        const LoginInfoBody& login = msg.body.loginInfo;
        m_pOwner->OnLoginInfo(origin, {text(login.userName, sizeof login.userName), login.webPort});
        return true;
    }
    case DM_REBOOT_ACK:
        m_pOwner->OnRebootDone(origin);
        return true;
    case DM_FLASHINFO:
        m_pOwner->OnFlashInfo(origin, msg.body.image);
        return true;
    case DM_PUT_FLASHINFO_ACK:
        m_pOwner->OnPutFlashInfoDone(origin);
        return true;
    default:
        return false;
    }
}

#include "session.h"

#include "messages.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

namespace {
quint32 AddressOf(const QString& strIp)
{
    return QHostAddress(strIp).toIPv4Address();
}

QString Hex(int n)
{
    return QStringLiteral("0x%1").arg(n & 0xFF, 2, 16, QLatin1Char('0'));
}
} // namespace

CSession::CSession(bool bVerbose) : m_bVerbose(bVerbose) {}

CSession::~CSession() = default;

bool CSession::Open()
{
    if (!m_socket.Create())
        return false;
    m_socket.Setup(this);
    return true;
}

void CSession::SetInterfaces(const QList<int>& interfaces)
{
    m_interfaces = interfaces;
    m_socket.SetBroadcastInterfaces(interfaces);
}

void CSession::ReportSent(int nType, const QString& strTo)
{
    for (const QString& strName : m_socket.SendFailures())
        Note(QStringLiteral("could not send on interface %1").arg(strName));
    if (!m_bVerbose)
        return;
    for (const QString& strName : m_socket.SentOn())
        Note(QStringLiteral("sent request %1 to %2:%3%4")
                 .arg(Hex(nType), strTo)
                 .arg(DEVICE_PORT)
                 .arg(strName.isEmpty() ? QString() : QStringLiteral(" on ") + strName));
    if (m_socket.SentOn().isEmpty())
        Note(QStringLiteral("could not send request %1 to %2:%3").arg(Hex(nType), strTo).arg(DEVICE_PORT));
}

CSession::Discovered CSession::Discover(int nWindowMs, int nRounds, const StopWhen& stop)
{
    Discovered result;
    m_discovery.emplace(m_sweeper, m_sweep.bBroadcast);
    m_bDiscoveryStopped = false;
    for (int nRound = 0; nRound < nRounds && !m_bDiscoveryStopped; ++nRound) {
        result.bSent = DiscoverRound(nWindowMs, stop) || result.bSent;
        if (stop && stop(m_discovery->Found()))
            break;
    }
    m_sweeper.Stop();
    result.appliances = m_discovery->Sorted();
    m_discovery.reset();
    return result;
}

void CSession::StopDiscovery()
{
    if (!m_discovery)
        return;
    m_bDiscoveryStopped = true;
    if (m_pRoundLoop)
        m_pRoundLoop->quit();
}

bool CSession::DiscoverRound(int nWindowMs, const StopWhen& stop)
{
    bool bSent = false;
    if (m_sweep.bBroadcast) {
        bSent = m_socket.Send(DeviceRequest{});
        ReportSent(DM_DISCOVER, QHostAddress(QHostAddress::Broadcast).toString());
    }
    QEventLoop loop;
    m_pRoundLoop = &loop;
    const auto forget = qScopeGuard([this] { m_pRoundLoop = nullptr; });
    QTimer window;
    window.setSingleShot(true);
    window.setTimerType(Qt::PreciseTimer);
    connect(&window, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    if (stop) {
        // Checked between replies: a found target ends the wait at once.
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (stop(m_discovery->Found()))
                loop.quit();
        });
        poll.start(10);
    }
    m_discovery->NewRound();
    if (m_sweep.ranges.IsEmpty()) {
        window.start(nWindowMs);
        if (!m_bDiscoveryStopped)
            loop.exec();
        return bSent;
    }
    // The wait starts once the last request of the sweep has gone.
    const QMetaObject::Connection swept =
        connect(&m_sweeper, &CAddressSweep::Finished, &window, [&] { window.start(nWindowMs); });
    m_sweeper.Start(m_sweep.ranges, m_sweep.nRate);
    if ((m_sweeper.IsRunning() || window.isActive()) && !m_bDiscoveryStopped)
        loop.exec();
    m_sweeper.Stop();
    disconnect(swept);
    if (m_sweeper.Failed())
        Note(QStringLiteral("could not send to %1 of the addresses of %2")
                 .arg(m_sweeper.Failed())
                 .arg(m_sweep.ranges.Text()));
    if (m_bVerbose)
        Note(QStringLiteral("sent request %1 by unicast to %2 of the addresses of %3, at most %4 a second")
                 .arg(Hex(DM_DISCOVER))
                 .arg(m_sweeper.Sent())
                 .arg(m_sweep.ranges.Text())
                 .arg(m_sweep.nRate));
    return bSent || m_sweeper.Sent() > 0;
}

void CSession::Start(const DeviceRequest& request, int nTimeoutMs, Done done)
{
    const quint32 nAddress = AddressOf(request.strDeviceIp);
    // A second request to one address would take the first one's reply.
    Q_ASSERT(!m_pending.count(nAddress));
    const int nSent = m_socket.Send(request);
    ReportSent(request.nType,
               request.IsBroadcast() ? QHostAddress(QHostAddress::Broadcast).toString() : request.strDeviceIp);

    Pending& pending = m_pending[nAddress];
    pending.nReplyType = ReplyTypeOf(request.nType);
    pending.nAlsoFrom = request.nType == DM_SET_IP ? AddressOf(request.strNewIp) : 0;
    pending.done = std::move(done);
    pending.pTimer = std::make_unique<QTimer>();
    pending.pTimer->setSingleShot(true);
    pending.pTimer->setTimerType(Qt::PreciseTimer);
    RequestResult result;
    result.outcome = nSent ? RequestResult::EOutcome::NoResponse : RequestResult::EOutcome::SendFailed;
    if (!nSent)
        result.strError = m_socket.ErrorString();
    // A failed send ends on the next turn of the loop, not inside Start.
    connect(pending.pTimer.get(), &QTimer::timeout, this, [this, nAddress, result] { Finish(nAddress, result); });
    pending.pTimer->start(nSent ? nTimeoutMs : 0);
}

RequestResult CSession::Run(const DeviceRequest& request, int nTimeoutMs)
{
    RequestResult result;
    QEventLoop loop;
    Start(request, nTimeoutMs, [&](const RequestResult& outcome) {
        result = outcome;
        loop.quit();
    });
    loop.exec();
    return result;
}

bool CSession::Busy(const QString& strIp) const
{
    return m_pending.count(AddressOf(strIp)) > 0;
}

void CSession::Finish(quint32 nAddress, const RequestResult& result)
{
    const auto it = m_pending.find(nAddress);
    if (it == m_pending.end())
        return;
    Done done = std::move(it->second.done);
    // The timer may be the one calling: let it go once control is back in the loop.
    it->second.pTimer.release()->deleteLater();
    m_pending.erase(it);
    done(result);
}

std::unordered_map<quint32, CSession::Pending>::iterator CSession::PendingFrom(const DeviceOrigin& origin)
{
    const quint32 nAddress = origin.addr.toIPv4Address();
    const auto it = m_pending.find(nAddress);
    if (it != m_pending.end() || !nAddress)
        return it;
    return std::find_if(m_pending.begin(), m_pending.end(),
                        [nAddress](const auto& entry) { return entry.second.nAlsoFrom == nAddress; });
}

void CSession::FinishFrom(const DeviceOrigin& origin, RequestResult result)
{
    const auto it = PendingFrom(origin);
    if (it == m_pending.end())
        return;
    if (result.outcome == RequestResult::EOutcome::NoResponse)
        result.outcome = RequestResult::EOutcome::Ok;
    Finish(it->first, result);
}

quint64 CSession::Ignored() const
{
    const DeviceReceiveStats stats = m_socket.Stats();
    return m_nForeign + stats.nReceiveErrors + stats.nWrongPort + stats.nTooShort + stats.nIgnored;
}

bool CSession::AcceptReply(const DeviceOrigin& origin, int nType, int nStatus)
{
    const bool bOnOurInterface =
        m_interfaces.isEmpty() || origin.nInterface == 0 || m_interfaces.contains(origin.nInterface);
    if (m_discovery && nType == DM_DEVICE_INFO && nStatus == DS_OK && bOnOurInterface)
        return true;
    const auto it = PendingFrom(origin);
    if (it != m_pending.end() && it->second.nReplyType == nType && bOnOurInterface)
        return true;
    ++m_nForeign;
    OnIgnored(origin, QStringLiteral("type %1 status %2: %3")
                          .arg(Hex(nType))
                          .arg(nStatus & 0xFF)
                          .arg(!bOnOurInterface ? QStringLiteral("on an interface not chosen")
                               : it == m_pending.end() ? QStringLiteral("no request awaits a reply from there")
                                                       : QStringLiteral("not the reply awaited")));
    return false;
}

void CSession::OnIgnored(const DeviceOrigin& origin, const QString& strReason)
{
    if (m_bVerbose)
        Note(QStringLiteral("ignored a datagram from %1:%2: %3")
                 .arg(origin.addr.toString())
                 .arg(origin.nPort)
                 .arg(strReason));
}

void CSession::OnReceiveError(const DeviceOrigin& origin, const QString& strReason)
{
    if (!m_bVerbose)
        return;
    if (origin.addr.isNull())
        Note(strReason);
    else
        OnIgnored(origin, strReason);
}

void CSession::OnStatusError(const DeviceOrigin& origin, int nStatus)
{
    RequestResult result;
    result.outcome = RequestResult::EOutcome::Status;
    result.nStatus = nStatus;
    FinishFrom(origin, result);
}

void CSession::AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                         const QString& strIp)
{
    Appliance heard = Appliance::Heard(strMac, strIp, strSerial, origin.addr.toIPv4Address());
    heard.nInterface = origin.nInterface;
    if (const auto it = PendingFrom(origin); it != m_pending.end() && it->second.nReplyType == DM_DEVICE_INFO) {
        RequestResult result;
        result.device = heard;
        FinishFrom(origin, result);
    }
    if (m_discovery)
        m_discovery->Add(origin, std::move(heard));
}

void CSession::OnSetIpDone(const DeviceOrigin& origin)
{
    FinishFrom(origin, {});
}

void CSession::OnLoginInfo(const DeviceOrigin& origin, const LoginInfo& loginInfo)
{
    RequestResult result;
    result.login = loginInfo;
    FinishFrom(origin, result);
}

void CSession::OnRebootDone(const DeviceOrigin& origin)
{
    FinishFrom(origin, {});
}

void CSession::OnFlashInfo(const DeviceOrigin& origin, const unsigned char* pImage)
{
    RequestResult result;
    result.image = QByteArray(reinterpret_cast<const char*>(pImage), FLASHINFO_SIZE);
    FinishFrom(origin, result);
}

void CSession::OnPutFlashInfoDone(const DeviceOrigin& origin)
{
    FinishFrom(origin, {});
}

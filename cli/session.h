// CSession: the command line's side of the datagram endpoint.
//
// Unlike the window, which takes any reply from port 8400, a session takes
// for a request only a reply of the expected type from the address the
// request went to (for a set-ip, also from the new address: appliances
// answer it from either); every other datagram is ignored and counted. Several
// requests may be in flight at once, one per appliance address, each with
// its own time-out. Discovery takes device-info replies from anyone.
//
// Everything runs on the thread that owns the session; the waits spin a
// local event loop, which is where the endpoint hands replies on.
#pragma once

#include "addresssweep.h"
#include "devicereplies.h"
#include "devicesocket.h"
#include "discovery.h"
#include "requestresult.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

class QEventLoop;
class QTimer;

class CSession : public QObject, public CDeviceReplies {
    Q_OBJECT
public:
    explicit CSession(bool bVerbose);
    ~CSession() override;

    // Opens the endpoint; false when no socket can be had.
    bool Open();
    // Keeps broadcasts to these interfaces and takes replies only from them;
    // empty for all.
    void SetInterfaces(const QList<int>& interfaces);

    // What each discovery sends besides (or instead of) the broadcast.
    void SetSweep(const SweepOptions& sweep) { m_sweep = sweep; }
    const SweepOptions& Sweep() const { return m_sweep; }

    // Broadcasts discovery nRounds times, and sweeps the ranges set, and
    // gathers the replies for nWindowMs after the last request of each
    // round (CDiscovery). Stops early once stop(found so far) is true.
    using StopWhen = std::function<bool(const QList<Appliance>&)>;
    struct Discovered {
        QList<Appliance> appliances; // sorted by MAC text
        bool bSent = false;          // whether any request could be sent
    };
    Discovered Discover(int nWindowMs, int nRounds, const StopWhen& stop = {});
    // Ends the discovery in progress now, with what it gathered so far (a
    // signal during a watch); the next one runs as usual.
    void StopDiscovery();

    // Sends one request to the appliance at request.strDeviceIp (dotted) and
    // calls done with its outcome, once: DM_SET_IP (broadcast; its
    // acknowledgement is taken from the old address or from strNewIp),
    // DM_DISCOVER (to that address alone), DM_GET_LOGIN, DM_REBOOT,
    // DM_GET_FLASHINFO or DM_PUT_FLASHINFO. One request per address at a
    // time: ask Busy first.
    using Done = std::function<void(const RequestResult&)>;
    void Start(const DeviceRequest& request, int nTimeoutMs, Done done);
    // Start, then wait for the outcome.
    RequestResult Run(const DeviceRequest& request, int nTimeoutMs);
    bool Busy(const QString& strIp) const;

    // Datagrams not taken: other senders or types, bad lengths, wrong ports.
    quint64 Ignored() const;
    DeviceReceiveStats Stats() const { return m_socket.Stats(); }

    bool AcceptReply(const DeviceOrigin& origin, int nType, int nStatus) override;
    void OnIgnored(const DeviceOrigin& origin, const QString& strReason) override;
    void OnReceiveError(const DeviceOrigin& origin, const QString& strReason) override;
    void OnStatusError(const DeviceOrigin& origin, int nStatus) override;
    void AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                   const QString& strIp) override;
    void OnSetIpDone(const DeviceOrigin& origin) override;
    void OnLoginInfo(const DeviceOrigin& origin, const LoginInfo& loginInfo) override;
    void OnRebootDone(const DeviceOrigin& origin) override;
    void OnFlashInfo(const DeviceOrigin& origin, const unsigned char* pImage) override;
    void OnPutFlashInfoDone(const DeviceOrigin& origin) override;

private:
    struct Pending {
        int nReplyType = 0;
        quint32 nAlsoFrom = 0; // a second sender whose reply counts; 0 for none
        Done done;
        std::unique_ptr<QTimer> pTimer;
    };
    void Finish(quint32 nAddress, const RequestResult& result);
    // The request a reply from origin answers: the one sent to its address,
    // or a change of address to it.
    std::unordered_map<quint32, Pending>::iterator PendingFrom(const DeviceOrigin& origin);
    // Ends that request with the reply's result.
    void FinishFrom(const DeviceOrigin& origin, RequestResult result);

    bool m_bVerbose = false;
    CDeviceSocket m_socket;
    std::unordered_map<quint32, Pending> m_pending;
    // Tells which interfaces the request could not leave on; with --verbose,
    // every datagram that did leave.
    void ReportSent(int nType, const QString& strTo);

    // One round: the broadcast and the sweep, then the wait; false when
    // nothing could be sent.
    bool DiscoverRound(int nWindowMs, const StopWhen& stop);

    QList<int> m_interfaces;
    SweepOptions m_sweep;
    CAddressSweep m_sweeper{m_socket};
    // The discovery in progress: it lives only within Discover, which
    // hands back what it gathered.
    std::optional<CDiscovery> m_discovery;
    QEventLoop* m_pRoundLoop = nullptr; // the wait of the round in progress
    bool m_bDiscoveryStopped = false;
    quint64 m_nForeign = 0;
};

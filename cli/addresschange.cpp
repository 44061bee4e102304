#include "addresschange.h"

#include <algorithm>

namespace {
// The appliance may take a moment to move: asked again every second.
void AskAtNewAddress(CSession& session, const AddressChange& change, int nAsksLeft, int nTimeoutMs,
                     const std::function<void(const ChangeResult&)>& done)
{
    const Appliance& a = change.appliance;
    ConfirmAt(session, a.strMacKey, change.strNewIp, a.nInterface, std::min(1000, nTimeoutMs),
              [&session, change, nAsksLeft, nTimeoutMs, done](bool bThere) {
                  if (bThere)
                      done({ChangeResult::EStage::Done, {}});
                  else if (nAsksLeft > 1 && !session.Busy(change.strNewIp))
                      AskAtNewAddress(session, change, nAsksLeft - 1, nTimeoutMs, done);
                  else
                      done({ChangeResult::EStage::NotVerified, {}});
              });
}
} // namespace

void ConfirmAt(CSession& session, const QString& strMacKey, const QString& strIp, int nInterface, int nWindowMs,
               const std::function<void(bool)>& done)
{
    DeviceRequest request;
    request.nType = DM_DISCOVER;
    request.strDeviceIp = strIp;
    request.nInterface = nInterface;
    request.bUnicast = true;
    // Only the target's own MAC, answering from there, is proof: another
    // appliance at that address is none.
    session.Start(request, nWindowMs, [strMacKey, strIp, done](const RequestResult& result) {
        done(result.outcome == RequestResult::EOutcome::Ok && !strMacKey.isEmpty() &&
             result.device.strMacKey == strMacKey && result.device.strIp == strIp);
    });
}

void ChangeAddress(CSession& session, const AddressChange& change, int nTimeoutMs,
                   const std::function<void(const ChangeResult&)>& done)
{
    const Appliance& a = change.appliance;
    DeviceRequest request{DM_SET_IP, change.strPassword, a.strIp, a.nInterface, a.strMac, change.strNewIp, {}};
    // No broadcast crosses a router: an appliance only a sweep found is
    // sent the change at its address.
    request.bUnicast = a.FoundOnlyByScan();
    session.Start(request, nTimeoutMs, [&session, change, nTimeoutMs, done](const RequestResult& ack) {
        if (ack.outcome != RequestResult::EOutcome::Ok) {
            done({ChangeResult::EStage::NotAcknowledged, ack});
            return;
        }
        if (change.acknowledged)
            change.acknowledged();
        if (!change.bVerify)
            done({ChangeResult::EStage::Done, ack});
        else if (session.Busy(change.strNewIp))
            done({ChangeResult::EStage::NotVerified, {}});
        else
            AskAtNewAddress(session, change, std::max(1, (nTimeoutMs + 999) / 1000), nTimeoutMs, done);
    });
}

int LookAgainMs(int nTimeoutMs)
{
    return std::min(1000, nTimeoutMs);
}

QString WhyNotVerified(const QList<Appliance>& found, const QString& strMacKey, const QString& strNewIp)
{
    const auto it = std::find_if(found.begin(), found.end(),
                                 [&](const Appliance& a) { return a.strMacKey == strMacKey; });
    if (it == found.end())
        return QStringLiteral("%1 no longer answers discovery").arg(strMacKey);
    if (it->strIp == strNewIp)
        return {};
    return QStringLiteral("%1 still answers from %2, not %3").arg(strMacKey, it->strIp, strNewIp);
}

// One change of address, as set-ip and provision make it: DM_SET_IP
// broadcast (by unicast to an appliance only a sweep found), naming the
// appliance by its MAC text exactly as it reports it;
// the acknowledgement (from the old address or the new one); then discovery
// asked of the new address alone, about once a second, until the appliance
// answers there with its MAC or the time-out passes.
//
// Several appliances may share an old address (new ones at their factory
// address): the acknowledgement carries no MAC, so only one change per old
// address may wait for one (CSession::Busy), and a mistaken one is caught
// by the check at the new address.
#pragma once

#include "session.h"

#include <functional>

struct AddressChange {
    Appliance appliance; // as discovery found it
    QString strNewIp;    // an address, checked
    QString strPassword;
    bool bVerify = true;
    std::function<void()> acknowledged = {}; // when the acknowledgement came, before the check
};

struct ChangeResult {
    enum class EStage { Done, NotAcknowledged, NotVerified } eStage = EStage::Done;
    RequestResult ack; // how the request ended
};

void ChangeAddress(CSession& session, const AddressChange& change, int nTimeoutMs,
                   const std::function<void(const ChangeResult&)>& done);

// Asks strIp alone for discovery; done(true) when the appliance with this
// MAC (strMacKey: in the one form) answers from there within nWindowMs. One request to strIp at a time:
// ask CSession::Busy first.
void ConfirmAt(CSession& session, const QString& strMacKey, const QString& strIp, int nInterface, int nWindowMs,
               const std::function<void(bool)>& done);

// Once a change is not verified: where the appliance answers in what a
// broadcast discovery found. Empty when at its new address after all (an
// appliance may answer a broadcast but not a discovery sent to it).
QString WhyNotVerified(const QList<Appliance>& found, const QString& strMacKey, const QString& strNewIp);
// The window of that discovery.
int LookAgainMs(int nTimeoutMs);

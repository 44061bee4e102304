// DeviceRequest: one request to the appliances, as every front end (the
// window's page, the command line, the fleet backup) describes it to the
// endpoint.
#pragma once

#include "devicemsg.h"

#include <QByteArray>
#include <QString>

// Every member has an initializer, so that a request may name only the
// members it needs (designated initializers) without a warning.
struct DeviceRequest {
    std::int8_t nType = DM_DISCOVER;
    QString strPassword{};
    // The appliance it is for, dotted (or a host name). Discovery and the
    // change of address are broadcast: for them it only names the appliance
    // the reply is awaited from (empty when any).
    QString strDeviceIp{};
    // The interface to send out of; 0: by the routes (unicast) or every
    // broadcast interface (broadcast).
    int nInterface = 0;
    QString strMac{};   // DM_SET_IP: the appliance's MAC text as it reports it
    QString strNewIp{}; // DM_SET_IP: its new address
    QByteArray image{}; // DM_PUT_FLASHINFO: FLASHINFO_SIZE bytes
    // Discovery or a change of address sent to strDeviceIp alone instead of
    // broadcast: the way to an appliance behind a router, which no
    // broadcast reaches (an appliance may not take a change sent so).
    bool bUnicast = false;

    bool IsBroadcast() const { return (nType == DM_DISCOVER || nType == DM_SET_IP) && !bUnicast; }
};

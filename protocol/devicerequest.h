// DeviceRequest: one request to the appliances, as every front end (the
// window's page, the command line, the fleet backup) describes it to the
// endpoint.
#pragma once

#include "devicemsg.h"

#include <QByteArray>
#include <QString>

struct DeviceRequest {
    std::int8_t nType = DM_DISCOVER;
    QString strPassword;
    // The appliance it is for, dotted (or a host name). The change of address
    // is broadcast, and so is a discovery without an address: for them it
    // only names the appliance the reply is awaited from (empty when any).
    // A discovery with an address asks that address alone.
    QString strDeviceIp;
    // The interface to send out of; 0: by the routes (unicast) or every
    // broadcast interface (broadcast).
    int nInterface = 0;
    QString strMac;   // DM_SET_IP: the appliance's MAC text as it reports it
    QString strNewIp; // DM_SET_IP: its new address
    QByteArray image; // DM_PUT_FLASHINFO: FLASHINFO_SIZE bytes

    bool IsBroadcast() const { return nType == DM_SET_IP || (nType == DM_DISCOVER && strDeviceIp.isEmpty()); }
};

// How one request of the command line ended, with what its reply carried.
#pragma once

#include "appliance.h"
#include "devicereplies.h"

#include <QByteArray>

struct RequestResult {
    enum class EOutcome { Ok, Status, NoResponse, SendFailed } outcome = EOutcome::NoResponse;
    int nStatus = 0;
    QString strError; // of SendFailed: the system's reason
    LoginInfo login;
    QByteArray image;
    Appliance device; // a discovery asked of one address: what answered there
};

// The reply handlers that the datagram endpoint calls: the chooser page
// implements them, tests put a recorder in its place.
#pragma once

#include <QString>

struct LoginInfoBody;

class CDeviceReplies {
public:
    // A reply of any type whose status byte is not 0, widened as a signed value.
    virtual void OnStatusError(int nStatus) = 0;
    virtual void AddDevice(QString strSerial, QString strMac, QString strIp) = 0;
    virtual void OnSetIpDone() = 0;
    virtual void OnLoginInfo(const LoginInfoBody& loginInfo) = 0;
    virtual void OnRebootDone() = 0;
    // pImage holds FLASHINFO_SIZE bytes, valid for the whole call.
    virtual void OnFlashInfo(const unsigned char* pImage) = 0;
    virtual void OnPutFlashInfoDone() = 0;

protected:
    ~CDeviceReplies() = default;
};

// The reply handlers that the datagram endpoint calls: the chooser page and
// the command line implement them, tests put a recorder in its place.
#pragma once

#include <QHostAddress>
#include <QString>

// Where a datagram came from.
struct DeviceOrigin {
    QHostAddress addr;
    quint16 nPort = 0;
    int nInterface = 0; // index of the interface it came in on; 0 when unknown
};

// A login reply's values, decoded from the wire.
struct LoginInfo {
    QString strUserName;
    qint32 nWebPort = 0;
};

class CDeviceReplies {
public:
    // Called for every datagram from port 8400 that reaches a handler below,
    // just before it; false drops the datagram. The page takes every reply
    // whoever sent it; the command line takes only its target's.
    virtual bool AcceptReply(const DeviceOrigin& origin, int nType, int nStatus)
    {
        Q_UNUSED(origin);
        Q_UNUSED(nType);
        Q_UNUSED(nStatus);
        return true;
    }
    // A datagram no handler below gets, and why (for logs; the page shows nothing).
    virtual void OnIgnored(const DeviceOrigin& origin, const QString& strReason)
    {
        Q_UNUSED(origin);
        Q_UNUSED(strReason);
    }
    // A failed read, or a datagram that is empty or longer than any message,
    // and which of them. origin.addr is null after a failed read: no datagram
    // came to name a sender.
    virtual void OnReceiveError(const DeviceOrigin& origin, const QString& strReason) = 0;
    // Each handler below is told who sent the reply. A reply of any type
    // whose status byte is not 0, the status widened as a signed value:
    virtual void OnStatusError(const DeviceOrigin& origin, int nStatus) = 0;
    virtual void AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                           const QString& strIp) = 0;
    virtual void OnSetIpDone(const DeviceOrigin& origin) = 0;
    virtual void OnLoginInfo(const DeviceOrigin& origin, const LoginInfo& loginInfo) = 0;
    virtual void OnRebootDone(const DeviceOrigin& origin) = 0;
    // pImage holds FLASHINFO_SIZE bytes, valid for the whole call.
    virtual void OnFlashInfo(const DeviceOrigin& origin, const unsigned char* pImage) = 0;
    virtual void OnPutFlashInfoDone(const DeviceOrigin& origin) = 0;

protected:
    ~CDeviceReplies() = default;
};

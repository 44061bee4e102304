// An owner that records every reply call of the endpoint.
#pragma once

#include "devicereplies.h"

#include <QStringList>

#include <vector>

// Records each reply call as one line, e.g. "AddDevice NV-1|00:1A|10.200.1.1".
class CRecordingReplies : public CDeviceReplies {
public:
    void OnReceiveError(const DeviceOrigin& origin, const QString& strReason) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnReceiveError ") + strReason;
    }
    void OnStatusError(const DeviceOrigin& origin, int nStatus) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnStatusError %1").arg(nStatus);
    }
    void AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                   const QString& strIp) override
    {
        Heard(origin);
        m_calls << QStringLiteral("AddDevice %1|%2|%3").arg(strSerial, strMac, strIp);
    }
    void OnSetIpDone(const DeviceOrigin& origin) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnSetIpDone");
    }
    void OnLoginInfo(const DeviceOrigin& origin, const LoginInfo& loginInfo) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnLoginInfo %1|%2").arg(loginInfo.strUserName).arg(loginInfo.nWebPort);
    }
    void OnRebootDone(const DeviceOrigin& origin) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnRebootDone");
    }
    void OnFlashInfo(const DeviceOrigin& origin, const unsigned char* pImage) override;
    void OnPutFlashInfoDone(const DeviceOrigin& origin) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnPutFlashInfoDone");
    }
    void Heard(const DeviceOrigin& origin) { m_origins.push_back(origin); }

    QStringList m_calls;
    std::vector<DeviceOrigin> m_origins; // the sender of each reply call
    QByteArray m_lastImage;
};

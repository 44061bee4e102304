// Messages as they travel: the bytes a test feeds in or expects to see sent.
#pragma once

#include "devicemsg.h"

#include <QByteArray>
#include <QtEndian>

// A fixed-width text field: zero-padded or cut to nWidth bytes.
inline QByteArray TextField(const QByteArray& text, int nWidth)
{
    QByteArray bytes = text;
    bytes.resize(nWidth, '\0');
    return bytes;
}

// A header: type, ten password bytes, status.
inline QByteArray Msg(int nType, const char* pszPassword = "", int nStatus = 0)
{
    return char(nType) + TextField(pszPassword, DEVMSG_PASSWORD_SIZE) + char(nStatus);
}

inline QByteArray DeviceInfo(const char* pszSerial, const char* pszMac, const char* pszIp, int nStatus = 0)
{
    return Msg(DM_DEVICE_INFO, "", nStatus) + TextField(pszSerial, 24) + TextField(pszMac, 18)
           + TextField(pszIp, 16);
}

inline QByteArray LoginReply(const QByteArray& userName, qint32 nPort)
{
    QByteArray port(4, '\0');
    qToLittleEndian(nPort, port.data());
    return Msg(DM_LOGIN_INFO) + TextField(userName, 10) + port;
}

inline QByteArray ImageReply(const QByteArray& image)
{
    return Msg(DM_FLASHINFO) + image;
}

inline const QByteArray kDiscover = Msg(DM_DISCOVER) + QByteArray::fromHex("474f5258");

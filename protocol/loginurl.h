// The appliance's web login page: the one URL that the window opens in the
// browser and that `norvane login-url` prints.
#pragma once

#include <QByteArray>
#include <QString>

// The longest login URL is one character shorter than this.
constexpr int LOGIN_URL_BUF_SIZE = 1024;

// The URL from its four values, user name and password percent-encoded.
QByteArray FormatLoginUrl(const QString& strDeviceIp, int nWebPort, const QString& strUserName,
                          const QString& strPassword);

// The URL that may be opened, or an empty array when none may: the address
// is not a dotted-decimal IPv4 address, or the URL is too long.
QByteArray LoginUrlToOpen(const QString& strDeviceIp, int nWebPort, const QString& strUserName,
                          const QString& strPassword);

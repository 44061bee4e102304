#include "loginurl.h"

#include <QHostAddress>

QByteArray FormatLoginUrl(const QString& strDeviceIp, int nWebPort, const QString& strUserName,
                          const QString& strPassword)
{
    // User name (it comes from the network) and password are percent-encoded:
    // verbatim, an '&', '#', '%' or '+' would cut them short or add
    // parameters of their own. Both travel as the 8-bit text the appliance
    // knows them by.
    return "http://" + strDeviceIp.toLatin1() + ':' + QByteArray::number(nWebPort) +
           "/cgi-bin/qx_login-act.cgi?USER_NAME=" + strUserName.toLatin1().toPercentEncoding() +
           "&USER_PASSWD=" + strPassword.toLatin1().toPercentEncoding();
}

QByteArray LoginUrlToOpen(const QString& strDeviceIp, int nWebPort, const QString& strUserName,
                          const QString& strPassword)
{
    // The address may be a row's IP text as an appliance reported it: only a
    // dotted-decimal address becomes the host, or a hostile reply could send
    // the password elsewhere or cut the URL short.
    const QHostAddress addr(strDeviceIp);
    if (addr.protocol() != QAbstractSocket::IPv4Protocol || addr.toString() != strDeviceIp)
        return {};
    QByteArray url = FormatLoginUrl(strDeviceIp, nWebPort, strUserName, strPassword);
    // Only a very long password makes the URL this long; the window and
    // `norvane login-url` refuse it alike.
    if (url.size() > LOGIN_URL_BUF_SIZE - 1)
        return {};
    return url;
}

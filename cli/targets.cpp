#include "targets.h"

#include "interfaces.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>

namespace {
const QRegularExpression& Dotted()
{
    // ASCII digits only (\d takes any script's), to the very end of the text
    // ("$" would let one from the network end in a newline).
    static const QRegularExpression dotted(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\z"));
    return dotted;
}

// The network and broadcast addresses of the subnets of this host's
// interfaces, with the subnet.
QString LocalSubnetEdge(quint32 nIp)
{
    for (const LocalSubnet& subnet : LocalSubnets()) {
        if (nIp != subnet.nNetwork && nIp != subnet.Broadcast())
            continue;
        const QString strSubnet =
            QStringLiteral("%1/%2").arg(QHostAddress(subnet.nNetwork).toString()).arg(subnet.nPrefix);
        if (nIp == subnet.nNetwork)
            return QStringLiteral("the network address of the local subnet %1").arg(strSubnet);
        if (nIp == subnet.Broadcast())
            return QStringLiteral("the broadcast address of the local subnet %1: it reaches every host there")
                .arg(strSubnet);
    }
    return {};
}
} // namespace

QString CanonicalMac(const QString& strText)
{
    // Anchored to the very end: a "$" would let a MAC text from the network end in a newline.
    static const QRegularExpression mac(QRegularExpression::anchoredPattern(
        QStringLiteral("[0-9A-Fa-f]{2}([:-]?)[0-9A-Fa-f]{2}(\\1[0-9A-Fa-f]{2}){4}|[0-9A-Fa-f]{4}(\\.[0-9A-Fa-f]{4}){2}")));
    if (!mac.match(strText).hasMatch())
        return {};
    QString strHex = strText.toUpper();
    strHex.remove(QLatin1Char(':')).remove(QLatin1Char('-')).remove(QLatin1Char('.'));
    QStringList octets;
    for (qsizetype i = 0; i < strHex.size(); i += 2)
        octets << strHex.mid(i, 2);
    return octets.join(QLatin1Char(':'));
}

QString CanonicalIp(const QString& strText)
{
    const QRegularExpressionMatch match = Dotted().match(strText);
    if (!match.hasMatch())
        return {};
    QStringList octets;
    for (int i = 1; i <= 4; ++i) {
        const QString strOctet = match.captured(i);
        const int n = strOctet.toInt();
        if (n > 255 || (strOctet.size() > 1 && strOctet.startsWith(QLatin1Char('0'))))
            return {};
        octets << QString::number(n);
    }
    return octets.join(QLatin1Char('.'));
}

QString IpTextProblem(const QString& strText)
{
    const QRegularExpressionMatch match = Dotted().match(strText);
    if (!match.hasMatch())
        return {};
    for (int i = 1; i <= 4; ++i) {
        const QString strOctet = match.captured(i);
        if (strOctet.size() > 1 && strOctet.startsWith(QLatin1Char('0')))
            return QStringLiteral("%1 has a leading zero, which ping and many other tools read as an octal "
                                  "number (010 is 8); write it without")
                .arg(strText);
        if (strOctet.toInt() > 255)
            return QStringLiteral("%1 has a number above 255").arg(strText);
    }
    return {};
}

QString UnusableIpReason(const QString& strDotted)
{
    const QHostAddress addr(strDotted);
    if (addr.protocol() != QAbstractSocket::IPv4Protocol)
        return QStringLiteral("not an IPv4 address");
    const quint32 nIp = addr.toIPv4Address();
    const quint32 nFirst = nIp >> 24;
    if (nFirst == 0)
        return QStringLiteral("0.x.x.x names this host, never an appliance");
    if (nFirst == 127)
        return QStringLiteral("a loopback address of this host");
    if (nIp == 0xFFFFFFFFu)
        return QStringLiteral("the broadcast address: it reaches every host");
    if (nFirst >= 224 && nFirst < 240)
        return QStringLiteral("a multicast address");
    if (nFirst >= 240)
        return QStringLiteral("a reserved address");
    return LocalSubnetEdge(nIp);
}

bool UsableIp(const QString& strDotted)
{
    return UnusableIpReason(strDotted).isEmpty();
}

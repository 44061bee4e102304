#include "targets.h"

#include "interfaces.h"
#include "ipv4text.h"

#include <QRegularExpression>
#include <QStringList>

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
    quint32 nIp = 0;
    return ParseIpv4(strText, nIp) ? Ipv4Text(nIp) : QString();
}

QString IpTextProblem(const QString& strText)
{
    return Ipv4TextProblem(strText);
}

QString UnusableIpReason(const QString& strDotted)
{
    quint32 nIp = 0;
    if (!ParseIpv4(strDotted, nIp))
        return QStringLiteral("not an IPv4 address");
    return UnusableIpv4Reason(nIp);
}

bool UsableIp(const QString& strDotted)
{
    return UnusableIpReason(strDotted).isEmpty();
}

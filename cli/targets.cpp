#include "targets.h"

#include "stringtable.h"

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
    static const QRegularExpression dotted(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = dotted.match(strText);
    if (!match.hasMatch())
        return {};
    QStringList octets;
    for (int i = 1; i <= 4; ++i) {
        const int n = match.captured(i).toInt();
        if (n > 255)
            return {};
        octets << QString::number(n);
    }
    return octets.join(QLatin1Char('.'));
}

bool UsableIp(const QString& strDotted)
{
    const QStringList octets = strDotted.split(QLatin1Char('.'));
    if (octets.size() != 4)
        return false;
    const int nFirst = octets[0].toInt();
    return strDotted != QLatin1String("0.0.0.0") && strDotted != QLatin1String("255.255.255.255") &&
           (nFirst < 224 || nFirst > 239);
}

QString Text(unsigned nId)
{
    QString strText;
    LoadString(nId, strText);
    return strText;
}

#include "output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {
// Texts come from the network: on a terminal a control character could
// move the cursor or rewrite the screen, so each shows as \xNN instead.
QString Printable(const QString& strText)
{
    QString strOut;
    for (const QChar c : strText) {
        const ushort n = c.unicode();
        if (n < 0x20 || (n >= 0x7F && n < 0xA0) || c == QLatin1Char('\\'))
            strOut += QStringLiteral("\\x%1").arg(n, 2, 16, QLatin1Char('0'));
        else
            strOut += c;
    }
    return strOut;
}

QString CsvField(const QString& strText)
{
    const bool bQuote = std::any_of(strText.begin(), strText.end(), [](QChar c) {
        return c == QLatin1Char(',') || c == QLatin1Char('"') || c.unicode() < 0x20 || c.unicode() == 0x7F;
    }) || strText.startsWith(QLatin1Char(' ')) || strText.endsWith(QLatin1Char(' '));
    if (!bQuote)
        return strText;
    QString strQuoted = strText;
    strQuoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + strQuoted + QLatin1Char('"');
}
} // namespace

QByteArray FormatTable(const QList<Appliance>& list)
{
    QList<QStringList> rows{{QStringLiteral("MAC"), QStringLiteral("IP"), QStringLiteral("SERIAL"),
                             QStringLiteral("INTERFACE"), QStringLiteral("FOUND BY")}};
    for (const Appliance& a : list)
        rows.append({Printable(a.strMac), Printable(a.strIp), Printable(a.strSerial), a.interfaces.join(','),
                     a.foundBy.join(',')});
    qsizetype nWidths[4] = {0, 0, 0, 0};
    for (const QStringList& row : rows)
        for (int i = 0; i < 4; ++i)
            nWidths[i] = std::max(nWidths[i], row[i].size());
    QString strOut;
    for (const QStringList& row : rows) {
        for (int i = 0; i < 4; ++i)
            strOut += row[i].leftJustified(nWidths[i] + 2);
        strOut += row[4] + QLatin1Char('\n');
    }
    return strOut.toUtf8();
}

QByteArray FormatJson(const QList<Appliance>& list)
{
    QJsonArray array;
    for (const Appliance& a : list)
        array.append(QJsonObject{{"mac", a.strMac},
                                 {"ip", a.strIp},
                                 {"serial", a.strSerial},
                                 {"interfaces", QJsonArray::fromStringList(a.interfaces)},
                                 {"found_by", QJsonArray::fromStringList(a.foundBy)}});
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray FormatCsv(const QList<Appliance>& list)
{
    QString strOut = QStringLiteral("mac,ip,serial,interfaces,found_by\n");
    for (const Appliance& a : list)
        strOut += CsvField(a.strMac) + QLatin1Char(',') + CsvField(a.strIp) + QLatin1Char(',') +
                  CsvField(a.strSerial) + QLatin1Char(',') + CsvField(a.interfaces.join(' ')) + QLatin1Char(',') +
                  CsvField(a.foundBy.join(' ')) + QStringLiteral("\n");
    return strOut.toUtf8();
}

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

// A list in one cell of the table or of CSV: its items separated by
// spaces, which no interface name holds and which CSV needs no quotes for.
QString Items(const QStringList& items)
{
    return items.join(QLatin1Char(' '));
}
} // namespace

QByteArray FormatTable(const QList<Appliance>& list)
{
    QList<QStringList> rows{{QStringLiteral("MAC"), QStringLiteral("IP"), QStringLiteral("SERIAL"),
                             QStringLiteral("INTERFACE"), QStringLiteral("FOUND BY")}};
    for (const Appliance& a : list)
        rows.append({a.strMac, a.strIp, a.strSerial, Items(a.interfaces), Items(a.foundBy)});
    return FormatColumns(rows);
}

QByteArray FormatColumns(const QList<QStringList>& rows)
{
    QList<QStringList> shown;
    QList<qsizetype> widths;
    for (const QStringList& row : rows) {
        QStringList cells;
        for (qsizetype i = 0; i < row.size(); ++i) {
            cells << Printable(row[i]);
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], cells.last().size());
        }
        shown.append(cells);
    }
    QString strOut;
    for (const QStringList& row : shown) {
        for (qsizetype i = 0; i + 1 < row.size(); ++i)
            strOut += row[i].leftJustified(widths[i] + 2);
        strOut += row.value(row.size() - 1) + QLatin1Char('\n');
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
    QList<QStringList> rows{{QStringLiteral("mac"), QStringLiteral("ip"), QStringLiteral("serial"),
                             QStringLiteral("interfaces"), QStringLiteral("found_by")}};
    for (const Appliance& a : list)
        rows.append({a.strMac, a.strIp, a.strSerial, Items(a.interfaces), Items(a.foundBy)});
    return FormatCsvRows(rows);
}

QByteArray FormatCsvRows(const QList<QStringList>& rows)
{
    QString strOut;
    for (const QStringList& row : rows) {
        QStringList fields;
        for (const QString& strField : row)
            fields << CsvField(strField);
        strOut += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return strOut.toUtf8();
}

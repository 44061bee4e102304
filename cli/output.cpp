#include "output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdlib>

namespace {
// Texts come from the network: on a terminal a control character could
// move the cursor or rewrite the screen, so each shows as \xNN instead.
QString Printable(const QString& strText)
{
    const auto isShown = [](QChar c) {
        const ushort n = c.unicode();
        return !(n < 0x20 || (n >= 0x7F && n < 0xA0) || c == QLatin1Char('\\'));
    };
    if (std::all_of(strText.begin(), strText.end(), isShown))
        return strText;
    QString strOut;
    for (const QChar c : strText) {
        if (!isShown(c))
            strOut += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
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
    QList<qsizetype> widths;
    for (const QStringList& row : rows)
        MeasureColumns(row, widths);
    QString strOut;
    for (const QStringList& row : rows)
        strOut += ColumnsLine(row, widths);
    return strOut.toUtf8();
}

void MeasureColumns(const QStringList& row, QList<qsizetype>& widths)
{
    for (qsizetype i = 0; i < row.size(); ++i) {
        if (widths.size() <= i)
            widths.append(0);
        widths[i] = std::max(widths[i], Printable(row[i]).size());
    }
}

QString ColumnsLine(const QStringList& row, const QList<qsizetype>& widths)
{
    QString strLine;
    for (qsizetype i = 0; i + 1 < row.size(); ++i)
        strLine += Printable(row[i]).leftJustified(widths[i] + 2);
    return strLine + Printable(row.value(row.size() - 1)) + QLatin1Char('\n');
}

QJsonObject ApplianceJson(const Appliance& a)
{
    return QJsonObject{{"mac", a.strMac},
                       {"ip", a.strIp},
                       {"serial", a.strSerial},
                       {"interfaces", QJsonArray::fromStringList(a.interfaces)},
                       {"found_by", QJsonArray::fromStringList(a.foundBy)}};
}

QByteArray FormatJson(const QList<Appliance>& list)
{
    QJsonArray array;
    for (const Appliance& a : list)
        array.append(ApplianceJson(a));
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
    for (const QStringList& row : rows)
        strOut += CsvLine(row);
    return strOut.toUtf8();
}

QString CsvLine(const QStringList& row)
{
    QStringList fields;
    for (const QString& strField : row)
        fields << CsvField(strField);
    return fields.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString EventText(WatchEvent::EKind eKind)
{
    using EKind = WatchEvent::EKind;
    switch (eKind) {
    case EKind::Appeared:
        return QStringLiteral("appeared");
    case EKind::Moved:
        return QStringLiteral("moved");
    case EKind::Changed:
        return QStringLiteral("changed");
    case EKind::Gone:
        return QStringLiteral("gone");
    case EKind::Corrected:
        return QStringLiteral("corrected");
    case EKind::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QByteArray FormatEvent(const WatchEvent& event, const QDateTime& time, bool bJson)
{
    const Appliance& a = event.appliance;
    if (bJson) {
        QJsonObject object = ApplianceJson(a);
        for (auto it = event.extra.begin(); it != event.extra.end(); ++it)
            object.insert(it.key(), *it);
        object.insert(QStringLiteral("event"), EventText(event.eKind));
        object.insert(QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs));
        if (!event.strPreviousIp.isEmpty())
            object.insert(QStringLiteral("previous_ip"), event.strPreviousIp);
        if (!event.strPreviousSerial.isEmpty())
            object.insert(QStringLiteral("previous_serial"), event.strPreviousSerial);
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    // With its offset from UTC: a log read elsewhere, or across a change of
    // summer time, still says when.
    const QDateTime local = time.toLocalTime();
    const int nOffset = local.offsetFromUtc() / 60;
    const QString strWhen = local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
                            QString::asprintf("%c%02d:%02d", nOffset < 0 ? '-' : '+', std::abs(nOffset) / 60,
                                              std::abs(nOffset) % 60);
    QStringList cells{strWhen, EventText(event.eKind).leftJustified(8),
                      Printable(a.strMac).leftJustified(17), Printable(a.strIp).leftJustified(15),
                      Printable(a.strSerial)};
    if (!event.strPreviousIp.isEmpty())
        cells << QStringLiteral("(was %1)").arg(Printable(event.strPreviousIp));
    if (!event.strPreviousSerial.isEmpty())
        cells << QStringLiteral("(was %1)").arg(Printable(event.strPreviousSerial));
    // What a command adds, in its words: provision's outcome, for one.
    for (auto it = event.extra.begin(); it != event.extra.end(); ++it)
        if (it->isString() && !it->toString().isEmpty())
            cells << QStringLiteral("%1: %2").arg(it.key(), Printable(it->toString()));
    if (!a.foundBy.isEmpty())
        cells << Items(a.foundBy);
    return (cells.join(QStringLiteral("  ")) + QLatin1Char('\n')).toUtf8();
}

#include "plan.h"

#include "messages.h"
#include "steps.h"
#include "targets.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>

namespace {
// One line's fields; false when a quote is left open.
bool SplitCsv(const QString& strLine, QStringList& fields)
{
    fields.clear();
    QString strField;
    bool bQuoted = false, bWasQuoted = false;
    for (qsizetype i = 0; i < strLine.size(); ++i) {
        const QChar c = strLine[i];
        if (bQuoted) {
            if (c != QLatin1Char('"'))
                strField += c;
            else if (i + 1 < strLine.size() && strLine[i + 1] == QLatin1Char('"'))
                strField += strLine[++i];
            else
                bQuoted = false;
        } else if (c == QLatin1Char('"') && strField.trimmed().isEmpty()) {
            strField.clear();
            bQuoted = bWasQuoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << (bWasQuoted ? strField : strField.trimmed());
            strField.clear();
            bWasQuoted = false;
        } else if (!bWasQuoted || !c.isSpace()) {
            strField += c;
        }
    }
    fields << (bWasQuoted ? strField : strField.trimmed());
    return !bQuoted;
}

// Duplicate MACs and addresses, each named with the row it repeats.
void CheckDuplicates(const QList<PlanRow>& rows, QStringList& problems)
{
    QHash<QString, QString> macs, ips;
    for (const PlanRow& row : rows) {
        if (const auto it = macs.constFind(row.strMac); it != macs.constEnd())
            problems << QStringLiteral("%1: MAC %2 is planned already, at %3").arg(row.strWhere, row.strMac, *it);
        else
            macs.insert(row.strMac, row.strWhere);
        if (row.strIp.isEmpty())
            continue;
        if (const auto it = ips.constFind(row.strIp); it != ips.constEnd())
            problems << QStringLiteral("%1: address %2 is planned already, at %3").arg(row.strWhere, row.strIp, *it);
        else
            ips.insert(row.strIp, row.strWhere);
    }
}
} // namespace

QList<PlanRow> ReadPlan(const QString& strPath, QStringList& problems)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        Usage(QStringLiteral("cannot read the plan %1: %2").arg(strPath, file.errorString()));
    // A plan holds a line per appliance: more than this is some other file
    // given by mistake, or a stream with no end (/dev/zero), not to be
    // read into memory whole.
    constexpr qint64 nMaxBytes = 16 << 20;
    const QByteArray bytes = file.read(nMaxBytes + 1);
    if (bytes.size() > nMaxBytes)
        Usage(QStringLiteral("the plan %1 is larger than 16 MiB; a plan has one line per appliance").arg(strPath));
    const QStringList lines = TextFromBytes(bytes).split(QLatin1Char('\n'));

    QList<PlanRow> rows;
    QHash<QString, qsizetype> columns;
    qsizetype nColumns = 0;
    QStringList fields;
    for (qsizetype nLine = 1; nLine <= lines.size(); ++nLine) {
        const QString& strLine = lines[nLine - 1];
        if (strLine.trimmed().isEmpty())
            continue;
        const QString strWhere = QStringLiteral("%1:%2").arg(strPath).arg(nLine);
        if (!SplitCsv(strLine, fields)) {
            problems << strWhere + QStringLiteral(": a quote is not closed");
            continue;
        }
        if (!nColumns) {
            nColumns = fields.size();
            for (qsizetype k = 0; k < fields.size(); ++k) {
                const QString strName = fields[k].toLower();
                if (strName != QLatin1String("mac") && strName != QLatin1String("ip") &&
                    strName != QLatin1String("password"))
                    problems << strWhere + QStringLiteral(": unknown column '%1' (the columns are mac, ip and "
                                                          "password)").arg(fields[k]);
                else if (columns.contains(strName))
                    problems << strWhere + QStringLiteral(": column %1 named twice").arg(strName);
                columns.insert(strName, k);
            }
            if (!columns.contains(QStringLiteral("mac")) || !columns.contains(QStringLiteral("ip"))) {
                problems << strWhere + QStringLiteral(": the header must name the columns mac and ip");
                return rows;
            }
            continue;
        }
        if (fields.size() != nColumns) {
            problems << strWhere + QStringLiteral(": %1 fields where the header has %2").arg(fields.size()).arg(nColumns);
            continue;
        }
        PlanRow row;
        row.strWhere = strWhere;
        const QString strMac = fields.value(columns.value(QStringLiteral("mac"), -1));
        row.strMac = CanonicalMac(strMac);
        if (row.strMac.isEmpty()) {
            problems << strWhere + QStringLiteral(": not a MAC address: '%1'").arg(strMac);
            continue;
        }
        const QString strIp = fields.value(columns.value(QStringLiteral("ip"), -1));
        if (const QString strWhy = IpRefusal(strIp); !strWhy.isEmpty())
            problems << strWhere + QStringLiteral(": ") + strWhy;
        else
            row.strIp = CanonicalIp(strIp);
        if (columns.contains(QStringLiteral("password"))) {
            row.strPassword = fields.value(columns.value(QStringLiteral("password")));
            // An empty cell takes the password given as usual.
            row.bPassword = !row.strPassword.isEmpty();
            if (const QString strWhy = PasswordProblem(row.strPassword); !strWhy.isEmpty())
                problems << strWhere + QStringLiteral(": ") + strWhy;
        }
        rows.append(row);
    }
    if (!nColumns)
        problems << strPath + QStringLiteral(": empty: a header line (mac,ip) and a row per appliance are needed");
    CheckDuplicates(rows, problems);
    return rows;
}

QList<PlanRow> NumberedPlan(const QList<Appliance>& appliances, const QString& strFirstIp, QStringList& problems)
{
    QList<PlanRow> rows;
    const quint64 nFirst = QHostAddress(strFirstIp).toIPv4Address();
    for (qsizetype i = 0; i < appliances.size(); ++i) {
        PlanRow row;
        row.strMac = CanonicalMac(appliances[i].strMac);
        row.strWhere = row.strMac.isEmpty() ? appliances[i].strMac : row.strMac;
        if (nFirst + quint64(i) > 0xFFFFFFFFu) {
            problems << QStringLiteral("%1: no address is left after 255.255.255.255").arg(row.strWhere);
            break;
        }
        const QString strIp = QHostAddress(quint32(nFirst + quint64(i))).toString();
        // Consecutive addresses leave a local subnet only through its
        // broadcast address, which is refused here.
        if (const QString strWhy = IpRefusal(strIp); !strWhy.isEmpty()) {
            problems << QStringLiteral("%1: %2 of %3 appliances fit from %4: %5")
                            .arg(row.strWhere)
                            .arg(i)
                            .arg(appliances.size())
                            .arg(strFirstIp, strWhy);
            break;
        }
        row.strIp = strIp;
        rows.append(row);
    }
    return rows;
}

void CheckOccupied(const QList<PlanRow>& rows, const QList<Appliance>& found, QStringList& problems)
{
    QMultiHash<QString, QString> macsAt; // canonical address -> MACs answering there
    for (const Appliance& a : found)
        macsAt.insert(CanonicalIp(a.strIp), CanonicalMac(a.strMac));
    for (const PlanRow& row : rows)
        for (const QString& strMac : macsAt.values(row.strIp))
            if (strMac != row.strMac)
                problems << QStringLiteral("%1: %2 already answers for another appliance, %3")
                                .arg(row.strWhere, row.strIp, strMac.isEmpty() ? QStringLiteral("?") : strMac);
}

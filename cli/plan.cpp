#include "plan.h"

#include "interfaces.h"
#include "messages.h"
#include "steps.h"
#include "targets.h"
#include "terminal.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QStringDecoder>

#include <algorithm>
#include <vector>

namespace {
// One line's fields; false when a quote is left open.
bool SplitCsv(QStringView line, QStringList& fields)
{
    fields.clear();
    if (!line.contains(QLatin1Char('"'))) {
        for (const QStringView field : line.tokenize(QLatin1Char(',')))
            fields << field.trimmed().toString();
        return true;
    }
    QString strField;
    bool bQuoted = false, bWasQuoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (bQuoted) {
            if (c != QLatin1Char('"'))
                strField += c;
            else if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
                strField += line[++i];
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

// The plan's text from the line of its first byte beyond ASCII on,
// decoded as TextFromBytes decodes a whole file: as UTF-8 unless a byte is
// not, then as Latin-1. The lines before it are ASCII, which both read
// alike, and end in a newline, which no UTF-8 sequence spans; only at the
// file's very start is a byte-order mark one.
QString DecodedRest(const QByteArray& bytes, bool bFromStart)
{
    QStringDecoder::Flags flags = QStringDecoder::Flag::Stateless;
    if (!bFromStart)
        flags |= QStringDecoder::Flag::ConvertInitialBom;
    QStringDecoder utf8(QStringDecoder::Utf8, flags);
    const QString strText = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : strText;
}

// The rows of a plan, a line at a time.
class CPlanReader {
public:
    CPlanReader(const QString& strName, const CAddressRanges& scan, QStringList& problems)
        : m_strName(strName), m_scan(scan), m_problems(problems)
    {
    }

    void Line(QStringView line)
    {
        ++m_nLine;
        if (m_bHeaderRefused || line.trimmed().isEmpty())
            return;
        if (!SplitCsv(line, m_fields)) {
            m_problems << Where() + QStringLiteral(": a quote is not closed");
            return;
        }
        if (!m_nColumns)
            Header();
        else
            Row();
    }

    QList<PlanRow> Finish()
    {
        if (m_bHeaderRefused)
            return std::move(m_rows);
        if (!m_nColumns)
            m_problems << m_strName +
                              QStringLiteral(": empty: a header line (mac,ip) and a row per appliance are needed");
        CheckDuplicates();
        return std::move(m_rows);
    }

private:
    QString Where() const { return QStringLiteral("%1:%2").arg(m_strName).arg(m_nLine); }

    void Header()
    {
        m_nColumns = m_fields.size();
        QHash<QString, qsizetype> columns;
        for (qsizetype k = 0; k < m_fields.size(); ++k) {
            const QString strName = m_fields[k].toLower();
            if (strName != QLatin1String("mac") && strName != QLatin1String("ip") &&
                strName != QLatin1String("password"))
                m_problems << Where() + QStringLiteral(": unknown column '%1' (the columns are mac, ip and "
                                                       "password)").arg(m_fields[k]);
            else if (columns.contains(strName))
                m_problems << Where() + QStringLiteral(": column %1 named twice").arg(strName);
            columns.insert(strName, k);
        }
        m_nMac = columns.value(QStringLiteral("mac"), -1);
        m_nIp = columns.value(QStringLiteral("ip"), -1);
        m_nPassword = columns.value(QStringLiteral("password"), -1);
        if (m_nMac < 0 || m_nIp < 0) {
            m_problems << Where() + QStringLiteral(": the header must name the columns mac and ip");
            m_bHeaderRefused = true;
        }
    }

    void Row()
    {
        if (m_fields.size() != m_nColumns) {
            m_problems << Where() +
                              QStringLiteral(": %1 fields where the header has %2").arg(m_fields.size()).arg(m_nColumns);
            return;
        }
        PlanRow row;
        row.strSource = m_strName;
        row.nLine = int(m_nLine);
        row.strMac = CanonicalMac(m_fields[m_nMac]);
        if (row.strMac.isEmpty()) {
            m_problems << Where() + QStringLiteral(": not a MAC address: '%1'").arg(m_fields[m_nMac]);
            return;
        }
        const QString& strIp = m_fields[m_nIp];
        if (const QString strWhy = NewIpRefusal(strIp, m_scan, m_host); !strWhy.isEmpty())
            m_problems << Where() + QStringLiteral(": ") + strWhy;
        else
            row.strIp = strIp;
        if (m_nPassword >= 0) {
            row.strPassword = m_fields[m_nPassword];
            if (const QString strWhy = PasswordProblem(row.strPassword); !strWhy.isEmpty())
                m_problems << Where() + QStringLiteral(": ") + strWhy;
        }
        m_rows.append(row);
    }

    // Duplicate MACs and addresses, each named with the row it repeats, row
    // by row. Found by sorting: a hash of every MAC and address would take
    // about as much memory again as the rows themselves.
    void CheckDuplicates()
    {
        struct Repeat {
            qsizetype nRow;
            bool bIp;
            qsizetype nFirst;
        };
        QList<Repeat> repeats;
        std::vector<qsizetype> order;
        order.reserve(size_t(m_rows.size()));
        for (const bool bIp : {false, true}) {
            const auto key = [&](qsizetype i) -> const QString& { return bIp ? m_rows[i].strIp : m_rows[i].strMac; };
            order.clear();
            for (qsizetype i = 0; i < m_rows.size(); ++i)
                if (!key(i).isEmpty())
                    order.push_back(i);
            std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
                const int n = key(a).compare(key(b));
                return n ? n < 0 : a < b;
            });
            for (size_t k = 1, nFirst = 0; k < order.size(); ++k) {
                if (key(order[k]) != key(order[nFirst]))
                    nFirst = k;
                else
                    repeats.append({order[k], bIp, order[nFirst]});
            }
        }
        std::sort(repeats.begin(), repeats.end(), [](const Repeat& a, const Repeat& b) {
            return a.nRow != b.nRow ? a.nRow < b.nRow : a.bIp < b.bIp;
        });
        for (const Repeat& r : repeats) {
            const PlanRow& row = m_rows[r.nRow];
            m_problems << (r.bIp ? QStringLiteral("%1: address %2 is planned already, at %3")
                                 : QStringLiteral("%1: MAC %2 is planned already, at %3"))
                              .arg(row.Where(), r.bIp ? row.strIp : row.strMac, m_rows[r.nFirst].Where());
        }
    }

    const QString m_strName;
    const CAddressRanges& m_scan;
    // Every address is checked against this host's: one look at its
    // interfaces serves them all.
    const CInterfaceSnapshot m_host;
    QStringList& m_problems;
    QList<PlanRow> m_rows;
    QStringList m_fields;
    qsizetype m_nLine = 0;
    qsizetype m_nColumns = 0; // 0 until the header is read
    qsizetype m_nMac = -1, m_nIp = -1, m_nPassword = -1;
    bool m_bHeaderRefused = false; // the rest is not read as rows
};

// The local subnet or --scan range numbering from nFirst may fill: the
// smallest that holds it, as ranges that hold one address nest. False when
// none does.
bool NumberingRange(quint32 nFirst, const CAddressRanges& scan, const CInterfaceSnapshot& host,
                    CAddressRanges::Block& block, QString& strRange)
{
    bool bFound = scan.GivenBlock(nFirst, block);
    if (bFound)
        strRange = QStringLiteral("the --scan range ") + block.Text();
    for (const LocalSubnet& subnet : host.Subnets()) {
        if (nFirst < subnet.nNetwork || nFirst > subnet.Broadcast() || (bFound && subnet.nPrefix <= block.nPrefix))
            continue;
        block = {subnet.nNetwork, subnet.Broadcast(), subnet.nPrefix};
        strRange = QStringLiteral("the local subnet ") + block.Text();
        bFound = true;
    }
    return bFound;
}
} // namespace

QString PlanRow::Where() const
{
    return nLine ? QStringLiteral("%1:%2").arg(strSource).arg(nLine) : strSource;
}

QList<PlanRow> ReadPlan(const QString& strPath, const CAddressRanges& scan, QStringList& problems)
{
    const bool bStdin = strPath == QLatin1String("-");
    const QString strName = bStdin ? QStringLiteral("standard input") : strPath;
    // Typed in, it would have no end but Ctrl-D, and no second chance.
    if (bStdin && StdinIsTerminal())
        Usage(QStringLiteral("refusing to read a plan from the terminal: pipe it into standard input"));
    QFile file(strPath);
    if (bStdin ? !OpenStdin(file) : !file.open(QIODevice::ReadOnly))
        Usage(QStringLiteral("cannot read the plan %1: %2").arg(strName, file.errorString()));

    QList<PlanRow> rows;
    if (!ReadPlanFrom(file, strName, scan, MAX_PLAN_BYTES, rows, problems))
        Usage(QStringLiteral("the plan %1 is larger than 16 MiB; a plan has one line per appliance").arg(strName));
    return rows;
}

bool ReadPlanFrom(QIODevice& plan, const QString& strName, const CAddressRanges& scan, qint64 nMaxBytes,
                  QList<PlanRow>& rows, QStringList& problems)
{
    // A file says its size: refused before a byte is parsed. A pipe is
    // counted as it is read.
    if (!plan.isSequential() && plan.size() > nMaxBytes)
        return false;
    CPlanReader reader(strName, scan, problems);
    // Parsed line by line as it is read, never held whole, until a byte
    // beyond ASCII: its line and all after it wait for the end, as their
    // encoding depends on every byte. Read to the end whatever the rows
    // hold: a plan over the cap is refused for that alone.
    QByteArray pending; // a line begun; or all from the first byte beyond ASCII
    bool bAscii = true;
    qint64 nRead = 0;
    // One buffer for every read, as much as a pipe holds: a pipe may hand
    // over a few bytes at a time.
    QByteArray piece(std::min<qint64>(64 << 10, nMaxBytes + 1), Qt::Uninitialized);
    for (;;) {
        const qint64 nPiece = plan.read(piece.data(), std::min<qint64>(piece.size(), nMaxBytes + 1 - nRead));
        if (nPiece <= 0)
            break;
        nRead += nPiece;
        if (nRead > nMaxBytes)
            return false;
        pending.append(piece.constData(), nPiece);
        if (!bAscii)
            continue;
        const auto itBeyond = std::find_if(pending.cbegin(), pending.cend(), [](char c) { return c & 0x80; });
        const qsizetype nBeyond = itBeyond - pending.cbegin();
        qsizetype nStart = 0;
        for (qsizetype nEnd; (nEnd = pending.indexOf('\n', nStart)) >= 0 && nEnd < nBeyond; nStart = nEnd + 1)
            reader.Line(QString::fromLatin1(pending.constData() + nStart, nEnd - nStart));
        bAscii = nBeyond == pending.size();
        pending.remove(0, nStart);
    }
    if (bAscii) {
        if (!pending.isEmpty())
            reader.Line(QString::fromLatin1(pending));
    } else {
        const QString strRest = DecodedRest(pending, pending.size() == nRead);
        pending.clear();
        for (const QStringView line : QStringView(strRest).tokenize(QLatin1Char('\n')))
            reader.Line(line);
    }
    rows = reader.Finish();
    return true;
}

QList<PlanRow> NumberedPlan(const QList<Appliance>& appliances, const QString& strFirstIp, const CAddressRanges& scan,
                            QStringList& problems)
{
    const CInterfaceSnapshot host;
    const quint32 nFirst = QHostAddress(strFirstIp).toIPv4Address();
    CAddressRanges::Block block;
    QString strRange;
    // Beyond this host's subnets only the administrator knows where a
    // segment ends: consecutive addresses would run on into the next one.
    if (!NumberingRange(nFirst, scan, host, block, strRange)) {
        problems << QStringLiteral("%1 is in no subnet of this host: name its range with --scan, e.g. --scan %2/24")
                        .arg(strFirstIp, QHostAddress(nFirst & 0xFFFFFF00u).toString());
        return {};
    }
    QList<PlanRow> rows;
    for (qsizetype i = 0; i < appliances.size(); ++i) {
        PlanRow row;
        row.strMac = appliances[i].strMacKey;
        row.strSource = row.strMac.isEmpty() ? appliances[i].strMac : row.strMac;
        const quint64 nIp = quint64(nFirst) + quint64(i);
        const QString strIp = Ipv4Text(quint32(nIp));
        // Consecutive addresses leave a range through its broadcast
        // address, which NewIpRefusal refuses; a /31 or /32 has none.
        const QString strWhy = nIp > block.nLast ? QStringLiteral("%1 ends at %2")
                                                       .arg(strRange, QHostAddress(block.nLast).toString())
                                                 : NewIpRefusal(quint32(nIp), scan, host);
        if (!strWhy.isEmpty()) {
            problems << QStringLiteral("%1: %2 of %3 appliances fit from %4: %5")
                            .arg(row.strSource)
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

PlanRow NextNumberedRow(const Appliance& appliance, const QString& strFirstIp, const CAddressRanges& scan,
                        const QSet<QString>& taken, quint32& nNext, QString& strWhy)
{
    PlanRow row;
    row.strMac = appliance.strMacKey;
    row.strSource = row.strMac.isEmpty() ? appliance.strMac : row.strMac;
    const quint32 nFirst = QHostAddress(strFirstIp).toIPv4Address();
    const CInterfaceSnapshot host;
    CAddressRanges::Block block;
    QString strRange;
    if (!NumberingRange(nFirst, scan, host, block, strRange)) {
        strWhy = QStringLiteral("%1 is in no subnet of this host").arg(strFirstIp);
        return row;
    }
    for (quint64 n = std::max(nFirst, nNext); n <= block.nLast; ++n) {
        const QString strIp = Ipv4Text(quint32(n));
        if (taken.contains(strIp) || !NewIpRefusal(quint32(n), scan, host).isEmpty())
            continue;
        nNext = quint32(n + 1);
        row.strIp = strIp;
        return row;
    }
    strWhy = QStringLiteral("no address is left from %1: %2 ends at %3")
                 .arg(strFirstIp, strRange, QHostAddress(block.nLast).toString());
    return row;
}

bool InNumberingRange(const QString& strIp, const QString& strFirstIp, const CAddressRanges& scan)
{
    const quint32 nFirst = QHostAddress(strFirstIp).toIPv4Address();
    quint32 nIp = 0;
    CAddressRanges::Block block;
    QString strRange;
    return ParseIpv4(strIp, nIp) && NumberingRange(nFirst, scan, CInterfaceSnapshot(), block, strRange) &&
           nIp >= nFirst && nIp <= block.nLast;
}

void CheckOccupied(const QList<PlanRow>& rows, const QList<Appliance>& found, QStringList& problems)
{
    QMultiHash<QString, QString> macsAt; // address -> MACs answering there
    for (const Appliance& a : found)
        macsAt.insert(a.IpText(), a.strMacKey);
    for (const PlanRow& row : rows)
        for (const QString& strMac : macsAt.values(row.strIp))
            if (strMac != row.strMac)
                problems << QStringLiteral("%1: %2 already answers for another appliance, %3")
                                .arg(row.Where(), row.strIp, strMac.isEmpty() ? QStringLiteral("?") : strMac);
}

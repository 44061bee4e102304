#include "addressrange.h"

#include "ipv4text.h"

#include <QStringList>

#include <algorithm>

namespace {
bool ParsePrefix(const QString& strText, int& nPrefix)
{
    bool bOk = false;
    nPrefix = strText.toInt(&bOk);
    return bOk && nPrefix >= 0 && nPrefix <= 32 && !strText.startsWith(QLatin1Char('+')) &&
           (strText.size() == 1 || !strText.startsWith(QLatin1Char('0')));
}
} // namespace

bool CAddressRanges::Add(const QString& strList, QString& strError)
{
    QList<Range> added;
    QList<Block> given;
    QStringList texts;
    for (const QString& strPart : strList.split(QLatin1Char(','))) {
        const QString strRange = strPart.trimmed();
        const qsizetype nSlash = strRange.indexOf(QLatin1Char('/'));
        quint32 nAddress = 0;
        int nPrefix = 32;
        if (!ParseIpv4(strRange.left(nSlash), nAddress) ||
            (nSlash >= 0 && !ParsePrefix(strRange.mid(nSlash + 1), nPrefix))) {
            strError = QStringLiteral("%1: not an IPv4 range like 10.9.0.0/24 (no leading zeros)").arg(strRange);
            return false;
        }
        const Ipv4Subnet subnet = Ipv4Subnet::Of(nAddress, nPrefix);
        Range range{subnet.nNetwork, subnet.Broadcast()};
        if (const QString strWhy = UnusableIpv4RangeReason(range.nFirst, range.nLast); !strWhy.isEmpty()) {
            strError = QStringLiteral("%1: %2").arg(strRange, strWhy);
            return false;
        }
        given.append({range.nFirst, range.nLast, nPrefix});
        if (nPrefix < 31) {
            ++range.nFirst;
            --range.nLast;
        }
        added.append(range);
        texts.append(strRange);
    }
    for (const Range& range : added)
        Insert(range);
    m_given += given;
    m_strText += (m_strText.isEmpty() ? QString() : QStringLiteral(", ")) + texts.join(QStringLiteral(", "));
    return true;
}

void CAddressRanges::Insert(Range range)
{
    // Merged with every range it overlaps or touches, so that each address
    // is swept once and At/IndexOf count each once.
    QList<Range> merged;
    for (const Range& other : m_ranges) {
        const bool bApart = (other.nLast < range.nFirst && range.nFirst - other.nLast > 1) ||
                            (range.nLast < other.nFirst && other.nFirst - range.nLast > 1);
        if (bApart) {
            merged.append(other);
        } else {
            range.nFirst = std::min(range.nFirst, other.nFirst);
            range.nLast = std::max(range.nLast, other.nLast);
        }
    }
    const auto at = std::lower_bound(merged.begin(), merged.end(), range,
                                     [](const Range& a, const Range& b) { return a.nFirst < b.nFirst; });
    merged.insert(at, range);
    m_ranges = merged;
}

quint64 CAddressRanges::Count() const
{
    quint64 nCount = 0;
    for (const Range& range : m_ranges)
        nCount += quint64(range.nLast - range.nFirst) + 1;
    return nCount;
}

quint32 CAddressRanges::At(quint64 nIndex) const
{
    for (const Range& range : m_ranges) {
        const quint64 nSize = quint64(range.nLast - range.nFirst) + 1;
        if (nIndex < nSize)
            return range.nFirst + quint32(nIndex);
        nIndex -= nSize;
    }
    return 0;
}

qint64 CAddressRanges::IndexOf(quint32 nAddress) const
{
    qint64 nBefore = 0;
    for (const Range& range : m_ranges) {
        if (nAddress >= range.nFirst && nAddress <= range.nLast)
            return nBefore + qint64(nAddress - range.nFirst);
        nBefore += qint64(range.nLast - range.nFirst) + 1;
    }
    return -1;
}

QString CAddressRanges::Block::Text() const
{
    return Ipv4Subnet{nFirst, nPrefix}.Text();
}

bool CAddressRanges::GivenBlock(quint32 nAddress, Block& block) const
{
    bool bFound = false;
    for (const Block& given : m_given)
        if (nAddress >= given.nFirst && nAddress <= given.nLast && (!bFound || given.nPrefix > block.nPrefix)) {
            block = given;
            bFound = true;
        }
    return bFound;
}

#include "addressrange.h"

#include <QStringList>

#include <algorithm>

namespace {
// Four decimal octets without leading zeros: "010.1.2.3" is 8.1.2.3 to
// tools that read octal, so it is refused rather than guessed.
bool ParseDotted(const QString& strText, quint32& nAddress)
{
    const QStringList octets = strText.split(QLatin1Char('.'));
    if (octets.size() != 4)
        return false;
    nAddress = 0;
    for (const QString& strOctet : octets) {
        const bool bDigits = !strOctet.isEmpty() && strOctet.size() <= 3 &&
                             std::all_of(strOctet.begin(), strOctet.end(),
                                         [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
        if (!bDigits || (strOctet.size() > 1 && strOctet.startsWith(QLatin1Char('0'))) || strOctet.toInt() > 255)
            return false;
        nAddress = nAddress << 8 | quint32(strOctet.toInt());
    }
    return true;
}

bool ParsePrefix(const QString& strText, int& nPrefix)
{
    bool bOk = false;
    nPrefix = strText.toInt(&bOk);
    return bOk && nPrefix >= 0 && nPrefix <= 32 && !strText.startsWith(QLatin1Char('+')) &&
           (strText.size() == 1 || !strText.startsWith(QLatin1Char('0')));
}

// Why no request may go into this block: it holds addresses of this host
// or of every host. Empty when none of those.
QString UnusableBlock(quint32 nFirst, quint32 nLast)
{
    const auto overlaps = [&](quint32 nLow, quint32 nHigh) { return nFirst <= nHigh && nLast >= nLow; };
    if (overlaps(0x00000000u, 0x00FFFFFFu))
        return QStringLiteral("it reaches into 0.0.0.0/8, which names this host");
    if (overlaps(0x7F000000u, 0x7FFFFFFFu))
        return QStringLiteral("it reaches into 127.0.0.0/8, the loopback addresses of this host");
    if (overlaps(0xE0000000u, 0xFFFFFFFFu))
        return QStringLiteral("it reaches into 224.0.0.0 and up (multicast, reserved, broadcast)");
    return {};
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
        if (!ParseDotted(strRange.left(nSlash), nAddress) ||
            (nSlash >= 0 && !ParsePrefix(strRange.mid(nSlash + 1), nPrefix))) {
            strError = QStringLiteral("%1: not an IPv4 range like 10.9.0.0/24 (no leading zeros)").arg(strRange);
            return false;
        }
        const quint32 nMask = nPrefix == 0 ? 0 : ~quint32(0) << (32 - nPrefix);
        Range range{nAddress & nMask, (nAddress & nMask) | ~nMask};
        if (const QString strWhy = UnusableBlock(range.nFirst, range.nLast); !strWhy.isEmpty()) {
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
    return QStringLiteral("%1.%2.%3.%4/%5")
        .arg(nFirst >> 24)
        .arg(nFirst >> 16 & 0xFF)
        .arg(nFirst >> 8 & 0xFF)
        .arg(nFirst & 0xFF)
        .arg(nPrefix);
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

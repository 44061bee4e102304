#include "ipv4text.h"

#include <array>

namespace {
// The octets of text written as a dotted quad: one to three ASCII digits
// each (another script's digits are no octet), to the very end of the text.
bool SplitDotted(QStringView text, std::array<QStringView, 4>& octets)
{
    qsizetype nAt = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        if (i > 0 && (nAt >= text.size() || text[nAt++] != QLatin1Char('.')))
            return false;
        const qsizetype nStart = nAt;
        while (nAt < text.size() && nAt - nStart < 4 && text[nAt].unicode() >= '0' && text[nAt].unicode() <= '9')
            ++nAt;
        if (nAt == nStart || nAt - nStart > 3)
            return false;
        octets[i] = text.sliced(nStart, nAt - nStart);
    }
    return nAt == text.size();
}

int OctetValue(QStringView octet)
{
    int n = 0;
    for (const QChar c : octet)
        n = n * 10 + (c.unicode() - '0');
    return n;
}

bool LeadingZero(QStringView octet)
{
    return octet.size() > 1 && octet.front() == QLatin1Char('0');
}

// Checked in this order: 255.255.255.255 is reserved too, but says more as
// the broadcast address. The three last are one block to a range.
struct UnusableBlock {
    quint32 nFirst;
    quint32 nLast;
    const char* pszAddress; // why an address in it is unusable
    const char* pszRange;   // what a range reaches into
};
constexpr UnusableBlock kUnusable[] = {
    {0x00000000u, 0x00FFFFFFu, "0.x.x.x names this host, never an appliance", "0.0.0.0/8, which names this host"},
    {0x7F000000u, 0x7FFFFFFFu, "a loopback address of this host",
     "127.0.0.0/8, the loopback addresses of this host"},
    {0xFFFFFFFFu, 0xFFFFFFFFu, "the broadcast address: it reaches every host",
     "224.0.0.0 and up (multicast, reserved, broadcast)"},
    {0xE0000000u, 0xEFFFFFFFu, "a multicast address", "224.0.0.0 and up (multicast, reserved, broadcast)"},
    {0xF0000000u, 0xFFFFFFFFu, "a reserved address", "224.0.0.0 and up (multicast, reserved, broadcast)"},
};
} // namespace

bool ParseIpv4(QStringView text, quint32& nIp)
{
    std::array<QStringView, 4> octets;
    if (!SplitDotted(text, octets))
        return false;
    quint32 nValue = 0;
    for (const QStringView octet : octets) {
        if (LeadingZero(octet) || OctetValue(octet) > 255)
            return false;
        nValue = nValue << 8 | quint32(OctetValue(octet));
    }
    nIp = nValue;
    return true;
}

QString Ipv4Text(quint32 nIp)
{
    return QStringLiteral("%1.%2.%3.%4").arg(nIp >> 24).arg(nIp >> 16 & 0xFF).arg(nIp >> 8 & 0xFF).arg(nIp & 0xFF);
}

QString Ipv4TextProblem(const QString& strText)
{
    std::array<QStringView, 4> octets;
    if (!SplitDotted(strText, octets))
        return {};
    for (const QStringView octet : octets) {
        if (LeadingZero(octet))
            return QStringLiteral("%1 has a leading zero, which ping and many other tools read as an octal "
                                  "number (010 is 8); write it without")
                .arg(strText);
        if (OctetValue(octet) > 255)
            return QStringLiteral("%1 has a number above 255").arg(strText);
    }
    return {};
}

Ipv4Subnet Ipv4Subnet::Of(quint32 nIp, int nPrefix)
{
    const quint32 nMask = nPrefix <= 0 ? 0 : ~quint32(0) << (32 - qMin(nPrefix, 32));
    return {nIp & nMask, nPrefix};
}

quint32 Ipv4Subnet::Broadcast() const
{
    return nPrefix <= 0 ? ~quint32(0) : nNetwork | ~(~quint32(0) << (32 - qMin(nPrefix, 32)));
}

QString Ipv4Subnet::Text() const
{
    return QStringLiteral("%1/%2").arg(Ipv4Text(nNetwork)).arg(nPrefix);
}

QString UnusableIpv4Reason(quint32 nIp, const QList<Ipv4Subnet>& subnets)
{
    for (const UnusableBlock& block : kUnusable)
        if (nIp >= block.nFirst && nIp <= block.nLast)
            return QString::fromLatin1(block.pszAddress);
    // A /31 or /32 has neither: each of its addresses is a host's.
    for (const Ipv4Subnet& subnet : subnets) {
        if (subnet.nPrefix > 30)
            continue;
        if (nIp == subnet.nNetwork)
            return QStringLiteral("the network address of the local subnet %1").arg(subnet.Text());
        if (nIp == subnet.Broadcast())
            return QStringLiteral("the broadcast address of the local subnet %1: it reaches every host there")
                .arg(subnet.Text());
    }
    return {};
}

QString UnusableIpv4RangeReason(quint32 nFirst, quint32 nLast)
{
    for (const UnusableBlock& block : kUnusable)
        if (nFirst <= block.nLast && nLast >= block.nFirst)
            return QStringLiteral("it reaches into %1").arg(QLatin1String(block.pszRange));
    return {};
}

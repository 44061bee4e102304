// The one address rule: dotted quads read and refused with their reason,
// the addresses and ranges no request may go to, and subnets' edges. The
// command line's and the window's messages are these texts, byte for byte.
#include "ipv4text.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& str, std::ostream* pOut)
{
    *pOut << '"' << str.toStdString() << '"';
}

namespace {

constexpr quint32 Ip(quint32 a, quint32 b, quint32 c, quint32 d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

const char* const kLeadingZero =
    " has a leading zero, which ping and many other tools read as an octal number (010 is 8); write it without";

TEST(Ipv4Text, DottedQuadsAreReadStrictlyAndRefusalsSayWhy)
{
    const struct {
        const char16_t* pszText;
        bool bAddress;
        quint32 nIp;
        const char* pszProblem; // appended to the text; null: no problem told
    } cases[] = {
        {u"10.200.0.1", true, Ip(10, 200, 0, 1), nullptr},
        {u"0.0.0.0", true, 0, nullptr},
        {u"255.255.255.255", true, 0xFFFFFFFFu, nullptr},
        {u"010.1.2.3", false, 0, kLeadingZero},
        {u"10.200.001.002", false, 0, kLeadingZero},
        {u"10.0.0.256", false, 0, " has a number above 255"},
        {u"300.01.1.1", false, 0, " has a number above 255"}, // the first octet at fault tells
        {u"10.200.0.1\n", false, 0, nullptr},                 // nothing after the text
        {u"10.200.0.1 ", false, 0, nullptr},
        {u" 10.200.0.1", false, 0, nullptr},
        {u"10.200.0", false, 0, nullptr},
        {u"10.200.0.1.5", false, 0, nullptr},
        {u"10.200.0.1234", false, 0, nullptr},
        {u"10..0.1", false, 0, nullptr},
        {u"1.2.3.+4", false, 0, nullptr},
        {u"0x7f.0.0.1", false, 0, nullptr},
        {u"\u0661\u0660.1.2.3", false, 0, nullptr}, // another script's digits
        {u"", false, 0, nullptr},
    };
    for (const auto& c : cases) {
        const QString strText = QString::fromUtf16(c.pszText);
        SCOPED_TRACE(strText.toStdString());
        quint32 nIp = 0x12345678u;
        EXPECT_EQ(ParseIpv4(strText, nIp), c.bAddress);
        EXPECT_EQ(nIp, c.bAddress ? c.nIp : 0x12345678u);
        if (c.bAddress) {
            EXPECT_EQ(Ipv4Text(nIp), strText);
        }
        EXPECT_EQ(Ipv4TextProblem(strText), c.pszProblem ? strText + QLatin1String(c.pszProblem) : QString());
    }
}

TEST(Ipv4Text, AddressesOfThisHostOrOfEveryHostAreUnusable)
{
    const QList<Ipv4Subnet> subnets = {{Ip(10, 200, 0, 0), 16}, {Ip(192, 168, 7, 0), 31}, {Ip(192, 168, 8, 4), 30}};
    const struct {
        quint32 nIp;
        const char* pszReason;
    } cases[] = {
        {Ip(0, 1, 2, 3), "0.x.x.x names this host, never an appliance"},
        {Ip(127, 0, 0, 1), "a loopback address of this host"},
        {Ip(224, 0, 0, 1), "a multicast address"},
        {Ip(239, 255, 255, 255), "a multicast address"},
        {Ip(240, 0, 0, 1), "a reserved address"},
        {Ip(255, 255, 255, 254), "a reserved address"},
        {Ip(255, 255, 255, 255), "the broadcast address: it reaches every host"},
        {Ip(10, 200, 0, 0), "the network address of the local subnet 10.200.0.0/16"},
        {Ip(10, 200, 255, 255), "the broadcast address of the local subnet 10.200.0.0/16: it reaches every host there"},
        {Ip(10, 200, 0, 1), ""},
        {Ip(192, 168, 7, 0), ""}, // a /31 is two hosts
        {Ip(192, 168, 8, 4), "the network address of the local subnet 192.168.8.4/30"},
        {Ip(192, 168, 8, 7), "the broadcast address of the local subnet 192.168.8.4/30: it reaches every host there"},
        {Ip(192, 168, 8, 5), ""},
        {Ip(1, 0, 0, 0), ""},
        {Ip(126, 255, 255, 255), ""},
        {Ip(223, 255, 255, 255), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Ipv4Text(c.nIp).toStdString());
        EXPECT_EQ(UnusableIpv4Reason(c.nIp, subnets), QLatin1String(c.pszReason));
    }
}

TEST(Ipv4Text, RangesReachingIntoUnusableBlocksAreRefusedAndSubnetsHaveEdges)
{
    const char* const kHigh = "it reaches into 224.0.0.0 and up (multicast, reserved, broadcast)";
    const struct {
        quint32 nIp;
        int nPrefix;
        quint32 nBroadcast;
        const char* pszText;
        const char* pszReason;
    } cases[] = {
        {Ip(10, 9, 0, 77), 24, Ip(10, 9, 0, 255), "10.9.0.0/24", ""},
        {Ip(10, 9, 0, 77), 31, Ip(10, 9, 0, 77), "10.9.0.76/31", ""},
        {Ip(10, 9, 0, 77), 32, Ip(10, 9, 0, 77), "10.9.0.77/32", ""},
        {Ip(10, 9, 0, 77), 0, 0xFFFFFFFFu, "0.0.0.0/0", "it reaches into 0.0.0.0/8, which names this host"},
        {Ip(126, 0, 0, 0), 7, Ip(127, 255, 255, 255), "126.0.0.0/7",
         "it reaches into 127.0.0.0/8, the loopback addresses of this host"},
        {Ip(128, 0, 0, 0), 2, Ip(191, 255, 255, 255), "128.0.0.0/2", ""},
        {Ip(192, 0, 0, 0), 3, Ip(223, 255, 255, 255), "192.0.0.0/3", ""},
        {Ip(128, 0, 0, 0), 1, 0xFFFFFFFFu, "128.0.0.0/1", kHigh},
        {Ip(240, 0, 0, 0), 4, 0xFFFFFFFFu, "240.0.0.0/4", kHigh},
        {0xFFFFFFFFu, 32, 0xFFFFFFFFu, "255.255.255.255/32", kHigh},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszText);
        const Ipv4Subnet subnet = Ipv4Subnet::Of(c.nIp, c.nPrefix);
        EXPECT_EQ(subnet.Broadcast(), c.nBroadcast);
        EXPECT_EQ(subnet.Text(), QLatin1String(c.pszText));
        EXPECT_EQ(UnusableIpv4RangeReason(subnet.nNetwork, subnet.Broadcast()), QLatin1String(c.pszReason));
    }
}

} // namespace

// Ranges of a sweep as the window and the command line read them.
#include "addressrange.h"

#include <gtest/gtest.h>

#include <QHostAddress>

namespace {

QString Ip(quint32 n)
{
    return QHostAddress(n).toString();
}

TEST(AddressRanges, RangesAreReadMergedAndCountedByHostAddress)
{
    const struct {
        const char* pszList;
        quint64 nCount;
        const char* pszFirst;
        const char* pszLast;
    } cases[] = {
        {"10.9.0.0/24", 254, "10.9.0.1", "10.9.0.254"},       // network and broadcast left out
        {"10.9.0.77/24", 254, "10.9.0.1", "10.9.0.254"},      // host bits ignored
        {"10.9.0.4/31", 2, "10.9.0.4", "10.9.0.5"},           // a /31 is two hosts
        {"10.9.0.7", 1, "10.9.0.7", "10.9.0.7"},              // one address
        {"10.9.0.0/16, 10.9.3.0/24", 65534, "10.9.0.1", "10.9.255.254"},
        {"10.9.0.8/30,10.9.0.4/30,10.9.0.7,10.9.0.8", 6, "10.9.0.5", "10.9.0.10"}, // touching ranges merge
        {"10.9.0.0/8", 16777214, "10.0.0.1", "10.255.255.254"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszList);
        CAddressRanges ranges;
        QString strError;
        ASSERT_TRUE(ranges.Add(QString::fromLatin1(c.pszList), strError)) << strError.toStdString();
        EXPECT_EQ(ranges.Count(), c.nCount);
        EXPECT_EQ(Ip(ranges.At(0)), c.pszFirst);
        EXPECT_EQ(Ip(ranges.At(c.nCount - 1)), c.pszLast);
        for (const quint64 n : {quint64(0), c.nCount / 2, c.nCount - 1})
            EXPECT_EQ(ranges.IndexOf(ranges.At(n)), qint64(n));
    }
    CAddressRanges gap;
    QString strError;
    ASSERT_TRUE(gap.Add("10.9.0.1,10.9.0.3", strError));
    EXPECT_EQ(gap.Count(), 2u);
    EXPECT_EQ(gap.IndexOf(QHostAddress("10.9.0.2").toIPv4Address()), -1);
    EXPECT_EQ(gap.IndexOf(QHostAddress("10.9.0.3").toIPv4Address()), 1);
}

// The address rule itself is tst_ipv4text's; here, that ranges keep to it.
TEST(AddressRanges, MalformedAndUnusableRangesAreRefusedWhole)
{
    const struct {
        const char* pszList;
        const char* pszError;
    } cases[] = {
        {"010.9.0.0/24", "010.9.0.0/24: not an IPv4 range like 10.9.0.0/24 (no leading zeros)"},
        {"126.0.0.0/7", "126.0.0.0/7: it reaches into 127.0.0.0/8, the loopback addresses of this host"},
        {"192.168.0.0/24,240.0.0.0/4",
         "240.0.0.0/4: it reaches into 224.0.0.0 and up (multicast, reserved, broadcast)"},
        {"10.9.0.0/33", nullptr},
        {"10.9.0.0/", nullptr},
        {"10.9.0.0/024", nullptr},
        {"10.9.0.0/+8", nullptr},
        {"", nullptr},
        {"10.9.0.0/24,", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszList);
        CAddressRanges ranges;
        QString strError;
        EXPECT_FALSE(ranges.Add(QString::fromLatin1(c.pszList), strError));
        EXPECT_FALSE(strError.isEmpty());
        if (c.pszError) {
            EXPECT_EQ(strError, QLatin1String(c.pszError));
        }
        EXPECT_TRUE(ranges.IsEmpty());
    }
}

} // namespace

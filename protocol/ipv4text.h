// IPv4 addresses as people and appliances write them, and the addresses no
// request may go to: one rule for the engine's ranges, the command line and
// the window.
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Reads a dotted quad: four octets of ASCII digits, each 0 to 255 and
// written without a leading zero, and nothing after them, not even a
// newline. "010.1.2.3" is refused rather than guessed: tools that read octal
// take it for 8.1.2.3, another appliance.
bool ParseIpv4(QStringView text, quint32& nIp);
QString Ipv4Text(quint32 nIp);
// Why text written as a dotted quad is no address: a leading zero, a number
// above 255. Empty when it is not a dotted quad at all, or is an address.
QString Ipv4TextProblem(const QString& strText);

// An IPv4 subnet: its network address and prefix length (0 to 32).
struct Ipv4Subnet {
    quint32 nNetwork = 0;
    int nPrefix = 0;
    // The subnet of that prefix length that holds nIp.
    static Ipv4Subnet Of(quint32 nIp, int nPrefix);
    quint32 Broadcast() const;
    // "10.9.0.0/24"
    QString Text() const;
};

// Why no request may go to nIp: it names this host (0/8, 127/8), is
// multicast or reserved, or reaches every host (255.255.255.255, and the
// network and broadcast addresses of the subnets given; interfaces.h has
// it against this host's own). Empty when it may.
QString UnusableIpv4Reason(quint32 nIp, const QList<Ipv4Subnet>& subnets);
// Why no request may go into nFirst to nLast, as a range to sweep: it
// reaches into 0/8, 127/8 or 224.0.0.0 and up. Empty when it may.
QString UnusableIpv4RangeReason(quint32 nFirst, quint32 nLast);

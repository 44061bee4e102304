// Addresses as the command line takes them; the address rule itself is the
// engine's (ipv4text.h).
#pragma once

#include <QString>

// "00:1a:2b:0a:0b:0c", "00-1A-2B-0A-0B-0C", "001A2B0A0B0C" or
// "001a.2b0a.0b0c" as "00:1A:2B:0A:0B:0C"; empty when the text is not a MAC
// address. Appliances write their MAC in any of these forms: compare MACs
// by this, never by their text.
QString CanonicalMac(const QString& strText);
// Four decimal octets, each 0 to 255 and written without leading zeros, as
// dotted text; empty otherwise. "010.200.001.002" is refused: tools built on
// inet_aton read it as 8.200.1.2, a different appliance.
QString CanonicalIp(const QString& strText);
// Why dotted text that CanonicalIp refuses is no address (a leading zero, a
// number above 255); empty when it is not dotted text at all, or fine.
QString IpTextProblem(const QString& strText);
// Why a request may not go to this address or an appliance may not take it:
// 0/8, loopback, multicast, reserved, the broadcast address, or the network
// or broadcast address of a subnet of this host (a request there reaches
// every host on it). Empty when it may.
QString UnusableIpReason(const QString& strDotted);
bool UsableIp(const QString& strDotted);

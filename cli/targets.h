// Addresses as the command line takes them, and the texts it shares with
// the window.
#pragma once

#include <QString>

// "00:1a:2b:0a:0b:0c", "00-1A-2B-0A-0B-0C", "001A2B0A0B0C" or
// "001a.2b0a.0b0c" as "00:1A:2B:0A:0B:0C"; empty when the text is not a MAC
// address. Appliances write their MAC in any of these forms: compare MACs
// by this, never by their text.
QString CanonicalMac(const QString& strText);
// Four decimal octets as dotted text without leading zeros; empty otherwise.
QString CanonicalIp(const QString& strText);
// An address a request may go to or an appliance may take: not 0.0.0.0,
// not multicast, not the broadcast address.
bool UsableIp(const QString& strDotted);

// A message text by number, as the window shows it.
QString Text(unsigned nId);

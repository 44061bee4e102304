// Datagrams nobody asked for, for --unsolicited and --flood. They are made
// one at a time as the outbox drains: a flood of a million would not fit in
// memory at once.
//
// --unsolicited N: datagram k is reply type 0x20 + k % 6 from appliance
// k % count, full layout, status 0.
// --flood N: each datagram is of one class drawn uniformly (seeded):
//   valid         a reply of any of the six types, status 0
//   error_status  the same layout with status 1..4
//   garbage       1..200 random bytes, first byte no message type
//   empty         zero bytes
//   truncated     a valid reply one byte short
//   oversized     a valid reply padded with zeros to 9300 bytes
//   wrong_port    a valid reply sent from port 8401
// Every datagram comes from a random appliance's address.
#pragma once

#include "appliances.h"
#include "outbox.h"
#include "random.h"

#include <array>

class CUnsolicited {
public:
    CUnsolicited(const CSimOptions& opts, const CApplianceTable& table);

    bool Done() const { return m_nUnsolicitedLeft == 0 && m_nFloodLeft == 0; }
    bool Flooding() const { return m_nFlood > 0; }
    COutgoing Next();
    // "flood sent=N valid=... wrong_port=..." on stderr.
    void Report() const;

private:
    enum EClass { Valid, ErrorStatus, GarbageBytes, Empty, Truncated, Oversized, WrongPort, ClassCount };

    COutgoing NextFlood();
    void PutReply(COutgoing& out, int i, std::int8_t nType, std::int8_t nStatus) const;

    const CApplianceTable& m_table;
    CRandom m_random;
    sockaddr_in m_addrTo{};
    long m_nSent = 0;
    long m_nUnsolicitedLeft;
    long m_nFlood;
    long m_nFloodLeft;
    std::array<long, ClassCount> m_aClassCounts{};
};

// Datagrams waiting to leave, each from a chosen appliance address. A full
// socket parks the queue until it is writable again: replies are late then,
// never lost (only --drop loses them, on purpose).
#pragma once

#include "appliances.h"
#include "options.h"
#include "random.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

struct COutgoing {
    SimClock::time_point m_tDue{};
    std::uint32_t m_nFromIp = 0;
    sockaddr_in m_addrTo{};
    bool m_bWrongPort = false;
    std::vector<unsigned char> m_vecData;
};

class COutbox {
public:
    // fdWrongPort may be -1 when no datagram is ever sent from the wrong port.
    COutbox(const CSimOptions& opts, int fdMain, int fdWrongPort);

    // A reply to a request: the reply faults (drop, garbage, truncate,
    // oversize, wrong port, delay) are applied here.
    void QueueReply(std::uint32_t nFromIp, const sockaddr_in& addrTo, const unsigned char* pData, int nSize,
                    SimClock::time_point now);
    // Sent as it is, after what is already queued.
    void Queue(COutgoing&& out);

    void Flush(SimClock::time_point now);

    std::size_t Size() const { return m_deqOut.size(); }
    // The socket Flush is waiting on, or -1.
    int BlockedFd() const { return m_fdBlocked; }
    // Milliseconds until Flush has something to do; -1 for "only when writable or never".
    int MsUntilDue(SimClock::time_point now) const;

private:
    bool Send(const COutgoing& out);

    const CSimOptions& m_opts;
    int m_fdMain;
    int m_fdWrongPort;
    CRandom m_random;
    std::deque<COutgoing> m_deqOut; // due times never decrease: one fixed delay
    int m_fdBlocked = -1;
    SimClock::time_point m_tRetry{};
    long m_nSendErrors = 0;
};

// Random bytes whose first byte is no message type, so no garbage ever decodes.
std::vector<unsigned char> Garbage(CRandom& random);

constexpr int OVERSIZE_BYTES = 9300;

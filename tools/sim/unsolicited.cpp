#include "unsolicited.h"

#include <cstdio>

namespace {
const std::int8_t kReplyTypes[] = {DM_DEVICE_INFO, DM_SET_IP_ACK,  DM_LOGIN_INFO,
                                   DM_REBOOT_ACK,  DM_FLASHINFO,   DM_PUT_FLASHINFO_ACK};
constexpr int kReplyTypeCount = int(sizeof kReplyTypes);
} // namespace

CUnsolicited::CUnsolicited(const CSimOptions& opts, const CApplianceTable& table)
    // Its own stream: a flood does not shift which replies --drop picks.
    : m_table(table), m_random(opts.m_nSeed ^ 0x5EEDF100D5EEDull), m_nUnsolicitedLeft(opts.m_nUnsolicited),
      m_nFlood(opts.m_nFlood), m_nFloodLeft(opts.m_nFlood)
{
    m_addrTo.sin_family = AF_INET;
    m_addrTo.sin_addr.s_addr = htonl(opts.m_nUnsolicitedIp);
    m_addrTo.sin_port = htons(opts.m_nUnsolicitedPort);
}

void CUnsolicited::PutReply(COutgoing& out, int i, std::int8_t nType, std::int8_t nStatus) const
{
    out.m_nFromIp = m_table.Ip(i);
    out.m_vecData.resize(DEVMSG_MAX_SIZE);
    out.m_vecData.resize(std::size_t(m_table.EncodeReply(i, nType, nStatus, out.m_vecData.data())));
}

COutgoing CUnsolicited::Next()
{
    if (m_nUnsolicitedLeft == 0)
        return NextFlood();
    COutgoing out;
    out.m_addrTo = m_addrTo;
    PutReply(out, int(m_nSent % m_table.Count()), kReplyTypes[m_nSent % kReplyTypeCount], DS_OK);
    ++m_nSent;
    --m_nUnsolicitedLeft;
    return out;
}

COutgoing CUnsolicited::NextFlood()
{
    COutgoing out;
    out.m_addrTo = m_addrTo;
    const int i = int(m_random.Below(std::uint32_t(m_table.Count())));
    const std::int8_t nType = kReplyTypes[m_random.Below(kReplyTypeCount)];
    const auto eClass = EClass(m_random.Below(ClassCount));
    switch (eClass) {
    case ErrorStatus:
        PutReply(out, i, nType, static_cast<std::int8_t>(1 + m_random.Below(4)));
        break;
    case GarbageBytes:
        out.m_nFromIp = m_table.Ip(i);
        out.m_vecData = Garbage(m_random);
        break;
    case Empty:
        out.m_nFromIp = m_table.Ip(i);
        break;
    case Truncated:
        PutReply(out, i, nType, DS_OK);
        out.m_vecData.pop_back();
        break;
    case Oversized:
        PutReply(out, i, nType, DS_OK);
        out.m_vecData.resize(OVERSIZE_BYTES, 0);
        break;
    case WrongPort:
        PutReply(out, i, nType, DS_OK);
        out.m_bWrongPort = true;
        break;
    default:
        PutReply(out, i, nType, DS_OK);
        break;
    }
    ++m_aClassCounts[eClass];
    --m_nFloodLeft;
    return out;
}

void CUnsolicited::Report() const
{
    std::fprintf(stderr,
                 "flood sent=%ld valid=%ld error_status=%ld garbage=%ld empty=%ld truncated=%ld oversized=%ld "
                 "wrong_port=%ld\n",
                 m_nFlood, m_aClassCounts[Valid], m_aClassCounts[ErrorStatus], m_aClassCounts[GarbageBytes],
                 m_aClassCounts[Empty], m_aClassCounts[Truncated], m_aClassCounts[Oversized],
                 m_aClassCounts[WrongPort]);
}

#include "outbox.h"

#include "ipv4.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

std::vector<unsigned char> Garbage(CRandom& random)
{
    std::vector<unsigned char> vec(1 + random.Below(200));
    for (auto& byte : vec)
        byte = static_cast<unsigned char>(random.Next());
    while (DeviceMsgSize(static_cast<std::int8_t>(vec[0])) != 0)
        vec[0] = static_cast<unsigned char>(random.Next());
    return vec;
}

COutbox::COutbox(const CSimOptions& opts, int fdMain, int fdWrongPort)
    : m_opts(opts), m_fdMain(fdMain), m_fdWrongPort(fdWrongPort), m_random(opts.m_nSeed)
{
}

void COutbox::QueueReply(std::uint32_t nFromIp, const sockaddr_in& addrTo, const unsigned char* pData, int nSize,
                         SimClock::time_point now)
{
    if (m_opts.m_dDrop > 0 && m_random.Unit() < m_opts.m_dDrop)
        return;
    COutgoing out;
    out.m_tDue = now + std::chrono::milliseconds(m_opts.m_nDelayMs);
    out.m_nFromIp = nFromIp;
    out.m_addrTo = addrTo;
    out.m_bWrongPort = m_opts.m_bWrongPort;
    if (m_opts.m_bGarbage) {
        out.m_vecData = Garbage(m_random);
    } else {
        out.m_vecData.assign(pData, pData + nSize);
        if (m_opts.m_bTruncate)
            out.m_vecData.pop_back();
        else if (m_opts.m_bOversize)
            out.m_vecData.resize(OVERSIZE_BYTES, 0);
    }
    Queue(std::move(out));
}

void COutbox::Queue(COutgoing&& out)
{
    m_deqOut.push_back(std::move(out));
}

bool COutbox::Send(const COutgoing& out)
{
    iovec iov{};
    iov.iov_base = const_cast<unsigned char*>(out.m_vecData.data());
    iov.iov_len = out.m_vecData.size();

    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_in*>(&out.m_addrTo);
    msg.msg_namelen = sizeof out.m_addrTo;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* pCmsg = CMSG_FIRSTHDR(&msg);
    pCmsg->cmsg_level = IPPROTO_IP;
    pCmsg->cmsg_type = IP_PKTINFO;
    pCmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(out.m_nFromIp);
    std::memcpy(CMSG_DATA(pCmsg), &info, sizeof info);

    const int fd = out.m_bWrongPort ? m_fdWrongPort : m_fdMain;
    for (;;) {
        if (sendmsg(fd, &msg, 0) >= 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            m_fdBlocked = fd;
            return false;
        }
        if (errno == ENOBUFS) {
            // No wakeup comes for this one; try again shortly.
            m_tRetry = SimClock::now() + std::chrono::milliseconds(1);
            return false;
        }
        // EINVAL or ENETUNREACH here usually means the source is no usable
        // address of this host, e.g. past 10.200.255.254 or after a SET_IP
        // outside the segment. A broadcast can fail this
        // way thousands of times: report the first few.
        if (++m_nSendErrors > 10)
            return true;
        std::fprintf(stderr, "norvane-sim: send from %s to %s:%u failed: %s\n", IpText(out.m_nFromIp).c_str(),
                     IpText(ntohl(out.m_addrTo.sin_addr.s_addr)).c_str(), unsigned(ntohs(out.m_addrTo.sin_port)),
                     std::strerror(errno));
        if (m_nSendErrors == 10)
            std::fputs("norvane-sim: further send errors not shown\n", stderr);
        return true;
    }
}

void COutbox::Flush(SimClock::time_point now)
{
    m_fdBlocked = -1;
    if (now < m_tRetry)
        return;
    while (!m_deqOut.empty() && m_deqOut.front().m_tDue <= now) {
        if (!Send(m_deqOut.front()))
            return;
        m_deqOut.pop_front();
    }
}

int COutbox::MsUntilDue(SimClock::time_point now) const
{
    if (m_deqOut.empty() || m_fdBlocked >= 0)
        return -1;
    const auto tNext = std::max(m_deqOut.front().m_tDue, m_tRetry);
    if (tNext <= now)
        return 0;
    // Rounded up, or the poll wakes a little early and spins.
    return int(std::chrono::ceil<std::chrono::milliseconds>(tNext - now).count());
}

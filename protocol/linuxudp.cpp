#include "linuxudp.h"

#include "devicemsg.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
// A read that fills this many bytes found a datagram longer than any message.
constexpr int READ_LIMIT = DEVMSG_BUF_SIZE + 1;
// Datagrams one call takes at most: a stock buffer holds about 500 small
// replies, so a few calls empty it.
constexpr int BATCH_SIZE = 64;
constexpr std::size_t CONTROL_SIZE = CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(quint32));

// The wait after a read that found datagrams: between the two bounds, as
// long as lets about 1/PACE_FILL_SHARE of the buffer fill, so that the rest
// is left for a reader that wakes late. It starts at the longest. A wait
// much shorter than the read before it wakes a reader the scheduler still
// counts as ahead of the sender on its core, and it is not let in for a
// millisecond or two: hence the lower bound, a few reads' time.
constexpr qint64 PACE_MAX_NS = 500'000;
constexpr qint64 PACE_MIN_NS = 150'000;
constexpr quint32 PACE_FILL_SHARE = 4;

// The thread's time slice asked for: the shortest the kernel grants.
constexpr quint64 SHORT_SLICE_NS = 100'000;

// The system call's argument (linux/sched/types.h, whose sched_param
// clashes with the C library's).
struct SchedAttr {
    quint32 size;
    quint32 policy;
    quint64 flags;
    qint32 nice;
    quint32 priority;
    quint64 runtime;
    quint64 deadline;
    quint64 period;
    quint32 utilMin;
    quint32 utilMax;
};

// Asks the scheduler to let the calling thread in soon after it wakes, by a
// short time slice; this takes no more processor time. Kernels before 6.12
// ignore the request.
void RequestShortSlice()
{
    // Policy and nice value stay as they are: read them, change the slice.
    SchedAttr attr{};
    if (::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0)
        return;
    attr.size = sizeof attr;
    attr.runtime = SHORT_SLICE_NS;
    ::syscall(SYS_sched_setattr, 0, &attr, 0);
}
} // namespace

struct CLinuxUdp::Batch {
    ReceivedDatagram received[BATCH_SIZE];
    mmsghdr headers[BATCH_SIZE];
    iovec vectors[BATCH_SIZE];
    sockaddr_in senders[BATCH_SIZE];
    alignas(cmsghdr) unsigned char control[BATCH_SIZE][CONTROL_SIZE];
    unsigned char data[BATCH_SIZE][READ_LIMIT];
};

CLinuxUdp::CLinuxUdp() = default;

CLinuxUdp::~CLinuxUdp()
{
    m_pPaceNotifier.reset();
    m_pNotifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_paceFd >= 0)
        ::close(m_paceFd);
}

bool CLinuxUdp::Open(int nReceiveBuffer)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    const int one = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t nLocalSize = sizeof local;
    socklen_t nIntSize = sizeof m_nReceiveBuffer;
    // Broadcasts allowed as on every UDP socket the portable path opens;
    // without the drop count or the arriving interface the socket still
    // works, so their failures are not fatal.
    if (::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0 ||
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &nLocalSize) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &nReceiveBuffer, sizeof nReceiveBuffer);
    ::setsockopt(m_fd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
    ::setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    ::getsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &m_nReceiveBuffer, &nIntSize);
    m_nLocalPort = ntohs(local.sin_port);
    m_paceFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    m_nPaceNs = PACE_MAX_NS;

    m_pBatch = std::make_unique<Batch>();
    for (int i = 0; i < BATCH_SIZE; ++i) {
        m_pBatch->vectors[i] = {m_pBatch->data[i], READ_LIMIT};
        msghdr& msg = m_pBatch->headers[i].msg_hdr;
        msg.msg_iov = &m_pBatch->vectors[i];
        msg.msg_iovlen = 1;
        m_pBatch->received[i].pData = m_pBatch->data[i];
    }

    m_pNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CLinuxUdp::Readable);
    if (m_paceFd >= 0) {
        m_pPaceNotifier = std::make_unique<QSocketNotifier>(m_paceFd, QSocketNotifier::Read);
        connect(m_pPaceNotifier.get(), &QSocketNotifier::activated, this, &CLinuxUdp::OnPaceEnd);
    }
    RequestShortSlice();
    return true;
}

void CLinuxUdp::Listen(bool bOn)
{
    m_bListening = bOn;
    UpdateNotifier();
}

// The notifier reports a readable socket for as long as it is one: it is
// off while the reader is paused or pacing.
void CLinuxUdp::UpdateNotifier()
{
    m_pNotifier->setEnabled(m_bListening && !m_bPacing);
}

void CLinuxUdp::Pace()
{
    if (m_paceFd < 0)
        return;
    itimerspec once{};
    once.it_value.tv_nsec = long(m_nPaceNs);
    ::timerfd_settime(m_paceFd, 0, &once, nullptr);
    m_bPacing = true;
    UpdateNotifier();
}

// Scales the next wait by how full this one let the buffer get: down at
// once, up at most twice as long, within the bounds. A wait that nothing
// came in tells no rate, and leaves it as it was for the next burst.
void CLinuxUdp::AdjustPace()
{
    quint32 meminfo[SK_MEMINFO_VARS] = {};
    socklen_t nSize = sizeof meminfo;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_MEMINFO, meminfo, &nSize) != 0 ||
        nSize <= socklen_t(SK_MEMINFO_RCVBUF * sizeof(quint32)) || meminfo[SK_MEMINFO_RMEM_ALLOC] == 0)
        return;
    const qint64 nTarget = meminfo[SK_MEMINFO_RCVBUF] / PACE_FILL_SHARE;
    const qint64 nFilled = meminfo[SK_MEMINFO_RMEM_ALLOC];
    m_nPaceNs = std::clamp(std::min(m_nPaceNs * nTarget / nFilled, m_nPaceNs * 2), PACE_MIN_NS, PACE_MAX_NS);
}

void CLinuxUdp::OnPaceEnd()
{
    quint64 nExpired = 0;
    [[maybe_unused]] const ssize_t nRead = ::read(m_paceFd, &nExpired, sizeof nExpired);
    m_bPacing = false;
    AdjustPace();
    UpdateNotifier();
    if (m_bListening)
        emit Readable();
}

bool CLinuxUdp::SendTo(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface,
                       bool& bRetry)
{
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(nPort);
    dest.sin_addr.s_addr = htonl(addr.toIPv4Address());
    iovec iov{const_cast<char*>(pData), std::size_t(nLength)};
    msghdr msg{};
    msg.msg_name = &dest;
    msg.msg_namelen = sizeof dest;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    // Naming the interface sends out of it whatever the routes say: a
    // broadcast reaches that segment, and an address in no local subnet is
    // taken as on its link.
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (nInterface > 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* pCmsg = CMSG_FIRSTHDR(&msg);
        pCmsg->cmsg_level = IPPROTO_IP;
        pCmsg->cmsg_type = IP_PKTINFO;
        pCmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo pktinfo{};
        pktinfo.ipi_ifindex = nInterface;
        std::memcpy(CMSG_DATA(pCmsg), &pktinfo, sizeof pktinfo);
    }
    const ssize_t nSent = ::sendmsg(m_fd, &msg, 0);
    const int nError = errno;
    bRetry = nSent < 0 && (nError == EAGAIN || nError == EWOULDBLOCK || nError == ENOBUFS || nError == EINTR);
    if (nSent == nLength)
        return true;
    m_strError = nSent < 0 ? qt_error_string(nError)
                           : QStringLiteral("the system sent %1 of %2 bytes").arg(nSent).arg(nLength);
    return false;
}

quint64 CLinuxUdp::SystemDrops() const
{
    quint64 nDrops = m_nSystemDrops.load(std::memory_order_relaxed);
    quint32 meminfo[SK_MEMINFO_VARS] = {};
    socklen_t nSize = sizeof meminfo;
    if (m_fd >= 0 && ::getsockopt(m_fd, SOL_SOCKET, SO_MEMINFO, meminfo, &nSize) == 0 &&
        nSize > socklen_t(SK_MEMINFO_DROPS * sizeof(quint32)))
        nDrops = std::max<quint64>(nDrops, meminfo[SK_MEMINFO_DROPS]);
    return nDrops;
}

int CLinuxUdp::BatchSize() const
{
    return BATCH_SIZE;
}

const ReceivedDatagram& CLinuxUdp::Datagram(int nIndex) const
{
    return m_pBatch->received[nIndex];
}

int CLinuxUdp::Read()
{
    Batch& batch = *m_pBatch;
    // The kernel rewrites the name and control lengths on each call.
    for (int i = 0; i < BATCH_SIZE; ++i) {
        msghdr& msg = batch.headers[i].msg_hdr;
        msg.msg_name = &batch.senders[i];
        msg.msg_namelen = sizeof batch.senders[i];
        msg.msg_control = batch.control[i];
        msg.msg_controllen = CONTROL_SIZE;
    }
    int nRead = 0;
    do
        nRead = ::recvmmsg(m_fd, batch.headers, BATCH_SIZE, MSG_DONTWAIT, nullptr);
    while (nRead < 0 && errno == EINTR);
    if (nRead < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    for (int i = 0; i < nRead; ++i) {
        const msghdr& msg = batch.headers[i].msg_hdr;
        DatagramInfo& info = batch.received[i].info;
        info = DatagramInfo();
        info.nLength = (msg.msg_flags & MSG_TRUNC) ? READ_LIMIT : qint64(batch.headers[i].msg_len);
        info.nPort = ntohs(batch.senders[i].sin_port);
        info.nSenderIp = ntohl(batch.senders[i].sin_addr.s_addr);
        for (cmsghdr* pCmsg = CMSG_FIRSTHDR(&msg); pCmsg; pCmsg = CMSG_NXTHDR(const_cast<msghdr*>(&msg), pCmsg)) {
            if (pCmsg->cmsg_level == IPPROTO_IP && pCmsg->cmsg_type == IP_PKTINFO) {
                in_pktinfo pktinfo;
                std::memcpy(&pktinfo, CMSG_DATA(pCmsg), sizeof pktinfo);
                info.nInterface = pktinfo.ipi_ifindex;
            } else if (pCmsg->cmsg_level == SOL_SOCKET && pCmsg->cmsg_type == SO_RXQ_OVFL) {
                quint32 nDrops = 0;
                std::memcpy(&nDrops, CMSG_DATA(pCmsg), sizeof nDrops);
                // The count only grows, and is 32 bits wide on the wire.
                if (nDrops > m_nSystemDrops.load(std::memory_order_relaxed))
                    m_nSystemDrops.store(nDrops, std::memory_order_relaxed);
            }
        }
    }
    return nRead;
}

// norvane-sim: many Norvane appliances behind one UDP socket, for tests,
// demos and people without hardware. See --help, and appliances.h for the
// appliances' identities and rules.
//
// The socket is bound to 0.0.0.0:8400 with IP_PKTINFO: recvmsg tells which
// address a request was sent to, which picks the appliance(s), and every
// reply carries the appliance's address as its source in an IP_PKTINFO
// control message. Inside tools/private-segment every 10.200.x.y is local, so
// each appliance answers from its own address.

#include "appliances.h"
#include "control.h"
#include "ipv4.h"
#include "options.h"
#include "outbox.h"
#include "segmentguard.h"
#include "unsolicited.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint16_t WRONG_PORT = 8401;
constexpr int SOCKET_BUFFER_BYTES = 8 * 1024 * 1024;
// Keeps a generated flood from filling memory; also how far it may run ahead of replies.
constexpr std::size_t UNSOLICITED_BATCH = 256;
// Datagrams read per wakeup before queued replies get a turn.
constexpr int RECEIVE_BATCH = 256;

int g_fdStopWrite = -1;

void OnStopSignal(int)
{
    const int nSavedErrno = errno;
    const char byte = 1;
    (void)!write(g_fdStopWrite, &byte, 1);
    errno = nSavedErrno;
}

bool InstallStopSignals(int& fdStopRead)
{
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    fdStopRead = fds[0];
    g_fdStopWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

int OpenSocket(std::uint16_t nPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int nOne = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &nOne, sizeof nOne);
    // Best effort: the kernel caps these at rmem_max and wmem_max.
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &SOCKET_BUFFER_BYTES, sizeof SOCKET_BUFFER_BYTES);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &SOCKET_BUFFER_BYTES, sizeof SOCKET_BUFFER_BYTES);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(nPort);
    if (setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &nOne, sizeof nOne) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "norvane-sim: cannot bind port %u: %s\n", unsigned(nPort), std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

// An appliance whose address is not local cannot send a single reply.
void WarnIfNotLocal(std::uint32_t nIp)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(nIp);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 && errno == EADDRNOTAVAIL)
        std::fprintf(stderr, "norvane-sim: warning: %s is no address of this host; appliances there cannot answer\n",
                     IpText(nIp).c_str());
    if (fd >= 0)
        close(fd);
}

void PrintAppliances(const CSimOptions& opts, const CApplianceTable& table)
{
    if (table.Count() > 50 && !opts.m_bVerbose) {
        std::printf("appliances count=%d first-ip=%s last-ip=%s\n", table.Count(), IpText(table.Ip(0)).c_str(),
                    IpText(table.Ip(table.Count() - 1)).c_str());
    } else {
        for (int i = 0; i < table.Count(); ++i)
            std::printf("appliance mac=%s ip=%s serial=%s\n", table.MacText(i).c_str(),
                        IpText(table.Ip(i)).c_str(), table.SerialText(i).c_str());
    }
    std::printf("ready\n");
    std::fflush(stdout);
}

class CReceiver {
public:
    CReceiver(int fd, std::FILE* pLog, bool bLogTimes, CApplianceTable& table, COutbox& outbox)
        : m_fd(fd), m_pLog(pLog), m_bLogTimes(bLogTimes), m_table(table), m_outbox(outbox)
    {
    }

    // A line of the log that is no request: a control line applied.
    void Note(std::string_view line)
    {
        if (!m_pLog)
            return;
        std::fputs("control ", m_pLog);
        std::fwrite(line.data(), 1, line.size(), m_pLog);
        if (m_bLogTimes)
            std::fprintf(m_pLog, " t=%.6f", std::chrono::duration<double>(SimClock::now() - m_tStart).count());
        std::fputc('\n', m_pLog);
    }

    // Handles what is waiting, up to RECEIVE_BATCH datagrams.
    void ReceiveBatch()
    {
        for (int n = 0; n < RECEIVE_BATCH; ++n)
            if (!ReceiveOne())
                return;
    }

private:
    bool ReceiveOne()
    {
        sockaddr_in addrFrom{};
        iovec iov{m_buf, sizeof m_buf};
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr msg{};
        msg.msg_name = &addrFrom;
        msg.msg_namelen = sizeof addrFrom;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        // MSG_TRUNC: the result is the datagram's real length, for the log.
        const ssize_t nLen = recvmsg(m_fd, &msg, MSG_TRUNC);
        if (nLen < 0)
            return errno == EINTR;

        std::uint32_t nToIp = 0;
        for (cmsghdr* p = CMSG_FIRSTHDR(&msg); p; p = CMSG_NXTHDR(&msg, p)) {
            if (p->cmsg_level == IPPROTO_IP && p->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(p), sizeof info);
                nToIp = ntohl(info.ipi_addr.s_addr);
            }
        }
        if (m_pLog) {
            char type[8] = "none";
            if (nLen > 0)
                std::snprintf(type, sizeof type, "0x%02X", unsigned(m_buf[0]));
            std::fprintf(m_pLog, "req type=%s from=%s:%u to=%s len=%zd", type,
                         IpText(ntohl(addrFrom.sin_addr.s_addr)).c_str(), unsigned(ntohs(addrFrom.sin_port)),
                         IpText(nToIp).c_str(), nLen);
            if (m_bLogTimes)
                std::fprintf(m_pLog, " t=%.6f", std::chrono::duration<double>(SimClock::now() - m_tStart).count());
            std::fputc('\n', m_pLog);
        }

        const int nSize = int(std::min<ssize_t>(nLen, sizeof m_buf));
        const auto now = SimClock::now();
        m_table.HandleRequest(m_buf, nSize, nToIp, now,
                              [&](std::uint32_t nFromIp, const unsigned char* pData, int nReplySize) {
                                  m_outbox.QueueReply(nFromIp, addrFrom, pData, nReplySize, now);
                              });
        return true;
    }

    int m_fd;
    std::FILE* m_pLog;
    bool m_bLogTimes;
    SimClock::time_point m_tStart = SimClock::now();
    CApplianceTable& m_table;
    COutbox& m_outbox;
    unsigned char m_buf[DEVMSG_BUF_SIZE];
};

// The --control source. A FIFO is opened for writing too, so it never
// reaches its end: a script may open and close it again and again.
int OpenControl(const std::string& strPath)
{
    if (strPath == "-")
        return STDIN_FILENO; // left blocking: the shell's terminal shares it; one read per wakeup
    struct stat st {};
    const bool bFifo = stat(strPath.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    const int fd = open(strPath.c_str(), (bFifo ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        std::fprintf(stderr, "norvane-sim: cannot open %s: %s\n", strPath.c_str(), std::strerror(errno));
    return fd;
}

// Applies a control line and says how it went: "ok LINE" or "error LINE" on
// standard output, for a test to wait on, and the reason on standard error.
void ReportControl(std::string_view line, bool bTooLong, CApplianceTable& table, CReceiver& receiver)
{
    std::string strError;
    EControl eResult = EControl::Error;
    if (bTooLong)
        strError = "longer than " + std::to_string(CLineSplitter::MAX_LINE) + " bytes";
    else
        eResult = ApplyControl(line, table, strError);
    if (eResult == EControl::Ignored)
        return;
    const bool bOk = eResult == EControl::Applied;
    if (bOk) {
        receiver.Note(line);
    } else {
        std::fprintf(stderr, "norvane-sim: control: %s: ", strError.c_str());
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fputc('\n', stderr);
    }
    std::fputs(bOk ? "ok " : "error ", stdout);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Reads what the control source holds now; false once it has ended.
bool ReadControl(int fd, CLineSplitter& splitter, const CLineSplitter::LineFn& onLine)
{
    char buf[4096];
    const ssize_t nRead = read(fd, buf, sizeof buf);
    if (nRead > 0) {
        splitter.Feed(std::string_view(buf, std::size_t(nRead)), onLine);
        return true;
    }
    if (nRead < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (nRead < 0)
        std::fprintf(stderr, "norvane-sim: control: %s; no more control lines\n", std::strerror(errno));
    splitter.Finish(onLine);
    return false;
}

void Drain(int fd)
{
    unsigned char buf[64];
    while (recv(fd, buf, sizeof buf, 0) >= 0 || errno == EINTR) {
    }
}

int Run(const CSimOptions& opts)
{
    // The appliances answer whoever asks, and --unsolicited-to can aim
    // anywhere: on a real network that traffic would leave the machine.
    if (const std::string strWhy = SegmentRefusal(); !strWhy.empty()) {
        std::fprintf(stderr, "norvane-sim: refusing to start: %s; run it inside tools/private-segment\n",
                     strWhy.c_str());
        return 1;
    }
    int fdStop = -1;
    if (!InstallStopSignals(fdStop)) {
        std::perror("norvane-sim: signals");
        return 1;
    }

    std::FILE* pLog = nullptr;
    if (!opts.m_strLog.empty()) {
        pLog = std::fopen(opts.m_strLog.c_str(), "a");
        if (!pLog) {
            std::fprintf(stderr, "norvane-sim: cannot open %s: %s\n", opts.m_strLog.c_str(), std::strerror(errno));
            return 1;
        }
        // Tests read it while we run.
        std::setvbuf(pLog, nullptr, _IOLBF, 0);
    }

    CApplianceTable table(opts);
    if (!table.DumpAll())
        return 1;

    int fdControl = -1;
    if (!opts.m_strControl.empty() && (fdControl = OpenControl(opts.m_strControl)) < 0)
        return 1;

    const int fd = OpenSocket(DEVICE_PORT);
    if (fd < 0)
        return 1;
    int fdWrong = -1;
    if (opts.m_bWrongPort || opts.m_nFlood > 0) {
        fdWrong = OpenSocket(WRONG_PORT);
        if (fdWrong < 0)
            return 1;
    }

    COutbox outbox(opts, fd, fdWrong);
    CReceiver receiver(fd, pLog, opts.m_bLogTimes, table, outbox);
    CUnsolicited unsolicited(opts, table);
    bool bFloodReported = false;
    CLineSplitter splitter;
    const CLineSplitter::LineFn onControlLine = [&](std::string_view line, bool bTooLong) {
        ReportControl(line, bTooLong, table, receiver);
    };

    WarnIfNotLocal(table.Ip(0));
    if (table.Count() > 1)
        WarnIfNotLocal(table.Ip(table.Count() - 1));
    PrintAppliances(opts, table);

    const auto tStart = SimClock::now();
    const auto tEnd = opts.m_dSeconds > 0 ? tStart + std::chrono::duration_cast<SimClock::duration>(
                                                         std::chrono::duration<double>(opts.m_dSeconds))
                                          : SimClock::time_point::max();
    for (;;) {
        const auto now = SimClock::now();
        if (now >= tEnd)
            break;
        while (!unsolicited.Done() && outbox.Size() < UNSOLICITED_BATCH)
            outbox.Queue(unsolicited.Next());
        outbox.Flush(now);
        if (unsolicited.Flooding() && unsolicited.Done() && outbox.Size() == 0 && !bFloodReported) {
            unsolicited.Report();
            bFloodReported = true;
        }

        int nTimeout = outbox.MsUntilDue(now);
        if (!unsolicited.Done() && outbox.Size() < UNSOLICITED_BATCH)
            nTimeout = 0;
        if (tEnd != SimClock::time_point::max()) {
            const auto nLeft = std::chrono::ceil<std::chrono::milliseconds>(tEnd - now).count();
            nTimeout = nTimeout < 0 ? int(nLeft) : std::min(nTimeout, int(nLeft));
        }

        const int fdBlocked = outbox.BlockedFd();
        // poll() passes over the descriptors that are -1.
        pollfd fds[4] = {
            {fdStop, POLLIN, 0},
            {fd, short(POLLIN | (fdBlocked == fd ? POLLOUT : 0)), 0},
            {fdWrong, short(POLLIN | (fdBlocked == fdWrong ? POLLOUT : 0)), 0},
            {fdControl, POLLIN, 0},
        };
        if (poll(fds, 4, nTimeout) < 0 && errno != EINTR) {
            std::perror("norvane-sim: poll");
            return 1;
        }
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN)
            receiver.ReceiveBatch();
        if (fdWrong >= 0 && (fds[2].revents & POLLIN))
            Drain(fdWrong);
        if (fds[3].revents && !ReadControl(fdControl, splitter, onControlLine)) {
            if (fdControl != STDIN_FILENO)
                close(fdControl);
            fdControl = -1;
        }
    }

    close(fd);
    if (fdWrong >= 0)
        close(fdWrong);
    if (fdControl > STDIN_FILENO)
        close(fdControl);
    if (pLog)
        std::fclose(pLog);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CSimOptions opts;
    switch (ParseOptions(argc, argv, opts)) {
    case EParse::Help:
        return 0;
    case EParse::Error:
        return 2;
    case EParse::Run:
        break;
    }
    return Run(opts);
}

// Fuzzes what the command line hears: datagrams of any length, from any
// address and port, through the endpoint's receive path into a CSession,
// over rounds of provision --watch (the session's discovery, CWatcher,
// CZeroTouch), while requests of the session wait for their replies.
//
// Up to three honest appliances, the simulator's first (10.200.1.1 on),
// answer each discovery from their own address, unless told to keep quiet.
// The session is opened, so it runs only inside tools/private-segment; what
// it sends is read back there on port 8400. Nothing waits for real time:
// zero-touch's changes of address, which nobody acknowledges, time out at
// once, and the requests in flight end on replies.
//
// The input is a setup byte, then records, each led by its op byte:
//   setup        bits 0-1  rounds of silence before gone, minus one
//                bits 2-4  honest appliances planned elsewhere (10.200.4.N+1),
//                          by index; the others where they are
//                bits 5-6  how many honest appliances there are
//                bit 7     discovery broadcasts (else it only listens)
//   op & 3 == 0  a datagram: [op][source][address: 4 bytes when source & 7 == 7]
//                [length lo][length hi][bytes]; length 0xFFFF: a failed read,
//                else modulo 9301 and cut to the bytes left. Source bits 0-2:
//                kSources, 7 the address given; bit 3: from port 8401;
//                bits 4-5: kInterfaces
//   op & 3 == 1  the honest appliances in bits 2-4 answer now
//   op & 3 == 2  the round ends: those in bits 2-4 keep quiet in it, the
//                others answer unless they have
//   op & 3 == 3  a request in flight: bits 2-4 kRequests, bits 5-6 the honest
//                appliance it goes to
// A round ends as well with the input, or after 64 records; an input has
// at most 8 rounds.
//
// Claims are what discovery took: a MAC, an address and a serial, from a
// datagram whose source is the address it names. The rules:
//   - an appliance appears, moves or changes only as claimed in this round
//     and the one before, and is gone only after as many rounds without a
//     claim as --gone-after says; nothing else is kept (memory bounded);
//   - an honest appliance believed where it is stays there while it keeps
//     answering, whatever others send (unless someone sends from its address);
//     one that answered every round where it is planned gets no set-ip;
//   - zero-touch sends set-ip only for a planned appliance believed and
//     claimed this round, not at its planned address, to that address, at
//     most once more than --retries;
//   - a request ends only on a reply of its type from the address it went to
//     (or, for set-ip, its new one), and on its true reply at the latest.
#include "appliances.h"
#include "interruption.h"
#include "privatesegment.h"
#include "provisionjob.h"
#include "subcommands.h"
#include "targets.h"
#include "watch.h"
#include "zerotouch.h"

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

namespace {

constexpr int MAX_FUZZ_LENGTH = 9300;
constexpr int MAX_ROUNDS = 8;
constexpr int HONEST = 3;
constexpr quint32 Ipv4(int a, int b, int c, int d) { return quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | quint32(d); }
// The honest appliances' addresses first: a datagram from one of them is
// another host using that address.
const quint32 kSources[7] = {Ipv4(10, 200, 1, 1), Ipv4(10, 200, 1, 2), Ipv4(10, 200, 1, 3), Ipv4(10, 200, 9, 1),
                             Ipv4(10, 200, 9, 2), Ipv4(10, 200, 3, 1), Ipv4(10, 200, 4, 1)};
const int kInterfaces[4] = {0, 1, 2, 77};
const std::int8_t kRequests[5] = {DM_GET_LOGIN, DM_REBOOT, DM_GET_FLASHINFO, DM_DISCOVER, DM_SET_IP};
constexpr int REQUEST_TIMEOUT_MS = 3600 * 1000; // never reached: each ends on a reply

void Require(bool bOk, const char* pszWhat, const QString& strDetail = {})
{
    if (bOk)
        return;
    std::fprintf(stderr, "fuzz_cli_receive: %s %s\n", pszWhat, qPrintable(strDetail));
    std::abort();
}

QString Dotted(quint32 nIp)
{
    return QHostAddress(nIp).toString();
}

using Claim = std::tuple<QString, QString, QString>; // canonical MAC, canonical address, serial
using Claims = std::set<Claim>;

bool ClaimedMac(const Claims& claims, const QString& strMac)
{
    const auto it = claims.lower_bound({strMac, {}, {}});
    return it != claims.end() && std::get<0>(*it) == strMac;
}

// The datagram being handed on, for the requests that end on it.
struct Current {
    bool bActive = false;
    quint32 nFrom = 0;
    quint16 nPort = 0;
    std::uint8_t nType = 0, nStatus = 0;
} g_current;

bool g_bDiscovering = false;
Claims g_claims; // of the round in progress

class CFuzzSession : public CSession {
public:
    CFuzzSession() : CSession(false) {}
    void AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                   const QString& strIp) override
    {
        const QString strFrom = Dotted(origin.addr.toIPv4Address());
        if (g_bDiscovering && !CanonicalMac(strMac).isEmpty() && CanonicalIp(strIp) == strFrom)
            g_claims.insert({CanonicalMac(strMac), strFrom, strSerial});
        CSession::AddDevice(origin, strSerial, strMac, strIp);
    }
};

struct Request {
    std::int8_t nType;
    int nHonest;
    quint32 nTo, nNewIp;
    bool bEnded = false;
};

// Lives as long as the process.
CContext* g_pCtx = nullptr;
CFuzzSession* g_pSession = nullptr;
CDeviceSocket* g_pFeeder = nullptr; // the receive path, handing to the session
CApplianceTable* g_pSim = nullptr;
int g_fdHeard = -1; // port 8400: what the session sends

// One input's state.
const std::uint8_t* g_pNext = nullptr;
const std::uint8_t* g_pEnd = nullptr;
int g_nHonest = 0;
unsigned g_nAnswered = 0, g_nTainted = 0, g_nTrusted = 0, g_nSteady = 0;
std::deque<Request> g_requests;

void Deliver(const unsigned char* pData, qint64 nLength, const DeviceOrigin& origin)
{
    g_current = {true, origin.addr.toIPv4Address(), origin.nPort, nLength > 0 ? pData[0] : std::uint8_t(0),
                 nLength >= DEVMSG_HEADER_SIZE ? pData[DEVMSG_HEADER_SIZE - 1] : std::uint8_t(0)};
    g_pFeeder->HandleDatagram(pData, nLength, origin);
    g_current = {};
}

void DeliverTrue(int nHonest, std::int8_t nType)
{
    unsigned char buf[DEVMSG_MAX_SIZE];
    const int nSize = g_pSim->EncodeReply(nHonest, nType, DS_OK, buf);
    Deliver(buf, nSize, DeviceOrigin{QHostAddress(g_pSim->Ip(nHonest)), DEVICE_PORT, 0});
}

void Answer(unsigned nMask)
{
    for (int i = 0; i < g_nHonest; ++i)
        if ((nMask & (1u << i)) && !(g_nAnswered & (1u << i))) {
            g_nAnswered |= 1u << i;
            DeliverTrue(i, DM_DEVICE_INFO);
        }
}

void Datagram(const std::uint8_t nSource)
{
    quint32 nFrom = 0;
    if ((nSource & 7) < 7) {
        nFrom = kSources[nSource & 7];
    } else if (g_pEnd - g_pNext >= 4) {
        nFrom = quint32(g_pNext[0]) << 24 | quint32(g_pNext[1]) << 16 | quint32(g_pNext[2]) << 8 | g_pNext[3];
        g_pNext += 4;
    }
    if (g_pEnd - g_pNext < 2) {
        g_pNext = g_pEnd;
        return;
    }
    const unsigned nField = unsigned(g_pNext[0]) | unsigned(g_pNext[1]) << 8;
    g_pNext += 2;
    qint64 nLength = -1;
    if (nField != 0xFFFF)
        nLength = std::min<qint64>(nField % (MAX_FUZZ_LENGTH + 1), g_pEnd - g_pNext);
    const qint64 nStored = std::max<qint64>(nLength, 0);
    // Exactly the datagram's bytes: a read past them is an ASan report.
    auto pData = std::make_unique<unsigned char[]>(std::size_t(nStored));
    std::memcpy(pData.get(), g_pNext, std::size_t(nStored));
    g_pNext += nStored;
    for (int i = 0; i < HONEST; ++i)
        if (nFrom == g_pSim->Ip(i))
            g_nTainted |= 1u << i;
    Deliver(pData.get(), nLength,
            DeviceOrigin{QHostAddress(nFrom), quint16((nSource & 8) ? DEVICE_PORT + 1 : DEVICE_PORT),
                         kInterfaces[(nSource >> 4) & 3]});
}

void Ended(Request& request, const RequestResult& result)
{
    Require(!request.bEnded, "a request ended twice");
    request.bEnded = true;
    if (result.outcome != RequestResult::EOutcome::Ok && result.outcome != RequestResult::EOutcome::Status)
        return;
    Require(g_current.bActive && g_current.nPort == DEVICE_PORT &&
                (g_current.nFrom == request.nTo || (request.nType == DM_SET_IP && g_current.nFrom == request.nNewIp)) &&
                g_current.nType == std::uint8_t(ReplyTypeOf(request.nType)) &&
                (result.outcome == RequestResult::EOutcome::Ok) == (g_current.nStatus == 0),
            "a request ended on another reply than its own, from", Dotted(g_current.nFrom));
}

void StartRequest(std::uint8_t nOp)
{
    const std::int8_t nType = kRequests[((nOp >> 2) & 7) % 5];
    const int nHonest = ((nOp >> 5) & 3) % HONEST;
    Request request{nType, nHonest, g_pSim->Ip(nHonest), Ipv4(10, 200, 3, nHonest + 1)};
    const QString strTo = Dotted(request.nTo);
    if (g_pSession->Busy(strTo))
        return;
    DeviceRequest sent{.nType = nType, .strPassword = QStringLiteral("pw"), .strDeviceIp = strTo};
    if (nType == DM_DISCOVER)
        sent.bUnicast = true;
    if (nType == DM_SET_IP) {
        sent.strMac = QString::fromStdString(g_pSim->MacText(nHonest));
        sent.strNewIp = Dotted(request.nNewIp);
    }
    g_requests.push_back(request);
    Request* pRequest = &g_requests.back(); // a deque keeps its elements where they are
    g_pSession->Start(sent, REQUEST_TIMEOUT_MS, [pRequest](const RequestResult& result) { Ended(*pRequest, result); });
}

// The records of one round, handed on inside the discovery's wait.
void PlayRound()
{
    for (int nRecords = 0; g_pNext < g_pEnd && nRecords < 64; ++nRecords) {
        const std::uint8_t nOp = *g_pNext++;
        switch (nOp & 3) {
        case 0:
            if (g_pNext < g_pEnd)
                Datagram(*g_pNext++);
            break;
        case 1: Answer((nOp >> 2) & 7); break;
        case 2:
            Answer(~unsigned(nOp >> 2) & 7);
            g_pSession->StopDiscovery();
            return;
        default: StartRequest(nOp); break;
        }
    }
    Answer(7);
    g_pSession->StopDiscovery();
}

// What the session sent since the last look: the set-ip requests, as MAC
// text and new address.
QList<std::pair<QString, QString>> SentSetIp()
{
    QList<std::pair<QString, QString>> sent;
    unsigned char buf[DEVMSG_BUF_SIZE];
    for (ssize_t n; (n = recv(g_fdHeard, buf, sizeof buf, 0)) >= 0;) {
        DeviceMsg msg;
        int nPos = 0;
        if (n >= DeviceMsgSize(DM_SET_IP) && std::int8_t(buf[0]) == DM_SET_IP && DecodeDeviceMsg(buf, nPos, msg))
            sent.append({QString::fromLatin1(GetTextField(msg.body.setIp.mac, sizeof msg.body.setIp.mac)),
                         QString::fromLatin1(GetTextField(msg.body.setIp.newIp, sizeof msg.body.setIp.newIp))});
    }
    return sent;
}

QHash<QString, Appliance> ByMac(const QList<Appliance>& list)
{
    QHash<QString, Appliance> byMac;
    for (const Appliance& a : list)
        byMac.insert(CanonicalMac(a.strMac), a);
    return byMac;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RequirePrivateSegmentOrExit();
    static int argc = 1;
    static char name[] = "fuzz_cli_receive";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    // The events zero-touch writes; libFuzzer speaks on standard error.
    const int fdNull = open("/dev/null", O_WRONLY);
    Require(fdNull >= 0 && dup2(fdNull, STDOUT_FILENO) >= 0, "standard output not redirected");
    close(fdNull);

    static CSimOptions options;
    options.m_nCount = HONEST;
    g_pSim = new CApplianceTable(options);
    g_pCtx = new CContext;
    auto pSession = std::make_unique<CFuzzSession>();
    g_pSession = pSession.get();
    Require(g_pSession->Open(), "no socket for the session");
    g_pCtx->pSession = std::move(pSession);
    g_pFeeder = new CDeviceSocket;
    g_pFeeder->Setup(g_pSession);

    g_fdHeard = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int nOn = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(DEVICE_PORT);
    Require(g_fdHeard >= 0 && setsockopt(g_fdHeard, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn) == 0 &&
                bind(g_fdHeard, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0,
            "port 8400 not bound");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    if (nSize < 1)
        return 0;
    const std::uint8_t nSetup = pData[0];
    g_pNext = pData + 1;
    g_pEnd = pData + nSize;
    g_nHonest = (nSetup >> 5) & 3;
    g_nTainted = g_nTrusted = 0;
    g_nSteady = 7; // answered every round so far
    const int nGoneAfter = (nSetup & 3) + 1;
    SweepOptions sweep;
    sweep.bBroadcast = nSetup & 128;
    g_pSession->SetSweep(sweep);

    ProvisionInput in;
    in.options.strCommand = QStringLiteral("provision");
    in.options.strPassword = QStringLiteral("pw");
    in.options.nTimeoutMs = 0;
    in.options.nRetries = 1;
    QHash<QString, QString> plan; // canonical MAC -> planned address
    for (int i = 0; i < HONEST + 2; ++i) {
        // The honest appliances, then two the simulator forges.
        PlanRow row;
        row.strSource = QStringLiteral("plan.csv");
        row.nLine = i + 2;
        row.strMac = CanonicalMac(i < HONEST ? QString::fromStdString(g_pSim->MacText(i))
                                             : QStringLiteral("02:00:00:00:00:0%1").arg(i - HONEST + 1));
        const bool bElsewhere = i >= HONEST || (nSetup >> (2 + i)) & 1;
        row.strIp = Dotted(bElsewhere ? Ipv4(10, 200, 4, i + 1) : g_pSim->Ip(i));
        in.rows.append(row);
        plan.insert(row.strMac, row.strIp);
    }
    CWatcher watcher(nGoneAfter);
    CEventWriter writer(true);
    CInterruption interruption;
    CZeroTouch zeroTouch(*g_pCtx, in, watcher, [&](const WatchEvent& e) { return writer.Write(e); },
                         [&](const QList<ZeroTouchMove>& moves) {
                             return SendMoves(*g_pCtx->pSession, in.options, moves, interruption);
                         });
    std::deque<Claims> rounds; // the claims of the rounds so far, latest last
    QHash<QString, int> setIps;
    Claims believable; // claimed two rounds running at some time

    for (int nRound = 0; nRound < MAX_ROUNDS && (nRound == 0 || g_pNext < g_pEnd); ++nRound) {
        g_claims.clear();
        g_nAnswered = 0;
        g_bDiscovering = true;
        QTimer::singleShot(0, PlayRound);
        const QList<Appliance> heard = g_pSession->Discover(REQUEST_TIMEOUT_MS, 1).appliances;
        g_bDiscovering = false;
        for (Request& request : g_requests)
            if (!request.bEnded) {
                DeliverTrue(request.nHonest, request.nType == DM_DISCOVER ? DM_DEVICE_INFO : ReplyTypeOf(request.nType));
                Require(request.bEnded, "a request's true reply did not end it");
            }
        g_requests.clear();
        rounds.push_back(g_claims);
        if (rounds.size() > std::size_t(nGoneAfter) + 1)
            rounds.pop_front();
        const Claims* pBefore = rounds.size() > 1 ? &rounds[rounds.size() - 2] : nullptr;
        for (const Claim& claim : g_claims)
            if (pBefore && pBefore->count(claim))
                believable.insert(claim);

        const QHash<QString, Appliance> before = ByMac(watcher.Present());
        SentSetIp();
        zeroTouch.Round(heard);
        const QHash<QString, Appliance> after = ByMac(watcher.Present());

        // Recent: claimed in the last nGoneAfter rounds.
        const auto recent = [&](const QString& strMac) {
            for (std::size_t k = rounds.size() > std::size_t(nGoneAfter) ? 1 : 0; k < rounds.size(); ++k)
                if (ClaimedMac(rounds[k], strMac))
                    return true;
            return false;
        };
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            const Appliance& a = *it;
            const Claim claim{it.key(), CanonicalIp(a.strIp), a.strSerial};
            const auto was = before.constFind(it.key());
            if (was == before.cend() || CanonicalIp(was->strIp) != std::get<1>(claim) || was->strSerial != a.strSerial)
                Require(g_claims.count(claim) && pBefore && pBefore->count(claim),
                        "believed without a claim two rounds running:", it.key() + ' ' + a.strIp);
            Require(recent(it.key()), "kept without a claim in the last rounds:", it.key());
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (!after.contains(it.key()))
                Require(!recent(it.key()), "gone while it answered:", it.key());

        g_nSteady &= g_nAnswered & ~g_nTainted;
        for (int i = 0; i < g_nHonest; ++i) {
            const unsigned nBit = 1u << i;
            const QString strMac = CanonicalMac(QString::fromStdString(g_pSim->MacText(i)));
            const QString strIp = Dotted(g_pSim->Ip(i));
            const bool bThere = after.contains(strMac) && CanonicalIp(after[strMac].strIp) == strIp;
            if ((g_nTrusted & nBit) && (g_nAnswered & nBit) && !(g_nTainted & nBit))
                Require(bThere, "an honest appliance, answering, displaced:", strMac);
            g_nTrusted = (bThere && (g_nAnswered & nBit) && !(g_nTainted & nBit)) ? g_nTrusted | nBit : g_nTrusted & ~nBit;
        }

        for (const auto& [strMacText, strNewIp] : SentSetIp()) {
            if (QHostAddress(strNewIp).toIPv4Address() >> 8 == Ipv4(10, 200, 3, 0) >> 8)
                continue; // a request in flight of ours
            const QString strMac = CanonicalMac(strMacText);
            Require(plan.contains(strMac) && plan[strMac] == strNewIp, "set-ip to no planned address:",
                    strMacText + ' ' + strNewIp);
            Require(ClaimedMac(g_claims, strMac) && after.contains(strMac) &&
                        std::any_of(believable.begin(), believable.end(),
                                    [&](const Claim& c) { return std::get<0>(c) == strMac; }),
                    "set-ip for an appliance not believed, or not answering:", strMac);
            Require(CanonicalIp(after[strMac].strIp) != strNewIp, "set-ip for one at its planned address:", strMac);
            for (int i = 0; i < g_nHonest; ++i)
                Require(!(g_nSteady & (1u << i)) || strMac != CanonicalMac(QString::fromStdString(g_pSim->MacText(i))) ||
                            strNewIp != Dotted(g_pSim->Ip(i)),
                        "set-ip for an honest appliance answering all along where it is planned:", strMac);
            Require(++setIps[strMac] <= in.options.nRetries + 1, "set-ip sent more often than --retries allows:",
                    strMac);
        }
    }
    return 0;
}

// The simulated appliances and the answer each gives to a request. Nothing
// here touches a socket: replies leave through a callback, so the rules can be
// read and changed without the network code.
//
// Appliance i (0-based), n = --first-index + i:
//   address  --first-ip + i (--first-ip itself with --same-ip); the
//            --extra-ip ones come after the others
//   MAC      "00:1A:2B:XX:YY:ZZ", XX YY ZZ the bytes of n + 1 in uppercase hex;
//            with --mac-format dash "00-1A-2B-XX-YY-ZZ", bare "001A2BXXYYZZ",
//            dotted "001a.2bxx.yyzz" (lowercase)
//   serial   "NV" and the decimal 10000000 + n + 1, e.g. NV10000001
//   image    until a DM_PUT_FLASHINFO replaces it, byte k of 8192 is x >> 24 after
//              x = (n + 1) * 0x9E3779B9            (mod 2^32, once)
//              x = x * 1664525 + 1013904223        (mod 2^32, before each byte)
//
// Rules a test may lean on:
//   - A broadcast (255.255.255.255) reaches every appliance, a unicast the
//     ones holding that address. Requests of other types, shorter than their type's
//     size, or discoveries with a wrong magic are ignored.
//   - Discovery needs no password. Every other request with --password set
//     must carry it exactly, or gets a header-only reply with DS_BAD_PASSWORD.
//   - DM_SET_IP is taken by the reached appliance whose MAC matches the mac
//     field in any of the four forms, any case. It answers from its old
//     address, then moves; with --setip-ack-from new it moves, then answers
//     from its new address; with --setip-no-move it answers but stays. A
//     new address that does not parse, is unusable (0/8, 127/8, 224.0.0.0 and
//     up) or is held by another appliance gets DS_BAD_REQUEST and no move.
//   - With --lose-first, each appliance ignores the first K requests it takes
//     (of the type given, or of every type but discovery), as if lost on the
//     way, before any other rule.
//   - After its DM_REBOOT_ACK an appliance ignores everything, discovery
//     included, for --reboot-seconds.
//   - A --status override is checked first: the appliance does nothing and
//     answers the reply type at full size with a zero body and that status
//     (header-only with --short-status).
//   - Before all that: an absent appliance (--absent, control "leave")
//     ignores everything; one told to "skip N" ignores the next N
//     discoveries that reach it, broadcast or unicast.
//   - Control "move" and "serial" change what the appliance reports from then
//     on; a move is refused as a set-ip's would be. With "forge N" each
//     broadcast discovery also gets N device-info replies of appliances that
//     do not exist: MAC 02:00:00:XX:YY:ZZ, serial FORGED and digits, each
//     sent from the address it claims, an address no appliance holds within
//     the 4096 after --first-ip + --count, where nothing answers. With
//     "claim I A.B.C.D FROM" each broadcast discovery also gets, just before
//     and just after appliance i's own reply, one naming i's MAC and serial
//     at A.B.C.D, sent from FROM: another host speaking in its name.
#pragma once

#include "devicemsg.h"
#include "options.h"
#include "random.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

using SimClock = std::chrono::steady_clock;

class CApplianceTable {
public:
    // One call per reply: the address the reply comes from, and its bytes.
    using ReplyFn = std::function<void(std::uint32_t nFromIp, const unsigned char* pData, int nSize)>;

    explicit CApplianceTable(const CSimOptions& opts);

    int Count() const { return int(m_vecAppliances.size()); }
    std::uint32_t Ip(int i) const { return m_vecAppliances[std::size_t(i)].m_nIp; }
    std::string MacText(int i) const;
    std::string SerialText(int i) const;
    void FormulaImage(int i, unsigned char* pImage) const;

    // Appliance i's reply of this type with its real content; returns the size.
    int EncodeReply(int i, std::int8_t nType, std::int8_t nStatus, unsigned char* pBuf) const;

    void HandleRequest(const unsigned char* pData, int nSize, std::uint32_t nToIp, SimClock::time_point now,
                       const ReplyFn& reply);

    // Writes every image to the dump directory, when there is one.
    bool DumpAll() const;

    // What a control line changes (control.h); i in [0, Count()).
    void SetPresent(int i, bool bPresent) { m_vecAppliances[std::size_t(i)].m_bPresent = bPresent; }
    void SetSerial(int i, std::string strSerial) { m_vecAppliances[std::size_t(i)].m_strSerial = std::move(strSerial); }
    void SkipDiscoveries(int i, int n) { m_vecAppliances[std::size_t(i)].m_nSkip = n; }
    void Forge(int n) { m_nForge = n; }
    // Replies in appliance i's name from elsewhere; nFromIp 0 stops them.
    void Claim(int i, std::uint32_t nIp, std::uint32_t nFromIp) { m_claim = {i, nIp, nFromIp}; }
    // Why appliance i may not take this address, or null when it may.
    const char* MoveRefusal(int i, std::uint32_t nNewIp) const;
    // Takes the address at once, keeping the dump directory in step.
    void Move(int i, std::uint32_t nNewIp);

private:
    struct CAppliance {
        std::uint32_t m_nIp = 0;
        std::unique_ptr<unsigned char[]> m_pImage; // null: still the formula's image
        SimClock::time_point m_tSilentUntil{};
        int m_nLost = 0; // requests lost to --lose-first so far
        bool m_bPresent = true;
        int m_nSkip = 0;         // discoveries still to ignore
        std::string m_strSerial; // empty: the formula's
    };

    void Answer(int i, const DeviceMsg& req, SimClock::time_point now, const ReplyFn& reply);
    void SetIp(int i, const DeviceMsg& req, const ReplyFn& reply);
    void SendForged(const ReplyFn& reply);
    void SendClaim(const ReplyFn& reply) const;
    void SendReply(int i, std::int8_t nType, std::int8_t nStatus, const ReplyFn& reply) const;
    // A reply with a zero body.
    void SendBare(std::uint32_t nFromIp, std::int8_t nType, std::int8_t nStatus, int nSize,
                  const ReplyFn& reply) const;
    void CopyImage(int i, unsigned char* pImage) const;
    bool DumpImage(int i) const;
    int ApplianceOfMac(std::string_view mac) const;

    const CSimOptions& m_opts;
    std::vector<CAppliance> m_vecAppliances;
    std::unordered_multimap<std::uint32_t, int> m_mapByIp;
    int m_nForge = 0; // forged replies per broadcast discovery
    struct {
        int i = 0;
        std::uint32_t nIp = 0, nFromIp = 0;
    } m_claim;
    CRandom m_random;
};

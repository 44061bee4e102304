#include "options.h"

#include "devicemsg.h"
#include "ipv4.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

const char* const kUsage = R"(usage: norvane-sim [OPTION...]
Plays many Norvane appliances on UDP port 8400. Run it only inside
tools/private-segment (or routed-segment, multi-segment): it refuses to start
in the host's own network namespace, or beside an interface that may lead off
the machine.

Appliances
  --count N              appliances to play (default 3, at most 1000000; from
                         10.200.1.1, 65278 fit in the private segment)
  --first-ip A.B.C.D     address of the first; the others follow (default 10.200.1.1)
  --first-index N        number the appliances from N + 1 for MAC, serial and
                         image, so simulators side by side differ (default 0)
  --same-ip              put all of --count at --first-ip, as new appliances
                         arrive at one factory address; a unicast there
                         reaches each of them, a set-ip picks one by MAC
  --extra-ip A.B.C.D     one more appliance at this address, after the others;
                         repeatable
  --absent I[-J]         appliances I to J (0-based, in the order above) start
                         absent, answering nothing until "appear"; repeatable
  --password TEXT        password requests must carry (default: any accepted)
  --user NAME            user name in login replies (default admin)
  --web-port P           web port in login replies, any 32-bit value (default 80)
  --reboot-seconds S     silence after a reboot (default 3)
  --mac-format FORM      how the appliances write their MAC: colon
                         (00:1A:2B:00:00:01, the default), dash
                         (00-1A-2B-00-00-01), bare (001A2B000001) or dotted
                         (001a.2b00.0001); a set-ip may name it in any of these
  --setip-ack-from old|new
                         acknowledge a set-ip from the old address (the
                         default), or move first and acknowledge from the new one
  --seconds S            run time (default: until SIGINT or SIGTERM)

Faults
  --status TYPE=CODE     answer TYPE with status CODE (0..255) and do nothing;
                         TYPE is 0x10..0x15 or discover, setip, login, reboot,
                         getflash, putflash; repeatable
  --short-status         make those --status replies header-only (12 bytes)
                         instead of full-size with a zero body
  --setip-no-move        acknowledge a set-ip but keep the old address
  --lose-first [TYPE=]K  each appliance ignores the first K requests it is
                         sent, of TYPE (as for --status) or of every type but
                         discovery
  --drop RATIO           leave this fraction (0..1) of replies unsent
  --seed N               seed of every random choice (default 1)
  --delay-ms MS          send each reply MS milliseconds late
  --truncate             send replies one byte short
  --oversize             pad replies with zeros to 9300 bytes
  --garbage              send 1..200 random bytes instead of each reply
  --wrong-port           send replies from port 8401
  --unsolicited N        send N valid replies of every type, status 0, unasked
  --flood N              send N datagrams mixing valid replies, error statuses,
                         garbage, empty, truncated, oversized and wrong-port ones;
                         prints the count of each class on stderr when done
  --unsolicited-to A.B.C.D:PORT  destination of --unsolicited and --flood

Control
  --control FILE         read commands, a line each, from FILE (a FIFO, read
                         again whenever a writer comes) or "-" (standard
                         input, until its end) while running. RANGE is I or
                         I-J, 0-based appliance indexes:
                           leave RANGE        answer nothing from now on
                           appear RANGE       answer again
                           move I A.B.C.D     take that address, as if set at
                                              its panel (refused as a set-ip)
                           serial RANGE TEXT  report serial TEXT (1..24 bytes)
                           skip RANGE N       ignore the next N discoveries
                           forge N            answer each broadcast discovery
                                              also for N appliances that do not
                                              exist (MAC 02:00:00:..., serial
                                              FORGED...); forge 0 stops it
                           claim I A.B.C.D FROM
                                              around I's reply to each broadcast
                                              discovery, one in I's name at
                                              A.B.C.D sent from FROM; claim off
                                              stops it
                         Blank lines and # comments are ignored. Each line
                         prints "ok LINE" once applied, or "error LINE" (and
                         the reason on stderr); --log gets "control LINE".

Output
  --log FILE             append a line per datagram received
  --log-times            end each log line with t=SECONDS, the time it was
                         received since the simulator started (a rate's check)
  --dump-dir DIR         keep DIR/<ip>.img equal to each appliance's image
  --verbose              list every appliance even when there are more than 50
  --help
)";

bool ParseLong(std::string_view text, long long nMin, long long nMax, long long& nValue, int nBase = 10)
{
    const std::string str(text);
    if (str.empty())
        return false;
    char* pEnd = nullptr;
    errno = 0;
    const long long n = std::strtoll(str.c_str(), &pEnd, nBase);
    if (errno != 0 || *pEnd != '\0' || n < nMin || n > nMax)
        return false;
    nValue = n;
    return true;
}

bool ParseDouble(std::string_view text, double dMin, double dMax, double& dValue)
{
    const std::string str(text);
    if (str.empty())
        return false;
    char* pEnd = nullptr;
    errno = 0;
    const double d = std::strtod(str.c_str(), &pEnd);
    if (errno != 0 || *pEnd != '\0' || !(d >= dMin && d <= dMax))
        return false;
    dValue = d;
    return true;
}

int RequestType(std::string_view text)
{
    static const struct {
        const char* pName;
        int nType;
    } kNames[] = {
        {"discover", DM_DISCOVER},    {"setip", DM_SET_IP},           {"login", DM_GET_LOGIN},
        {"reboot", DM_REBOOT},        {"getflash", DM_GET_FLASHINFO}, {"putflash", DM_PUT_FLASHINFO},
    };
    for (const auto& name : kNames)
        if (text == name.pName)
            return name.nType;
    long long n = 0;
    if (ParseLong(text, DM_DISCOVER, DM_PUT_FLASHINFO, n, 0)) // 0x13 or 19
        return int(n);
    return -1;
}

bool ParseStatus(std::string_view text, CSimOptions& opts)
{
    const auto eq = text.find('=');
    if (eq == std::string_view::npos)
        return false;
    const int nType = RequestType(text.substr(0, eq));
    long long nCode = 0;
    if (nType < 0 || !ParseLong(text.substr(eq + 1), 0, 255, nCode))
        return false;
    opts.m_mapStatus[nType] = int(nCode);
    return true;
}

bool ParseLoseFirst(std::string_view text, CSimOptions& opts)
{
    if (const auto eq = text.find('='); eq != std::string_view::npos) {
        opts.m_nLoseType = RequestType(text.substr(0, eq));
        if (opts.m_nLoseType < 0)
            return false;
        text = text.substr(eq + 1);
    }
    long long n = 0;
    if (!ParseLong(text, 0, 1000000, n))
        return false;
    opts.m_nLoseFirst = int(n);
    return true;
}

bool ParseMacFormat(std::string_view text, EMacFormat& eFormat)
{
    static const struct {
        const char* pName;
        EMacFormat eFormat;
    } kNames[] = {{"colon", EMacFormat::Colon}, {"dash", EMacFormat::Dash}, {"bare", EMacFormat::Bare},
                  {"dotted", EMacFormat::Dotted}};
    for (const auto& name : kNames)
        if (text == name.pName) {
            eFormat = name.eFormat;
            return true;
        }
    return false;
}

bool ParseEndpoint(std::string_view text, CSimOptions& opts)
{
    const auto colon = text.rfind(':');
    long long nPort = 0;
    if (colon == std::string_view::npos || !ParseIp(text.substr(0, colon), opts.m_nUnsolicitedIp) ||
        !ParseLong(text.substr(colon + 1), 1, 65535, nPort))
        return false;
    opts.m_nUnsolicitedPort = std::uint16_t(nPort);
    opts.m_bUnsolicitedTo = true;
    return true;
}


// A whole number in [nMin, nMax] into a field of any integer type.
template <typename T>
bool SetLong(std::string_view text, long long nMin, long long nMax, T& field)
{
    long long n = 0;
    if (!ParseLong(text, nMin, nMax, n))
        return false;
    field = T(n);
    return true;
}

bool SetText(std::string_view text, std::string& field)
{
    field = text;
    return !text.empty();
}

using SetFn = bool (*)(std::string_view value, CSimOptions& opts);

// Options with a value, each setting what its value says.
const struct {
    std::string_view name;
    SetFn pfnSet;
} kValued[] = {
    {"--count", [](std::string_view v, CSimOptions& o) { return SetLong(v, 1, 1000000, o.m_nCount); }},
    {"--first-ip", [](std::string_view v, CSimOptions& o) { return ParseIp(v, o.m_nFirstIp); }},
    {"--first-index", [](std::string_view v, CSimOptions& o) { return SetLong(v, 0, 1000000, o.m_nFirstIndex); }},
    {"--extra-ip",
     [](std::string_view v, CSimOptions& o) { return ParseIp(v, o.m_vecExtraIps.emplace_back()); }},
    {"--password",
     [](std::string_view v, CSimOptions& o) {
         o.m_bPassword = true;
         o.m_strPassword = v;
         return v.size() <= DEVMSG_PASSWORD_SIZE;
     }},
    {"--user",
     [](std::string_view v, CSimOptions& o) {
         o.m_strUser = v;
         return v.size() <= sizeof(LoginInfoBody::userName);
     }},
    {"--web-port", [](std::string_view v, CSimOptions& o) { return SetLong(v, INT32_MIN, INT32_MAX, o.m_nWebPort); }},
    {"--seconds", [](std::string_view v, CSimOptions& o) { return ParseDouble(v, 0.001, 1e9, o.m_dSeconds); }},
    {"--reboot-seconds",
     [](std::string_view v, CSimOptions& o) { return ParseDouble(v, 0, 1e9, o.m_dRebootSeconds); }},
    {"--mac-format", [](std::string_view v, CSimOptions& o) { return ParseMacFormat(v, o.m_eMacFormat); }},
    {"--setip-ack-from",
     [](std::string_view v, CSimOptions& o) {
         o.m_bSetIpAckFromNew = v == "new";
         return v == "old" || v == "new";
     }},
    {"--lose-first", [](std::string_view v, CSimOptions& o) { return ParseLoseFirst(v, o); }},
    {"--status", [](std::string_view v, CSimOptions& o) { return ParseStatus(v, o); }},
    {"--drop", [](std::string_view v, CSimOptions& o) { return ParseDouble(v, 0, 1, o.m_dDrop); }},
    {"--seed", [](std::string_view v, CSimOptions& o) { return SetLong(v, 0, INT64_MAX, o.m_nSeed); }},
    {"--delay-ms", [](std::string_view v, CSimOptions& o) { return SetLong(v, 0, 3600000, o.m_nDelayMs); }},
    {"--unsolicited", [](std::string_view v, CSimOptions& o) { return SetLong(v, 0, 1000000000, o.m_nUnsolicited); }},
    {"--flood", [](std::string_view v, CSimOptions& o) { return SetLong(v, 0, 1000000000, o.m_nFlood); }},
    {"--unsolicited-to", [](std::string_view v, CSimOptions& o) { return ParseEndpoint(v, o); }},
    {"--absent",
     [](std::string_view v, CSimOptions& o) {
         auto& range = o.m_vecAbsent.emplace_back();
         return ParseRange(v, range.first, range.second);
     }},
    {"--control", [](std::string_view v, CSimOptions& o) { return SetText(v, o.m_strControl); }},
    {"--log", [](std::string_view v, CSimOptions& o) { return SetText(v, o.m_strLog); }},
    {"--dump-dir", [](std::string_view v, CSimOptions& o) { return SetText(v, o.m_strDumpDir); }},
};

// Options without a value, each setting one switch.
const struct {
    std::string_view name;
    bool CSimOptions::*pbSwitch;
    bool bValue;
} kSwitches[] = {
    {"--setip-no-move", &CSimOptions::m_bSetIpNoMove, true},
    {"--same-ip", &CSimOptions::m_bSameIp, true},
    {"--short-status", &CSimOptions::m_bShortStatus, true},
    {"--truncate", &CSimOptions::m_bTruncate, true},
    {"--oversize", &CSimOptions::m_bOversize, true},
    {"--garbage", &CSimOptions::m_bGarbage, true},
    {"--wrong-port", &CSimOptions::m_bWrongPort, true},
    {"--verbose", &CSimOptions::m_bVerbose, true},
    {"--log-times", &CSimOptions::m_bLogTimes, true},
};

// Sets the option named; false for an unknown name (bKnown false) or a bad
// or missing value. The value comes from "--name=value" or the next argument.
bool SetOption(std::string_view name, std::optional<std::string_view> value, int& i, int argc, char** argv,
               CSimOptions& opts, bool& bKnown)
{
    bKnown = true;
    for (const auto& option : kSwitches)
        if (name == option.name) {
            opts.*option.pbSwitch = option.bValue;
            return !value;
        }
    for (const auto& option : kValued)
        if (name == option.name) {
            if (!value && i + 1 < argc)
                value = argv[++i];
            return value && option.pfnSet(*value, opts);
        }
    bKnown = false;
    return false;
}

} // namespace

bool ParseRange(std::string_view text, int& nFirst, int& nLast)
{
    const auto dash = text.find('-');
    long long n = 0, m = 0;
    if (!ParseLong(text.substr(0, dash), 0, 1000000, n))
        return false;
    m = n;
    if (dash != std::string_view::npos && !ParseLong(text.substr(dash + 1), n, 1000000, m))
        return false;
    nFirst = int(n);
    nLast = int(m);
    return true;
}

EParse ParseOptions(int argc, char** argv, CSimOptions& opts)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view name = argv[i];
        std::optional<std::string_view> value;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "--help") {
            std::fputs(kUsage, stdout);
            return EParse::Help;
        }
        bool bKnown = false;
        if (SetOption(name, value, i, argc, argv, opts, bKnown))
            continue;
        if (bKnown)
            std::fprintf(stderr, "norvane-sim: bad or missing value for %.*s (see --help)\n", int(name.size()),
                         name.data());
        else
            std::fprintf(stderr, "norvane-sim: unknown option %s (see --help)\n", argv[i]);
        return EParse::Error;
    }

    // The last appliance must still have an ordinary address.
    if (!opts.m_bSameIp && std::uint64_t(opts.m_nFirstIp) + std::uint64_t(opts.m_nCount) - 1 >= IPV4_BROADCAST) {
        std::fputs("norvane-sim: --first-ip plus --count runs past 255.255.255.254\n", stderr);
        return EParse::Error;
    }
    const int nAppliances = opts.m_nCount + int(opts.m_vecExtraIps.size());
    for (const auto& [nFirst, nLast] : opts.m_vecAbsent) {
        if (nLast >= nAppliances) {
            std::fprintf(stderr, "norvane-sim: --absent %d-%d: there are %d appliances\n", nFirst, nLast,
                         nAppliances);
            return EParse::Error;
        }
    }
    if ((opts.m_nUnsolicited > 0 || opts.m_nFlood > 0) && !opts.m_bUnsolicitedTo) {
        std::fputs("norvane-sim: --unsolicited and --flood need --unsolicited-to\n", stderr);
        return EParse::Error;
    }
    return EParse::Run;
}

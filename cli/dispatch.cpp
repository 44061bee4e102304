#include "dispatch.h"

#include "exitcodes.h"
#include "interfaces.h"
#include "messages.h"
#include "optionsfile.h"
#include "subcommands.h"
#include "terminal.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

enum : unsigned {
    OPT_PASSWORD = 1 << 0, // --password-file, --password
    OPT_YES = 1 << 1,      // --yes
    OPT_RESOLVE = 1 << 2,  // a MAC is resolved by discovery: --discover-timeout
    OPT_DISCOVER = 1 << 3, // --rounds, --format
    OPT_FLEET = 1 << 4,    // --match, --parallel, --retries, --report, --rounds
    OPT_VERIFY = 1 << 5,   // --no-verify
    OPT_SCAN = 1 << 6,     // discovery sweeps ranges too: --scan, --rate, --no-broadcast, --force
    OPT_PLAN = 1 << 7,     // --from, --dry-run, --format, --watch
    OPT_WATCH = 1 << 8,    // rounds until a signal: --interval, --gone-after, --format, and as a
                           // service: --options-file, --state, --report (--correct-drift)
};

// Addresses a sweep may cover without --force: a /16.
constexpr quint64 SCAN_MAX_ADDRESSES = 65536;

struct Subcommand {
    const char* pszName;
    const char* pszArgs;
    const char* pszSummary;
    unsigned nOptions;
    int (*pfnRun)(CContext&);
};

const Subcommand kSubcommands[] = {
    {"discover", "", "Lists the appliances that answer a discovery broadcast, or a sweep of --scan ranges.",
     OPT_DISCOVER | OPT_SCAN, RunDiscover},
    {"set-ip", "MAC NEW_IP", "Gives the appliance with this MAC address a new IP address, then checks it answers there.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN | OPT_VERIFY, RunSetIp},
    {"reboot", "TARGET", "Reboots an appliance (TARGET: its IPv4 address or MAC address).",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN | OPT_YES, RunReboot},
    {"login-url", "TARGET", "Prints the URL of the appliance's web login page, password included.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN, RunLoginUrl},
    {"backup", "TARGET FILE", "Saves the appliance's 8192-byte configuration image to FILE (-: standard output).",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN, RunBackup},
    {"restore", "TARGET FILE",
     "Loads the first 8192 bytes of FILE (-: standard input) into the appliance as its configuration image.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN | OPT_YES, RunRestore},
    {"backup-all", "DIR", "Saves the image of every appliance found (or of those --match selects) to DIR/<MAC>.cfg.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN | OPT_FLEET, RunBackupAll},
    {"restore-all", "DIR", "Loads DIR/<MAC>.cfg into each appliance found with that MAC (or those --match selects).",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN | OPT_FLEET | OPT_YES, RunRestoreAll},
    {"provision", "[PLAN.csv]",
     "Gives each appliance in PLAN.csv (mac,ip[,password]; - reads standard input) its address, or numbers those "
     "found from --from "
     "FIRST_IP; checks each.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_SCAN | OPT_FLEET | OPT_PLAN | OPT_WATCH,
     [](CContext& ctx) { return ctx.IsSet("watch") ? RunProvisionWatch(ctx) : RunProvision(ctx); }},
    {"watch", "",
     "Discovers every --interval seconds until stopped, printing each appliance that appeared, moved, changed "
     "its serial or is gone.",
     OPT_SCAN | OPT_WATCH, RunWatch},
};

const Subcommand* FindSubcommand(const QString& strName)
{
    for (const Subcommand& sub : kSubcommands)
        if (strName == QLatin1String(sub.pszName))
            return &sub;
    return nullptr;
}

QString TopHelp()
{
    QString strHelp = QStringLiteral(
        "Usage: norvane SUBCOMMAND [OPTION...] [ARGUMENT...]\n"
        "Finds Norvane appliances on the local network (UDP port 8400) and acts on one or all of them.\n\n"
        "Subcommands:\n");
    for (const Subcommand& sub : kSubcommands)
        strHelp += QStringLiteral("  %1%2\n      %3\n")
                       .arg(QLatin1String(sub.pszName),
                            *sub.pszArgs ? QLatin1Char(' ') + QLatin1String(sub.pszArgs) : QString(),
                            QLatin1String(sub.pszSummary));
    strHelp += QStringLiteral(
        "  help SUBCOMMAND\n      Shows the options of a subcommand (also: norvane SUBCOMMAND --help).\n\n"
        "TARGET is an appliance's IPv4 address, or its MAC address (found by a discovery first), written\n"
        "00:1A:2B:3C:4D:5E, 00-1A-2B-3C-4D-5E, 001A2B3C4D5E or 001a.2b3c.4d5e.\n\n"
        "Passwords: --password-file FILE (its first line), or the environment variable NORVANE_PASSWORD,\n"
        "or an echo-free prompt when standard input is a terminal; otherwise none. --password TEXT works\n"
        "too, but other users of this machine can see it in the process list.\n\n"
        "Options of every subcommand: --timeout SEC, --interface NAME (repeatable), --verbose, --help.\n"
        "norvane --list-interfaces prints the interfaces discovery goes out on; --version the version.\n"
        "Appliances behind a router, which no broadcast crosses: --scan CIDR on every subcommand that\n"
        "looks for appliances sweeps that range by unicast (see norvane help discover).\n\n");
    strHelp += QLatin1String(EXIT_CODE_HELP);
    return strHelp;
}

void AddOptions(QCommandLineParser& parser, const Subcommand& sub)
{
    // Whether --timeout is the wait of a discovery, not of one reply.
    const bool bDiscover = (sub.nOptions & OPT_DISCOVER) || sub.nOptions == (OPT_SCAN | OPT_WATCH);
    const bool bProvision = sub.nOptions & OPT_PLAN;
    parser.addOption({{"h", "help"}, "Shows this help."});
    parser.addOption({"timeout",
                      bDiscover ? "Seconds to gather replies in each round, after its last request (default 2)."
                                : "Seconds to wait for the appliance's reply (default 5).",
                      "SEC", bDiscover ? "2" : "5"});
    parser.addOption({{"v", "verbose"}, "Lists each request sent and each datagram ignored, on standard error."});
    parser.addOption({"interface", "Uses only this network interface (repeatable): discovery goes out on it, "
                                   "commands leave by it, replies are taken from it.",
                      "NAME"});
    parser.addOption({"list-interfaces", "Prints the interfaces discovery would go out on, and stops."});
    if (sub.nOptions & OPT_PASSWORD) {
        parser.addOption({"password-file", "Reads the password from the first line of FILE.", "FILE"});
        parser.addOption({"password", "The password itself: visible to other users of this machine. "
                                      "Prefer --password-file or NORVANE_PASSWORD.",
                          "TEXT"});
    }
    if (sub.nOptions & OPT_RESOLVE)
        parser.addOption(
            {"discover-timeout", "Seconds to wait for discovery replies, after the last request (default 2).", "SEC",
             "2"});
    if (sub.nOptions & OPT_SCAN) {
        parser.addOption({"scan", "Also sends discovery by unicast to every address of CIDR (10.9.0.0/16; "
                                  "repeatable, or a comma list): finds appliances behind routers.",
                          "CIDR"});
        parser.addOption({"rate", "Requests a second of the sweep (default 1000).", "N", "1000"});
        parser.addOption({"no-broadcast", "Sends no broadcast: only the --scan ranges are asked."});
        parser.addOption({"force", "Sweeps more than 65536 addresses in all."});
    }
    if (sub.nOptions & OPT_YES)
        parser.addOption({{"y", "yes"}, "Does not ask for confirmation (needed when input is not a terminal)."});
    if (sub.nOptions & OPT_VERIFY)
        parser.addOption({"no-verify", "Does not check by a discovery that the appliance answers from NEW_IP."});
    if (sub.nOptions & (OPT_DISCOVER | OPT_FLEET))
        parser.addOption(
            {"rounds", "Broadcasts (and sweeps) discovery N times and merges the replies (default 1).", "N", "1"});
    if (sub.nOptions & (OPT_DISCOVER | OPT_PLAN))
        parser.addOption({"format",
                          bDiscover ? "table (default), json or csv."
                                    : "Of --dry-run: table (default), json or csv; of --watch: json or text.",
                          "FORMAT", "table"});
    else if (sub.nOptions & OPT_WATCH)
        parser.addOption({"format", "json (one object a line) or text; json unless standard output is a terminal.",
                          "FORMAT"});
    if (sub.nOptions & OPT_WATCH) {
        if (bProvision)
            parser.addOption({"watch", "Keeps discovering and moves each planned appliance as soon as it appears; "
                                       "prints events, as norvane watch does, until stopped."});
        else
            parser.addOption({"once-settled", "Prints the appliances present as appeared events once the "
                                              "replies agree, and stops."});
        parser.addOption({"interval", "Seconds from one discovery to the next (default 5).", "SEC", "5"});
        parser.addOption({"gone-after", "Rounds without an answer before an appliance is gone (default 3).", "N",
                          "3"});
        parser.addOption({"options-file", "Reads more options from FILE, one a line (interface eth1); read again "
                                          "on SIGUSR1. Those of the command line win.",
                          "FILE"});
        parser.addOption({"state", "Keeps what the run knows in FILE, so that a restart announces and moves "
                                   "nothing twice.",
                          "FILE"});
        if (bProvision)
            parser.addOption({"correct-drift", "With --watch: puts an appliance moved away from its planned "
                                               "address back there, at most 3 times an hour."});
        else
            parser.addOption({"report", "Appends every event to FILE, a JSON object a line.", "FILE"});
    }
    if (sub.nOptions & OPT_PLAN) {
        parser.addOption({"from", "Instead of a plan: consecutive addresses from FIRST_IP to the appliances found "
                                  "(or those --match selects), in MAC order.",
                          "FIRST_IP"});
        parser.addOption({"dry-run", "Prints the plan (MAC, IP, NEW IP, ACTION) and sends nothing but the discovery."});
    }
    if (sub.nOptions & OPT_FLEET) {
        parser.addOption({"match", "Only appliances whose MAC, IP or serial matches GLOB (* and ?).", "GLOB"});
        parser.addOption({"parallel", "Appliances asked at once (default 8).", "N", "8"});
        parser.addOption({"retries", "Times to ask again when a reply is lost (default 2).", "R", "2"});
        parser.addOption({"report", "Writes one JSON entry per appliance to FILE.json.", "FILE.json"});
    }
}

void ListInterfaces(const QList<int>& chosen)
{
    QList<QNetworkInterface> list;
    for (const int nIndex : chosen)
        list.append(QNetworkInterface::interfaceFromIndex(nIndex));
    if (chosen.isEmpty())
        list = BroadcastInterfaces();
    if (list.isEmpty())
        Out(QStringLiteral("none with broadcast: discovery goes out as one plain broadcast, by the routes\n"));
    for (const QNetworkInterface& iface : list) {
        QStringList addresses;
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                addresses << QStringLiteral("%1/%2").arg(entry.ip().toString()).arg(entry.prefixLength());
        Out(QStringLiteral("%1  index %2  %3\n").arg(iface.name()).arg(iface.index()).arg(addresses.join(' ')));
    }
}

QString SubHelp(const Subcommand& sub, const QCommandLineParser& parser)
{
    // Qt's own text from its option list, under our usage line.
    QString strOptions = parser.helpText();
    strOptions = strOptions.mid(strOptions.indexOf(QLatin1String("Options:")));
    return QStringLiteral("Usage: norvane %1 [OPTION...] %2\n%3\n\n%4\nExit codes: see norvane --help.\n")
        .arg(QLatin1String(sub.pszName), QLatin1String(sub.pszArgs), QLatin1String(sub.pszSummary), strOptions);
}

// The option --NAME in seconds, as milliseconds: more than 0, at most 3600.
int SecondsOption(const CContext& ctx, const char* pszName)
{
    bool bOk = false;
    const double dSeconds = ctx.Value(pszName).toDouble(&bOk);
    if (!bOk || !(dSeconds > 0 && dSeconds <= 3600))
        Usage(QStringLiteral("--%1 takes seconds, more than 0 and at most 3600").arg(QLatin1String(pszName)));
    return std::max(1, int(std::lround(dSeconds * 1000)));
}

// --scan, --rate, --no-broadcast and --force into ctx.sweep, the same for
// every command that discovers.
void ReadSweepOptions(CContext& ctx)
{
    for (const QString& strList : ctx.parser.values(QStringLiteral("scan"))) {
        QString strError;
        if (!ctx.sweep.ranges.Add(strList, strError))
            Usage(QStringLiteral("--scan: ") + strError);
    }
    const quint64 nCount = ctx.sweep.ranges.Count();
    if (nCount > SCAN_MAX_ADDRESSES && !ctx.IsSet("force"))
        Usage(QStringLiteral("--scan covers %1 addresses, more than %2: add --force to sweep them all")
                  .arg(nCount)
                  .arg(SCAN_MAX_ADDRESSES));
    bool bOk = false;
    ctx.sweep.nRate = ctx.Value("rate").toInt(&bOk);
    if (!bOk || ctx.sweep.nRate < 1 || ctx.sweep.nRate > 1000000)
        Usage(QStringLiteral("--rate takes requests a second, from 1 to 1000000"));
    ctx.sweep.bBroadcast = !ctx.IsSet("no-broadcast");
    if (!ctx.sweep.bBroadcast && ctx.sweep.ranges.IsEmpty())
        Usage(QStringLiteral("--no-broadcast needs --scan: nothing would be asked"));
}

// Parses the subcommand's options into ctx; false when they asked only for
// its help or the interface list, now printed.
bool ParseOptions(CContext& ctx, const Subcommand& sub, const QStringList& args)
{
    const QString strName = QLatin1String(sub.pszName);
    ctx.commandLine = args;
    if (!ctx.parser.parse(QStringList{args.value(0)} + args.mid(2)))
        Usage(ctx.parser.errorText() + QStringLiteral("; see norvane help ") + strName);
    // The file's options go first: those of the command line are the later
    // ones, which win.
    if ((sub.nOptions & OPT_WATCH) && ctx.IsSet("options-file") && !ctx.IsSet("help") &&
        !ctx.parser.parse(QStringList{args.value(0)} + ReadOptionsFile(ctx.Value("options-file")) + args.mid(2)))
        Usage(ctx.parser.errorText() + QStringLiteral(" (with %1); see norvane help ").arg(ctx.Value("options-file")) +
              strName);
    if (ctx.IsSet("help")) {
        Out(SubHelp(sub, ctx.parser));
        return false;
    }
    ctx.args = ctx.parser.positionalArguments();
    // An argument in brackets may be left out.
    const QStringList wanted = QString::fromLatin1(sub.pszArgs).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const qsizetype nOptional = wanted.filter(QStringLiteral("[")).size();
    if (ctx.args.size() > wanted.size() || ctx.args.size() < wanted.size() - nOptional)
        Usage(QStringLiteral("usage: norvane %1 [OPTION...] %2").arg(strName, QLatin1String(sub.pszArgs)));
    ctx.nTimeoutMs = SecondsOption(ctx, "timeout");
    if (sub.nOptions & OPT_RESOLVE)
        ctx.nDiscoverMs = SecondsOption(ctx, "discover-timeout");
    ctx.bVerbose = ctx.IsSet("verbose");
    if (sub.nOptions & OPT_SCAN)
        ReadSweepOptions(ctx);
    for (const QString& strInterface : ctx.parser.values(QStringLiteral("interface"))) {
        const QNetworkInterface iface = QNetworkInterface::interfaceFromName(strInterface);
        if (!iface.isValid())
            Usage(QStringLiteral("no network interface %1").arg(strInterface));
        ctx.interfaces.append(iface.index());
    }
    if (ctx.IsSet("list-interfaces")) {
        ListInterfaces(ctx.interfaces);
        return false;
    }
    return true;
}

int RunArguments(const QStringList& args, CContext& ctx)
{
    const QString strFirst = args.value(1);
    if (strFirst.isEmpty())
        Usage(QStringLiteral("no subcommand; see norvane --help"));
    if (strFirst == QLatin1String("--version") || strFirst == QLatin1String("-V")) {
        Out(QStringLiteral("norvane %1\n").arg(QCoreApplication::applicationVersion()));
        return EXIT_OK;
    }
    if (strFirst == QLatin1String("--list-interfaces")) {
        ListInterfaces({});
        return EXIT_OK;
    }
    if (strFirst == QLatin1String("--help") || strFirst == QLatin1String("-h") ||
        (strFirst == QLatin1String("help") && (args.size() == 2 || args.value(2) == QLatin1String("help")))) {
        Out(TopHelp());
        return EXIT_OK;
    }
    const bool bHelpFor = strFirst == QLatin1String("help");
    const QString strName = bHelpFor ? args.value(2) : strFirst;
    const Subcommand* pSub = FindSubcommand(strName);
    if (!pSub)
        Usage(QStringLiteral("unknown subcommand '%1'; see norvane --help").arg(strName));
    AddOptions(ctx.parser, *pSub);
    if (bHelpFor) {
        Out(SubHelp(*pSub, ctx.parser));
        return EXIT_OK;
    }
    return ParseOptions(ctx, *pSub, args) ? pSub->pfnRun(ctx) : EXIT_OK;
}
} // namespace

std::unique_ptr<CContext> ReadContextAgain(const CContext& ctx)
{
    auto pContext = std::make_unique<CContext>();
    const Subcommand* pSub = FindSubcommand(ctx.commandLine.value(1));
    if (!pSub)
        Usage(QStringLiteral("no subcommand to read again"));
    AddOptions(pContext->parser, *pSub);
    if (!ParseOptions(*pContext, *pSub, ctx.commandLine))
        Usage(QStringLiteral("the options ask for help, not a run"));
    return pContext;
}

int RunCli(const QStringList& args)
{
    IgnoreBrokenPipe();
    CContext ctx;
    int nExit = EXIT_OK;
    try {
        nExit = RunArguments(args, ctx);
    } catch (const CExit& exit) {
        nExit = exit.nCode;
    }
    if (ctx.bVerbose && ctx.pSession)
        Note(QStringLiteral("%1 datagrams ignored").arg(ctx.pSession->Ignored()));
    // A reader that stopped reading wanted no more; a full disk or a closed
    // stream is a failure, whatever the command did.
    if (!StdoutError() || StdoutReaderGone())
        return nExit;
    Note(QStringLiteral("write error on standard output: %1").arg(qt_error_string(StdoutError())));
    return nExit ? nExit : EXIT_FILE;
}

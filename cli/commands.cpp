#include "commands.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "interfaces.h"
#include "fleetbackup.h"
#include "loginurl.h"
#include "output.h"
#include "resource.h"
#include "session.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cmath>
#include <memory>

namespace {

enum : unsigned {
    OPT_PASSWORD = 1 << 0, // --password-file, --password
    OPT_YES = 1 << 1,      // --yes
    OPT_RESOLVE = 1 << 2,  // a MAC is resolved by discovery: --discover-timeout
    OPT_DISCOVER = 1 << 3, // --rounds, --format
    OPT_FLEET = 1 << 4,    // --match, --parallel, --retries, --report, --rounds
    OPT_VERIFY = 1 << 5,   // --no-verify
};

struct CContext;

struct Subcommand {
    const char* pszName;
    const char* pszArgs;
    const char* pszSummary;
    unsigned nOptions;
    int (*pfnRun)(CContext&);
};

struct CContext {
    QCommandLineParser parser;
    QStringList args;
    int nTimeoutMs = 5000;
    int nDiscoverMs = 2000;
    bool bVerbose = false;
    QList<int> interfaces; // --interface, by index; empty for all
    std::unique_ptr<CSession> pSession;

    QString Value(const char* pszName) const { return parser.value(QString::fromLatin1(pszName)); }
    bool IsSet(const char* pszName) const { return parser.isSet(QString::fromLatin1(pszName)); }
};

int Usage(const QString& strMessage)
{
    Err(QStringLiteral("norvane: %1\n").arg(strMessage));
    return EXIT_USAGE;
}

int Fail(int nExit, const QString& strMessage)
{
    Err(QStringLiteral("norvane: %1\n").arg(strMessage));
    return nExit;
}

// Seconds as milliseconds; false unless 0 < seconds <= 3600.
bool ParseSeconds(const QString& strText, int& nMs)
{
    bool bOk = false;
    const double dSeconds = strText.toDouble(&bOk);
    if (!bOk || !(dSeconds > 0 && dSeconds <= 3600))
        return false;
    nMs = std::max(1, int(std::lround(dSeconds * 1000)));
    return true;
}

bool ParseCount(const QString& strText, int nMin, int nMax, int& n)
{
    bool bOk = false;
    n = strText.toInt(&bOk);
    return bOk && n >= nMin && n <= nMax;
}

int OpenSession(CContext& ctx)
{
    if (ctx.pSession)
        return EXIT_OK;
    ctx.pSession = std::make_unique<CSession>(ctx.bVerbose);
    if (!ctx.pSession->Open())
        return Fail(EXIT_NETWORK, Text(IDS_SOCKET_CREATE_FAILED));
    ctx.pSession->SetInterfaces(ctx.interfaces);
    return EXIT_OK;
}

// What a command goes to: the appliance's address, and the interface to send
// out of (0: where the routes say).
struct Target {
    QString strIp;
    int nInterface = 0;
};

// A password file's bytes: UTF-8 where they are valid UTF-8, else Latin-1,
// so a file written on a Latin-1 system sends the bytes its owner typed.
QString PasswordFromBytes(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString strText = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : strText;
}

// The password from a file, the option, the environment or the terminal, in
// that order; empty when none is given and nobody is there to ask.
int ReadPassword(CContext& ctx, QString& strPassword)
{
    if (ctx.IsSet("password-file")) {
        QFile file(ctx.Value("password-file"));
        if (!file.open(QIODevice::ReadOnly))
            return Usage(QStringLiteral("cannot read the password file %1: %2").arg(file.fileName(), file.errorString()));
        QByteArray line = file.readLine(4096);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        strPassword = PasswordFromBytes(line);
    } else if (ctx.IsSet("password")) {
        strPassword = ctx.Value("password");
    } else if (qEnvironmentVariableIsSet("NORVANE_PASSWORD")) {
        strPassword = qEnvironmentVariable("NORVANE_PASSWORD");
    } else if (StdinIsTerminal()) {
        if (!ReadSecret(QStringLiteral("Password: "), strPassword))
            return Usage(QStringLiteral("no password read"));
    }
    // The appliance gets one byte per character (Latin-1): a character
    // beyond it would silently become another password.
    for (const QChar c : strPassword)
        if (c.unicode() > 0xFF)
            return Usage(QStringLiteral("the password holds '%1', which is not among the 256 characters "
                                        "(Latin-1) an appliance receives")
                             .arg(c));
    return EXIT_OK;
}

// TARGET as an appliance's dotted address and interface: the address given,
// or that of the appliance with the MAC given, found by a discovery. An
// address outside every local subnet is looked for by a discovery too, to
// learn which interface reaches it; when nobody answers, the routes decide.
int ResolveTarget(CContext& ctx, const QString& strTarget, Target& target)
{
    target.strIp = CanonicalIp(strTarget);
    const QString strMac = target.strIp.isEmpty() ? CanonicalMac(strTarget) : QString();
    if (target.strIp.isEmpty() && strMac.isEmpty())
        return Usage(QStringLiteral("not an IPv4 address or a MAC address: %1").arg(strTarget));
    // One named interface: that is the way out, whatever the routes say.
    if (ctx.interfaces.size() == 1)
        target.nInterface = ctx.interfaces.first();
    if (!target.strIp.isEmpty() && (target.nInterface || InLocalSubnet(QHostAddress(target.strIp))))
        return EXIT_OK;

    if (const int nExit = OpenSession(ctx))
        return nExit;
    const auto matches = [&](const Appliance& a) {
        return strMac.isEmpty() ? a.strIp == target.strIp : CanonicalMac(a.strMac) == strMac;
    };
    QList<Appliance> list;
    const auto found = [&](const QList<Appliance>& now) { return std::any_of(now.begin(), now.end(), matches); };
    if (!ctx.pSession->Discover(ctx.nDiscoverMs, 1, list, found))
        return Fail(EXIT_NETWORK, Text(IDS_SEND_ERROR));
    const auto it = std::find_if(list.begin(), list.end(), matches);
    if (it == list.end())
        return strMac.isEmpty() ? EXIT_OK : Usage(QStringLiteral("no appliance answers for MAC %1").arg(strMac));
    target.nInterface = it->nInterface;
    if (strMac.isEmpty())
        return EXIT_OK;
    target.strIp = CanonicalIp(it->strIp);
    if (target.strIp.isEmpty() || !UsableIp(target.strIp))
        return Usage(QStringLiteral("the appliance %1 reports an unusable IP address").arg(strMac));
    return EXIT_OK;
}

// What every command to one appliance needs first; the session is open after.
int PasswordAndTarget(CContext& ctx, QString& strPassword, Target& target)
{
    if (const int nExit = ReadPassword(ctx, strPassword))
        return nExit;
    if (const int nExit = ResolveTarget(ctx, ctx.args[0], target))
        return nExit;
    return OpenSession(ctx);
}

// An address given on the command line, as canonical text; refused (with
// the reason) when it is malformed or one no appliance may have.
int CheckIpText(const QString& strText, QString& strIp)
{
    strIp = CanonicalIp(strText);
    if (strIp.isEmpty()) {
        const QString strWhy = IpTextProblem(strText);
        return Usage(QStringLiteral("%1: %2").arg(Text(IDS_INVALID_IP), strWhy.isEmpty() ? strText : strWhy));
    }
    if (const QString strWhy = UnusableIpReason(strIp); !strWhy.isEmpty())
        return Usage(QStringLiteral("%1: %2: %3").arg(Text(IDS_BAD_IP), strText, strWhy));
    return EXIT_OK;
}

// Checks TARGET's form before anything is sent.
int CheckTarget(const QString& strTarget)
{
    QString strIp;
    if (!CanonicalIp(strTarget).isEmpty() || !IpTextProblem(strTarget).isEmpty())
        return CheckIpText(strTarget, strIp);
    if (CanonicalMac(strTarget).isEmpty())
        return Usage(QStringLiteral("not an IPv4 address or a MAC address: %1").arg(strTarget));
    return EXIT_OK;
}

// A question needs a person: without --yes and a terminal, refuse.
int CheckConfirmable(CContext& ctx, const char* pszWhat)
{
    if (ctx.IsSet("yes") || StdinIsTerminal())
        return EXIT_OK;
    return Usage(QStringLiteral("refusing to %1 without --yes: standard input is not a terminal").arg(pszWhat));
}

int Confirm(CContext& ctx, unsigned nQuestion)
{
    if (ctx.IsSet("yes") || AskYesNo(Text(nQuestion)))
        return EXIT_OK;
    return Fail(EXIT_DECLINED, QStringLiteral("not confirmed; nothing was sent"));
}

// Tells how a request failed; EXIT_OK when it did not.
int Outcome(const QString& strIp, const RequestResult& result)
{
    switch (result.outcome) {
    case RequestResult::EOutcome::Ok:
        return EXIT_OK;
    case RequestResult::EOutcome::Status:
        return Fail(StatusExit(result.nStatus), strIp + QStringLiteral(": ") + Text(StatusTextId(result.nStatus)));
    case RequestResult::EOutcome::NoResponse:
        return Fail(EXIT_NO_RESPONSE, strIp + QStringLiteral(": ") + Text(IDS_NO_RESPONSE));
    case RequestResult::EOutcome::SendFailed:
        break;
    }
    return Fail(EXIT_NETWORK, strIp + QStringLiteral(": ") + Text(IDS_SEND_ERROR));
}

RequestResult Send(CContext& ctx, int nType, const Target& target, const QString& strPassword,
                   const QByteArray& image = {})
{
    CSession::Request request;
    request.nType = nType;
    request.strIp = target.strIp;
    request.nInterface = target.nInterface;
    request.strPassword = strPassword;
    request.image = image;
    return ctx.pSession->Run(request, ctx.nTimeoutMs);
}

void ReportIgnored(CContext& ctx)
{
    if (ctx.bVerbose && ctx.pSession)
        Err(QStringLiteral("norvane: %1 datagrams ignored\n").arg(ctx.pSession->Ignored()));
}

// The system tells how many datagrams it dropped for want of buffer: those
// replies, and their appliances, are missing from the list.
void WarnSystemDrops(CContext& ctx)
{
    if (const quint64 nDrops = ctx.pSession->Stats().nSystemDrops)
        Err(QStringLiteral("norvane: warning: the system dropped %1 replies for want of buffer; some appliances may "
                           "be missing (--rounds 3 asks again and merges the answers)\n")
                .arg(nDrops));
}

// A directory the image files can be written to.
bool WritableDir(const QString& strDir)
{
    const QFileInfo info(strDir);
    return info.isDir() && info.isWritable();
}

// An image or report file, checked before anything is sent.
int CheckWritable(const QString& strPath)
{
    QString strError;
    switch (CheckSaveTarget(strPath, strError)) {
    case FlashFileResult::Ok:
        return EXIT_OK;
    case FlashFileResult::NotRegular:
        return Fail(EXIT_FILE, QStringLiteral("%1: %2 (a FIFO, a device, a socket or a link to nothing): refusing to "
                                              "replace it; nothing was sent")
                                   .arg(strPath, strError));
    default:
        return Usage(QStringLiteral("cannot write %1: %2").arg(strPath, strError));
    }
}

// backup-all's DIR: a writable directory, or one that can be made, its
// nearest existing parent being a writable directory.
int CheckDirectory(const QString& strDir)
{
    QFileInfo info(QDir::cleanPath(QFileInfo(strDir).absoluteFilePath()));
    while (!info.exists() && !info.isSymbolicLink() && info.absolutePath() != info.absoluteFilePath())
        info.setFile(info.absolutePath());
    if (!WritableDir(info.absoluteFilePath()))
        return Usage(QStringLiteral("cannot write to the directory %1").arg(strDir));
    return EXIT_OK;
}

QString OpenErrorText(const QString& strPath, const QString& strReason)
{
    return QStringLiteral("%1: %2: %3").arg(strPath, Text(IDS_FILE_OPEN_ERROR), strReason);
}

int RunDiscover(CContext& ctx)
{
    int nRounds = 1;
    if (!ParseCount(ctx.Value("rounds"), 1, 1000, nRounds))
        return Usage(QStringLiteral("--rounds takes a count from 1 to 1000"));
    const QString strFormat = ctx.Value("format");
    if (strFormat != QLatin1String("table") && strFormat != QLatin1String("json") && strFormat != QLatin1String("csv"))
        return Usage(QStringLiteral("--format takes table, json or csv"));
    if (const int nExit = OpenSession(ctx))
        return nExit;
    QList<Appliance> list;
    if (!ctx.pSession->Discover(ctx.nTimeoutMs, nRounds, list))
        return Fail(EXIT_NETWORK, Text(IDS_SEND_ERROR));
    WarnSystemDrops(ctx);
    if (strFormat == QLatin1String("json"))
        Out(QString::fromUtf8(FormatJson(list)));
    else if (strFormat == QLatin1String("csv"))
        Out(QString::fromUtf8(FormatCsv(list)));
    else if (!list.isEmpty())
        Out(QString::fromUtf8(FormatTable(list)));
    if (list.isEmpty())
        Err(QStringLiteral("norvane: no appliance answered within %1 s\n").arg(ctx.nTimeoutMs / 1000.0));
    return EXIT_OK;
}

int RunSetIp(CContext& ctx)
{
    const QString strMac = CanonicalMac(ctx.args[0]);
    if (strMac.isEmpty())
        return Usage(QStringLiteral("not a MAC address: %1").arg(ctx.args[0]));
    QString strNewIp;
    if (const int nExit = CheckIpText(ctx.args[1], strNewIp))
        return nExit;
    QString strPassword;
    if (const int nExit = ReadPassword(ctx, strPassword))
        return nExit;
    if (const int nExit = OpenSession(ctx))
        return nExit;

    // The request names the appliance by its MAC text exactly as it reports it.
    QList<Appliance> list;
    const auto findMac = [&](const QList<Appliance>& now) -> const Appliance* {
        for (const Appliance& a : now)
            if (CanonicalMac(a.strMac) == strMac)
                return &a;
        return nullptr;
    };
    if (!ctx.pSession->Discover(ctx.nDiscoverMs, 1, list, [&](const QList<Appliance>& now) { return findMac(now); }))
        return Fail(EXIT_NETWORK, Text(IDS_SEND_ERROR));
    const Appliance* pAppliance = findMac(list);
    if (!pAppliance)
        return Usage(QStringLiteral("no appliance answers for MAC %1").arg(strMac));

    CSession::Request request;
    request.nType = DM_SET_IP;
    request.strIp = pAppliance->strIp;
    request.strPassword = strPassword;
    request.strMac = pAppliance->strMac;
    request.strNewIp = strNewIp;
    if (const int nExit = Outcome(pAppliance->strIp, ctx.pSession->Run(request, ctx.nTimeoutMs)))
        return nExit;
    Out(Text(IDS_SET_IP_DONE) + QLatin1Char('\n'));
    if (ctx.IsSet("no-verify"))
        return EXIT_OK;

    // The appliance may take a moment to move: ask every second until it
    // answers from its new address or the time-out passes.
    list.clear();
    const auto moved = [&](const QList<Appliance>& now) {
        const Appliance* p = findMac(now);
        return p && p->strIp == strNewIp;
    };
    const int nRounds = std::max(1, (ctx.nTimeoutMs + 999) / 1000);
    ctx.pSession->Discover(std::min(1000, ctx.nTimeoutMs), nRounds, list, moved);
    if (moved(list)) {
        Out(QStringLiteral("%1 answers from %2\n").arg(strMac, strNewIp));
        return EXIT_OK;
    }
    const Appliance* pSeen = findMac(list);
    return Fail(EXIT_NOT_VERIFIED, pSeen ? QStringLiteral("%1 still answers from %2, not %3").arg(strMac, pSeen->strIp, strNewIp)
                                         : QStringLiteral("%1 no longer answers discovery").arg(strMac));
}

int RunReboot(CContext& ctx)
{
    if (const int nExit = CheckTarget(ctx.args[0]))
        return nExit;
    if (const int nExit = CheckConfirmable(ctx, "reboot"))
        return nExit;
    QString strPassword;
    Target target;
    if (const int nExit = PasswordAndTarget(ctx, strPassword, target))
        return nExit;
    if (const int nExit = Confirm(ctx, IDS_CONFIRM_REBOOT))
        return nExit;
    if (const int nExit = Outcome(target.strIp, Send(ctx, DM_REBOOT, target, strPassword)))
        return nExit;
    Out(Text(IDS_REBOOT_DONE) + QLatin1Char('\n'));
    return EXIT_OK;
}

int RunLoginUrl(CContext& ctx)
{
    if (const int nExit = CheckTarget(ctx.args[0]))
        return nExit;
    QString strPassword;
    Target target;
    if (const int nExit = PasswordAndTarget(ctx, strPassword, target))
        return nExit;
    const RequestResult result = Send(ctx, DM_GET_LOGIN, target, strPassword);
    if (const int nExit = Outcome(target.strIp, result))
        return nExit;
    if (result.login.webPort < 1 || result.login.webPort > 65535)
        return Fail(EXIT_NO_LOGIN, Text(IDS_OLD_DEVICE_VERSION));
    const std::string_view userName = GetTextField(result.login.userName, sizeof result.login.userName);
    const QByteArray url = LoginUrlToOpen(target.strIp, result.login.webPort,
                                          QString::fromLatin1(userName.data(), qsizetype(userName.size())), strPassword);
    if (url.isEmpty())
        return Fail(EXIT_NO_LOGIN, QStringLiteral("no login URL: it would be longer than %1 characters")
                                       .arg(LOGIN_URL_BUF_SIZE - 1));
    Out(QString::fromLatin1(url) + QLatin1Char('\n'));
    return EXIT_OK;
}

int RunBackup(CContext& ctx)
{
    if (const int nExit = CheckTarget(ctx.args[0]))
        return nExit;
    const QString& strFile = ctx.args[1];
    const bool bStdout = strFile == QLatin1String("-");
    if (bStdout && StdoutIsTerminal())
        return Usage(QStringLiteral("refusing to write an image to the terminal: redirect standard output"));
    if (!bStdout)
        if (const int nExit = CheckWritable(strFile))
            return nExit;
    QString strPassword;
    Target target;
    if (const int nExit = PasswordAndTarget(ctx, strPassword, target))
        return nExit;
    const RequestResult result = Send(ctx, DM_GET_FLASHINFO, target, strPassword);
    if (const int nExit = Outcome(target.strIp, result))
        return nExit;
    const auto* pImage = reinterpret_cast<const unsigned char*>(result.image.constData());
    QString strError;
    if (bStdout) {
        // Nothing but the image there: it is piped into another program. A
        // failed write is told, and ends in exit 10, once the command returns.
        StdoutBinary();
        OutBytes(result.image);
        return EXIT_OK;
    }
    switch (SaveFlashInfoFile(strFile, pImage, strError)) {
    case FlashFileResult::Ok:
        Out(QStringLiteral("%1: %2 bytes from %3\n").arg(strFile).arg(FLASHINFO_SIZE).arg(target.strIp));
        return EXIT_OK;
    case FlashFileResult::OpenError:
        return Fail(EXIT_FILE, OpenErrorText(strFile, strError));
    default:
        return Fail(EXIT_FILE, QStringLiteral("cannot write %1: %2").arg(strFile, strError));
    }
}

int RunRestore(CContext& ctx)
{
    if (const int nExit = CheckTarget(ctx.args[0]))
        return nExit;
    if (const int nExit = CheckConfirmable(ctx, "restore"))
        return nExit;
    const bool bStdin = ctx.args[1] == QLatin1String("-");
    const QString strFile = bStdin ? QStringLiteral("standard input") : ctx.args[1];
    // The question would be answered from the same terminal as the image.
    if (bStdin && StdinIsTerminal())
        return Usage(QStringLiteral("refusing to read an image from the terminal: pipe it into standard input"));
    QByteArray image(FLASHINFO_SIZE, '\0');
    auto* pImage = reinterpret_cast<unsigned char*>(image.data());
    QString strError;
    FlashFileResult loaded = FlashFileResult::Ok;
    QFile in;
    if (!bStdin)
        loaded = LoadFlashInfoFile(strFile, pImage, strError);
    else if (OpenStdin(in))
        loaded = ReadFlashInfo(in, pImage, strError);
    else
        return Usage(OpenErrorText(strFile, in.errorString()));
    switch (loaded) {
    case FlashFileResult::Ok:
        break;
    case FlashFileResult::ShortFile:
        return Usage(QStringLiteral("%1 holds fewer than %2 bytes: not an image; nothing was sent")
                         .arg(strFile)
                         .arg(FLASHINFO_SIZE));
    case FlashFileResult::OpenError:
        return Usage(OpenErrorText(strFile, strError));
    default:
        return Usage(QStringLiteral("cannot read %1: %2").arg(strFile, strError));
    }
    QString strPassword;
    Target target;
    if (const int nExit = PasswordAndTarget(ctx, strPassword, target))
        return nExit;
    if (const int nExit = Confirm(ctx, IDS_CONFIRM_LOAD))
        return nExit;
    if (const int nExit = Outcome(target.strIp, Send(ctx, DM_PUT_FLASHINFO, target, strPassword, image)))
        return nExit;
    Out(Text(IDS_LOAD_DONE) + QLatin1Char('\n'));
    return EXIT_OK;
}

int RunBackupAll(CContext& ctx)
{
    // Everything is checked before the directory is made or anything sent.
    FleetOptions options;
    options.strDir = ctx.args[0];
    int nRounds = 1;
    if (!ParseCount(ctx.Value("parallel"), 1, 256, options.nParallel))
        return Usage(QStringLiteral("--parallel takes a count from 1 to 256"));
    if (!ParseCount(ctx.Value("retries"), 0, 100, options.nRetries))
        return Usage(QStringLiteral("--retries takes a count from 0 to 100"));
    if (!ParseCount(ctx.Value("rounds"), 1, 1000, nRounds))
        return Usage(QStringLiteral("--rounds takes a count from 1 to 1000"));
    QRegularExpression match;
    if (ctx.IsSet("match")) {
        match = QRegularExpression::fromWildcard(ctx.Value("match"), Qt::CaseInsensitive);
        if (!match.isValid())
            return Usage(QStringLiteral("--match: not a valid pattern: %1").arg(ctx.Value("match")));
    }
    if (const int nExit = CheckDirectory(options.strDir))
        return nExit;
    options.strReport = ctx.Value("report");
    if (!options.strReport.isEmpty()) {
        // Its directory may be DIR, or above it, yet to be made with it.
        const QString strReportDir = QDir::cleanPath(QFileInfo(options.strReport).absolutePath());
        const QString strDir = QDir::cleanPath(QFileInfo(options.strDir).absoluteFilePath());
        const bool bMadeWithDir = !QFileInfo::exists(strReportDir) &&
                                  (strDir == strReportDir || strDir.startsWith(strReportDir + QLatin1Char('/')));
        if (!bMadeWithDir)
            if (const int nExit = CheckWritable(options.strReport))
                return nExit;
    }
    if (const int nExit = ReadPassword(ctx, options.strPassword))
        return nExit;
    if (const int nExit = OpenSession(ctx))
        return nExit;

    QList<Appliance> found;
    if (!ctx.pSession->Discover(ctx.nDiscoverMs, nRounds, found))
        return Fail(EXIT_NETWORK, Text(IDS_SEND_ERROR));
    WarnSystemDrops(ctx);
    QList<Appliance> chosen;
    for (const Appliance& a : found)
        if (!ctx.IsSet("match") || match.match(a.strMac).hasMatch() || match.match(a.strIp).hasMatch() ||
            match.match(a.strSerial).hasMatch())
            chosen.append(a);

    options.nTimeoutMs = ctx.nTimeoutMs;
    options.bProgress = StderrIsTerminal();
    CFleetBackup backup(*ctx.pSession, options);
    // Nothing backed up is no success: a job on the wrong segment, or with a
    // mistyped --match, must not pass for one. The report says the same.
    if (chosen.isEmpty()) {
        const int nExit = found.isEmpty()
                              ? Fail(EXIT_NO_RESPONSE,
                                     QStringLiteral("no appliance answered within %1 s").arg(ctx.nDiscoverMs / 1000.0))
                              : Fail(EXIT_NONE_MATCHED, QStringLiteral("none of the %1 appliances found matches %2")
                                                            .arg(found.size())
                                                            .arg(ctx.Value("match")));
        return backup.SaveReport() ? nExit : EXIT_FILE;
    }
    if (!CFleetBackup::MakeDirectory(options.strDir))
        return Fail(EXIT_FILE, QStringLiteral("cannot make the directory %1").arg(options.strDir));
    return backup.Run(chosen);
}

const Subcommand kSubcommands[] = {
    {"discover", "", "Lists the appliances that answer a discovery broadcast.", OPT_DISCOVER, RunDiscover},
    {"set-ip", "MAC NEW_IP", "Gives the appliance with this MAC address a new IP address, then checks it answers there.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_VERIFY, RunSetIp},
    {"reboot", "TARGET", "Reboots an appliance (TARGET: its IPv4 address or MAC address).",
     OPT_PASSWORD | OPT_RESOLVE | OPT_YES, RunReboot},
    {"login-url", "TARGET", "Prints the URL of the appliance's web login page, password included.",
     OPT_PASSWORD | OPT_RESOLVE, RunLoginUrl},
    {"backup", "TARGET FILE", "Saves the appliance's 8192-byte configuration image to FILE (-: standard output).",
     OPT_PASSWORD | OPT_RESOLVE, RunBackup},
    {"restore", "TARGET FILE",
     "Loads the first 8192 bytes of FILE (-: standard input) into the appliance as its configuration image.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_YES, RunRestore},
    {"backup-all", "DIR", "Saves the image of every appliance found (or of those --match selects) to DIR/<MAC>.cfg.",
     OPT_PASSWORD | OPT_RESOLVE | OPT_FLEET, RunBackupAll},
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
        "norvane --list-interfaces prints the interfaces discovery goes out on; --version the version.\n\n");
    strHelp += QLatin1String(EXIT_CODE_HELP);
    return strHelp;
}

void AddOptions(QCommandLineParser& parser, const Subcommand& sub)
{
    const bool bDiscover = sub.nOptions & OPT_DISCOVER;
    parser.addOption({{"h", "help"}, "Shows this help."});
    parser.addOption({"timeout",
                      bDiscover ? "Seconds to gather replies in each round (default 2)."
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
        parser.addOption({"discover-timeout", "Seconds to wait for discovery replies (default 2).", "SEC", "2"});
    if (sub.nOptions & OPT_YES)
        parser.addOption({{"y", "yes"}, "Does not ask for confirmation (needed when input is not a terminal)."});
    if (sub.nOptions & OPT_VERIFY)
        parser.addOption({"no-verify", "Does not check by a discovery that the appliance answers from NEW_IP."});
    if (sub.nOptions & (OPT_DISCOVER | OPT_FLEET))
        parser.addOption({"rounds", "Broadcasts discovery N times and merges the replies (default 1).", "N", "1"});
    if (bDiscover)
        parser.addOption({"format", "table (default), json or csv.", "FORMAT", "table"});
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

} // namespace

namespace {
int RunArguments(const QStringList& args)
{
    const QString strFirst = args.value(1);
    if (strFirst.isEmpty())
        return Usage(QStringLiteral("no subcommand; see norvane --help"));
    if (strFirst == QLatin1String("--version") || strFirst == QLatin1String("-V")) {
        Out(QStringLiteral("norvane %1\n").arg(QCoreApplication::applicationVersion()));
        return EXIT_OK;
    }
    if (strFirst == QLatin1String("--list-interfaces")) {
        ListInterfaces({});
        return EXIT_OK;
    }
    if (strFirst == QLatin1String("--help") || strFirst == QLatin1String("-h") ||
        (strFirst == QLatin1String("help") && args.size() == 2)) {
        Out(TopHelp());
        return EXIT_OK;
    }
    const bool bHelpFor = strFirst == QLatin1String("help");
    const QString strName = bHelpFor ? args.value(2) : strFirst;
    const Subcommand* pSub = FindSubcommand(strName);
    if (!pSub)
        return Usage(QStringLiteral("unknown subcommand '%1'; see norvane --help").arg(strName));

    CContext ctx;
    AddOptions(ctx.parser, *pSub);
    if (bHelpFor) {
        Out(SubHelp(*pSub, ctx.parser));
        return EXIT_OK;
    }
    if (!ctx.parser.parse(QStringList{args.value(0)} + args.mid(2)))
        return Usage(ctx.parser.errorText() + QStringLiteral("; see norvane help ") + strName);
    if (ctx.IsSet("help")) {
        Out(SubHelp(*pSub, ctx.parser));
        return EXIT_OK;
    }
    ctx.args = ctx.parser.positionalArguments();
    const qsizetype nWanted = QString::fromLatin1(pSub->pszArgs).split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
    if (ctx.args.size() != nWanted)
        return Usage(QStringLiteral("usage: norvane %1 [OPTION...] %2").arg(strName, QLatin1String(pSub->pszArgs)));
    if (!ParseSeconds(ctx.Value("timeout"), ctx.nTimeoutMs))
        return Usage(QStringLiteral("--timeout takes seconds, more than 0 and at most 3600"));
    if ((pSub->nOptions & OPT_RESOLVE) && !ParseSeconds(ctx.Value("discover-timeout"), ctx.nDiscoverMs))
        return Usage(QStringLiteral("--discover-timeout takes seconds, more than 0 and at most 3600"));
    ctx.bVerbose = ctx.IsSet("verbose");
    for (const QString& strName : ctx.parser.values(QStringLiteral("interface"))) {
        const QNetworkInterface iface = QNetworkInterface::interfaceFromName(strName);
        if (!iface.isValid())
            return Usage(QStringLiteral("no network interface %1").arg(strName));
        ctx.interfaces.append(iface.index());
    }
    if (ctx.IsSet("list-interfaces")) {
        ListInterfaces(ctx.interfaces);
        return EXIT_OK;
    }
    const int nExit = pSub->pfnRun(ctx);
    ReportIgnored(ctx);
    return nExit;
}
} // namespace

int RunCli(const QStringList& args)
{
    IgnoreBrokenPipe();
    const int nExit = RunArguments(args);
    // A reader that stopped reading wanted no more; a full disk or a closed
    // stream is a failure, whatever the command did.
    if (!StdoutError() || StdoutReaderGone())
        return nExit;
    Err(QStringLiteral("norvane: write error on standard output: %1\n").arg(qt_error_string(StdoutError())));
    return nExit ? nExit : EXIT_FILE;
}

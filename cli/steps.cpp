#include "steps.h"

#include "devicemsg.h"
#include "exitcodes.h"
#include "flashinfofile.h"
#include "interfaces.h"
#include "ipv4text.h"
#include "messages.h"
#include "resource.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <filesystem>

namespace {
QString PasswordFromFile(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        Usage(QStringLiteral("cannot read the password file %1: %2").arg(file.fileName(), file.errorString()));
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return TextFromBytes(line);
}

// The path a file is known by once links and spellings are undone; for one
// yet to be made, its directory's such path and its name.
QString RealPath(const QString& strPath)
{
    const QFileInfo info(strPath);
    if (info.exists())
        return info.canonicalFilePath();
    const QString strDir = QFileInfo(info.absolutePath()).canonicalFilePath();
    return strDir.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : QDir(strDir).filePath(info.fileName());
}

bool SameFile(const QString& strA, const QString& strB)
{
    std::error_code error;
    if (QFileInfo::exists(strA) && QFileInfo::exists(strB) &&
        std::filesystem::equivalent(QFileInfo(strA).filesystemFilePath(), QFileInfo(strB).filesystemFilePath(), error))
        return true;
    return RealPath(strA) == RealPath(strB);
}

[[noreturn]] void NotATarget(const QString& strTarget)
{
    Usage(QStringLiteral("not an IPv4 address or a MAC address: %1").arg(strTarget));
}
} // namespace

// A file written on a Latin-1 system sends the bytes its owner typed.
QString TextFromBytes(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString strText = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : strText;
}

// The appliance gets one byte per character (Latin-1): a character beyond
// it would silently become another password, and so would one beyond the
// field, cut off.
QString PasswordProblem(const QString& strPassword)
{
    if (strPassword.size() > DEVMSG_PASSWORD_SIZE)
        return QStringLiteral("the password is %1 characters long; an appliance takes at most %2")
            .arg(strPassword.size())
            .arg(DEVMSG_PASSWORD_SIZE);
    for (const QChar c : strPassword)
        if (c.unicode() > 0xFF)
            return QStringLiteral("the password holds '%1', which is not among the 256 characters "
                                  "(Latin-1) an appliance receives")
                .arg(c);
    return {};
}

void OpenSession(CContext& ctx)
{
    if (ctx.pSession)
        return;
    ctx.pSession = std::make_unique<CSession>(ctx.bVerbose);
    if (!ctx.pSession->Open())
        Fail(EXIT_NETWORK, Text(IDS_SOCKET_CREATE_FAILED));
    ctx.pSession->SetInterfaces(ctx.interfaces);
    ctx.pSession->SetSweep(ctx.sweep);
}

QList<Appliance> Discover(CContext& ctx, int nWindowMs, int nRounds, const CSession::StopWhen& stop)
{
    OpenSession(ctx);
    CSession::Discovered found = ctx.pSession->Discover(nWindowMs, nRounds, stop);
    if (!found.bSent)
        Fail(EXIT_NETWORK, Text(IDS_SEND_ERROR));
    return found.appliances;
}

// The system tells how many datagrams it dropped for want of buffer: those
// replies, and their appliances, are missing from the list.
void WarnSystemDrops(const CContext& ctx)
{
    if (const quint64 nDrops = ctx.pSession->Stats().nSystemDrops)
        Warn(QStringLiteral("the system dropped %1 replies for want of buffer; some appliances may "
                            "be missing (--rounds 3 asks again and merges the answers)")
                 .arg(nDrops));
}

QRegularExpression MatchOption(const CContext& ctx)
{
    if (!ctx.IsSet("match"))
        return {};
    const QRegularExpression match = QRegularExpression::fromWildcard(ctx.Value("match"), Qt::CaseInsensitive);
    if (!match.isValid())
        Usage(QStringLiteral("--match: not a valid pattern: %1").arg(ctx.Value("match")));
    return match;
}

QList<Appliance> Chosen(const CContext& ctx, const QRegularExpression& match, const QList<Appliance>& found)
{
    QList<Appliance> chosen;
    for (const Appliance& a : found)
        if (!ctx.IsSet("match") || match.match(a.strMac).hasMatch() || match.match(a.strIp).hasMatch() ||
            match.match(a.strSerial).hasMatch())
            chosen.append(a);
    return chosen;
}

FleetOptions ReadFleetOptions(const CContext& ctx, const char* pszCommand)
{
    FleetOptions options;
    options.strCommand = QLatin1String(pszCommand);
    options.nParallel = CountOption(ctx, "parallel", 1, 256);
    options.nRetries = CountOption(ctx, "retries", 0, 100);
    options.strReport = ctx.Value("report");
    if (ctx.IsSet("report") && options.strReport.isEmpty())
        Usage(QStringLiteral("--report needs a file name"));
    // Elsewhere "-" is standard input or output; here it would quietly be a
    // file of that name, and standard output has the command's own data.
    if (options.strReport == QLatin1String("-"))
        Usage(QStringLiteral("--report takes a file, not standard output (./- for a file named -)"));
    options.nTimeoutMs = ctx.nTimeoutMs;
    options.bProgress = StderrIsTerminal();
    return options;
}

FleetStart ReadFleetStart(const CContext& ctx, const char* pszCommand)
{
    FleetStart start;
    start.options = ReadFleetOptions(ctx, pszCommand);
    start.nRounds = CountOption(ctx, "rounds", 1, 1000);
    start.match = MatchOption(ctx);
    return start;
}

FleetFound DiscoverFleet(CContext& ctx, const FleetStart& start)
{
    FleetFound found;
    found.all = Discover(ctx, ctx.nDiscoverMs, start.nRounds);
    WarnSystemDrops(ctx);
    found.chosen = Chosen(ctx, start.match, found.all);
    return found;
}

int NoneChosen(const CContext& ctx, qsizetype nFound)
{
    if (!nFound) {
        Note(QStringLiteral("no appliance answered within %1 s").arg(ctx.nDiscoverMs / 1000.0));
        return EXIT_NO_RESPONSE;
    }
    Note(QStringLiteral("none of the %1 appliances found matches %2").arg(nFound).arg(ctx.Value("match")));
    return EXIT_NONE_MATCHED;
}

int CountOption(const CContext& ctx, const char* pszName, int nMin, int nMax)
{
    bool bOk = false;
    const int n = ctx.Value(pszName).toInt(&bOk);
    if (!bOk || n < nMin || n > nMax)
        Usage(QStringLiteral("--%1 takes a count from %2 to %3").arg(QLatin1String(pszName)).arg(nMin).arg(nMax));
    return n;
}

QString ReadPassword(const CContext& ctx)
{
    QString strPassword;
    if (ctx.IsSet("password-file")) {
        strPassword = PasswordFromFile(ctx.Value("password-file"));
    } else if (ctx.IsSet("password")) {
        strPassword = ctx.Value("password");
    } else if (qEnvironmentVariableIsSet("NORVANE_PASSWORD")) {
        strPassword = qEnvironmentVariable("NORVANE_PASSWORD");
    } else if (StdinIsTerminal()) {
        if (!ReadSecret(QStringLiteral("Password: "), strPassword))
            Usage(QStringLiteral("no password read"));
    }
    if (const QString strWhy = PasswordProblem(strPassword); !strWhy.isEmpty())
        Usage(strWhy);
    return strPassword;
}

namespace {
// The refusal of text that does not parse as an address.
QString NoAddress(const QString& strText)
{
    const QString strWhy = Ipv4TextProblem(strText);
    return QStringLiteral("%1: %2").arg(Text(IDS_INVALID_IP), strWhy.isEmpty() ? strText : strWhy);
}

// The refusal of an address no request may go to; empty when it may.
QString UnusableRefusal(quint32 nIp, const CInterfaceSnapshot& host)
{
    const QString strWhy = host.UnusableReason(nIp);
    return strWhy.isEmpty() ? QString() : QStringLiteral("%1: %2: %3").arg(Text(IDS_BAD_IP), Ipv4Text(nIp), strWhy);
}
} // namespace

QString IpRefusal(const QString& strText, const CInterfaceSnapshot& host, quint32* pIp)
{
    quint32 nIp = 0;
    if (!ParseIpv4(strText, nIp))
        return NoAddress(strText);
    if (QString strWhy = UnusableRefusal(nIp, host); !strWhy.isEmpty())
        return strWhy;
    if (pIp)
        *pIp = nIp;
    return {};
}

QString CheckIpText(const QString& strText)
{
    if (const QString strWhy = IpRefusal(strText); !strWhy.isEmpty())
        Usage(strWhy);
    return strText; // an address's only form
}

QString NewIpRefusal(const QString& strText, const CAddressRanges& scan, const CInterfaceSnapshot& host, quint32* pIp)
{
    quint32 nIp = 0;
    if (!ParseIpv4(strText, nIp))
        return NoAddress(strText);
    if (QString strWhy = NewIpRefusal(nIp, scan, host); !strWhy.isEmpty())
        return strWhy;
    if (pIp)
        *pIp = nIp;
    return {};
}

QString NewIpRefusal(quint32 nIp, const CAddressRanges& scan, const CInterfaceSnapshot& host)
{
    if (QString strWhy = UnusableRefusal(nIp, host); !strWhy.isEmpty())
        return strWhy;
    // On a real segment the clash could cut this host off from the appliances.
    for (const LocalAddress& own : host.Addresses())
        if (own.nIp == nIp)
            return QStringLiteral("%1: %2: an address of this host, on interface %3")
                .arg(Text(IDS_BAD_IP), Ipv4Text(nIp), own.strInterface);
    CAddressRanges::Block block;
    if (scan.GivenBlock(nIp, block) && block.nPrefix < 31 && (nIp == block.nFirst || nIp == block.nLast))
        return QStringLiteral("%1: %2: the %3 address of the --scan range %4")
            .arg(Text(IDS_BAD_IP), Ipv4Text(nIp),
                 nIp == block.nFirst ? QStringLiteral("network") : QStringLiteral("broadcast"), block.Text());
    return {};
}

void CheckTarget(const QString& strTarget)
{
    quint32 nIp = 0;
    if (ParseIpv4(strTarget, nIp) || !Ipv4TextProblem(strTarget).isEmpty())
        CheckIpText(strTarget);
    else if (CanonicalMac(strTarget).isEmpty())
        NotATarget(strTarget);
}

// The address given, or that of the appliance with the MAC given, found by a
// discovery. An address outside every local subnet is looked for by a
// discovery too, to learn which interface reaches it; when nobody answers,
// the routes decide.
Target ResolveTarget(CContext& ctx, const QString& strTarget)
{
    Target target;
    quint32 nIp = 0;
    if (ParseIpv4(strTarget, nIp))
        target.strIp = strTarget;
    const QString strMac = target.strIp.isEmpty() ? CanonicalMac(strTarget) : QString();
    if (target.strIp.isEmpty() && strMac.isEmpty())
        NotATarget(strTarget);
    // One named interface: that is the way out, whatever the routes say.
    if (ctx.interfaces.size() == 1)
        target.nInterface = ctx.interfaces.first();
    if (!target.strIp.isEmpty() && (target.nInterface || InLocalSubnet(QHostAddress(target.strIp))))
        return target;

    const auto matches = [&](const Appliance& a) {
        return strMac.isEmpty() ? a.bIp && a.nIp == nIp : a.strMacKey == strMac;
    };
    const auto found = [&](const QList<Appliance>& now) { return std::any_of(now.begin(), now.end(), matches); };
    const QList<Appliance> list = Discover(ctx, ctx.nDiscoverMs, 1, found);
    const auto it = std::find_if(list.begin(), list.end(), matches);
    if (it == list.end()) {
        if (!strMac.isEmpty())
            Usage(QStringLiteral("no appliance answers for MAC %1").arg(strMac));
        return target;
    }
    target.nInterface = it->nInterface;
    if (strMac.isEmpty())
        return target;
    target.strIp = it->IpText();
    if (!it->bIp || !UnusableIpv4Reason(it->nIp).isEmpty())
        Usage(QStringLiteral("the appliance %1 reports an unusable IP address").arg(strMac));
    return target;
}

void CheckConfirmable(const CContext& ctx, const char* pszWhat)
{
    if (!ctx.IsSet("yes") && !StdinIsTerminal())
        Usage(QStringLiteral("refusing to %1 without --yes: standard input is not a terminal").arg(pszWhat));
}

void Confirm(const CContext& ctx, unsigned nQuestion)
{
    if (!ctx.IsSet("yes") && !AskYesNo(Text(nQuestion)))
        Fail(EXIT_DECLINED, QStringLiteral("not confirmed; nothing was sent"));
}

void CheckOutcome(const QString& strIp, const RequestResult& result)
{
    switch (result.outcome) {
    case RequestResult::EOutcome::Ok:
        return;
    case RequestResult::EOutcome::Status:
        Fail(StatusExit(result.nStatus), strIp + QStringLiteral(": ") + Text(StatusTextId(result.nStatus)));
    case RequestResult::EOutcome::NoResponse:
        Fail(EXIT_NO_RESPONSE, strIp + QStringLiteral(": ") + Text(IDS_NO_RESPONSE));
    case RequestResult::EOutcome::SendFailed:
        break;
    }
    Fail(EXIT_NETWORK, strIp + QStringLiteral(": ") + FailureText(result));
}

void CheckReportApart(const CContext& ctx, const QString& strReport, const QStringList& files, const QString& strDir)
{
    QStringList read = files;
    if (ctx.IsSet("password-file"))
        read << ctx.Value("password-file");
    for (const QString& strFile : read)
        if (SameFile(strReport, strFile))
            Usage(QStringLiteral("--report %1 is %2, which this run reads or writes; nothing was sent")
                      .arg(strReport, strFile));
    if (!strDir.isEmpty()) {
        if (SameFile(strReport, strDir))
            Usage(QStringLiteral("--report %1 is the directory %2; nothing was sent").arg(strReport, strDir));
        const QFileInfo real(RealPath(strReport));
        const QString strMac = CanonicalMac(real.completeBaseName());
        if (real.suffix().compare(QLatin1String("cfg"), Qt::CaseInsensitive) == 0 && !strMac.isEmpty() &&
            SameFile(real.absolutePath(), strDir))
            Usage(QStringLiteral("--report %1 would replace the image of %2 in %3; nothing was sent")
                      .arg(strReport, strMac, strDir));
    }
}

void CheckWritable(const QString& strPath)
{
    QString strError;
    switch (CheckSaveTarget(strPath, strError)) {
    case FlashFileResult::Ok:
        return;
    case FlashFileResult::NotRegular:
        Fail(EXIT_FILE, QStringLiteral("%1: %2 (a FIFO, a device, a socket or a link to nothing): refusing to "
                                       "replace it; nothing was sent")
                            .arg(strPath, strError));
    default:
        Usage(QStringLiteral("cannot write %1: %2").arg(strPath, strError));
    }
}

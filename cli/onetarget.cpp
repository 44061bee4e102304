// reboot, login-url, backup and restore: one request to the appliance TARGET
// names, each over the same skeleton, so that nothing is sent before all
// that can be checked here has been:
//   CheckFirst   TARGET's form; whether a question can be asked
//   (the subcommand's own checks: its file)
//   Exchange     the password; TARGET resolved; the question; the request
//                sent and its outcome told
//   (the subcommand prints what came back)
#include "subcommands.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "loginurl.h"
#include "messages.h"
#include "resource.h"
#include "steps.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QFile>

namespace {
struct Exchanged {
    Target target;
    QString strPassword;
    RequestResult result; // a success: anything else ended the command
};

// pszConfirmable: what a question will be asked about ("reboot"); null
// when none will be.
void CheckFirst(const CContext& ctx, const char* pszConfirmable = nullptr)
{
    CheckTarget(ctx.args[0]);
    // A sweep finds an appliance by its MAC; an address is asked as it is.
    if (ctx.IsSet("scan") && !CanonicalIp(ctx.args[0]).isEmpty())
        Usage(QStringLiteral("--scan looks for an appliance named by its MAC; %1 is an address, asked directly: "
                             "leave --scan out")
                  .arg(ctx.args[0]));
    if (pszConfirmable)
        CheckConfirmable(ctx, pszConfirmable);
}

// nQuestion: the text asked before sending; 0 for none.
Exchanged Exchange(CContext& ctx, std::int8_t nType, unsigned nQuestion = 0, const QByteArray& image = {})
{
    Exchanged done;
    done.strPassword = ReadPassword(ctx);
    done.target = ResolveTarget(ctx, ctx.args[0]);
    OpenSession(ctx);
    if (nQuestion)
        Confirm(ctx, nQuestion);
    const DeviceRequest request{nType, done.strPassword, done.target.strIp, done.target.nInterface,
                                {}, {}, image};
    done.result = ctx.pSession->Run(request, ctx.nTimeoutMs);
    CheckOutcome(done.target.strIp, done.result);
    return done;
}

QString OpenErrorText(const QString& strPath, const QString& strReason)
{
    return QStringLiteral("%1: %2: %3").arg(strPath, Text(IDS_FILE_OPEN_ERROR), strReason);
}

// The image restore sends: the first bytes of FILE, or of standard input
// for "-".
QByteArray ReadImage(const QString& strArg)
{
    const bool bStdin = strArg == QLatin1String("-");
    const QString strFile = bStdin ? QStringLiteral("standard input") : strArg;
    // The question would be answered from the same terminal as the image.
    if (bStdin && StdinIsTerminal())
        Usage(QStringLiteral("refusing to read an image from the terminal: pipe it into standard input"));
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
        Usage(OpenErrorText(strFile, in.errorString()));
    switch (loaded) {
    case FlashFileResult::Ok:
        return image;
    case FlashFileResult::ShortFile:
        Usage(QStringLiteral("%1 holds fewer than %2 bytes: not an image; nothing was sent")
                  .arg(strFile)
                  .arg(FLASHINFO_SIZE));
    case FlashFileResult::OpenError:
        Usage(OpenErrorText(strFile, strError));
    default:
        Usage(QStringLiteral("cannot read %1: %2").arg(strFile, strError));
    }
}

void SaveImage(const QString& strFile, const Exchanged& done)
{
    const auto* pImage = reinterpret_cast<const unsigned char*>(done.result.image.constData());
    QString strError;
    switch (SaveFlashInfoFile(strFile, pImage, strError)) {
    case FlashFileResult::Ok:
        Out(QStringLiteral("%1: %2 bytes from %3\n").arg(strFile).arg(FLASHINFO_SIZE).arg(done.target.strIp));
        return;
    case FlashFileResult::OpenError:
        Fail(EXIT_FILE, OpenErrorText(strFile, strError));
    default:
        Fail(EXIT_FILE, QStringLiteral("cannot write %1: %2").arg(strFile, strError));
    }
}
} // namespace

int RunReboot(CContext& ctx)
{
    CheckFirst(ctx, "reboot");
    Exchange(ctx, DM_REBOOT, IDS_CONFIRM_REBOOT);
    Out(Text(IDS_REBOOT_DONE) + QLatin1Char('\n'));
    return EXIT_OK;
}

int RunLoginUrl(CContext& ctx)
{
    CheckFirst(ctx);
    const Exchanged done = Exchange(ctx, DM_GET_LOGIN);
    const LoginInfo& login = done.result.login;
    if (login.nWebPort < 1 || login.nWebPort > 65535)
        Fail(EXIT_NO_LOGIN, Text(IDS_OLD_DEVICE_VERSION));
    const QByteArray url = LoginUrlToOpen(done.target.strIp, login.nWebPort, login.strUserName, done.strPassword);
    if (url.isEmpty())
        Fail(EXIT_NO_LOGIN,
             QStringLiteral("no login URL: it would be longer than %1 characters").arg(LOGIN_URL_BUF_SIZE - 1));
    Out(QString::fromLatin1(url) + QLatin1Char('\n'));
    return EXIT_OK;
}

int RunBackup(CContext& ctx)
{
    CheckFirst(ctx);
    const QString& strFile = ctx.args[1];
    const bool bStdout = strFile == QLatin1String("-");
    if (bStdout && StdoutIsTerminal())
        Usage(QStringLiteral("refusing to write an image to the terminal: redirect standard output"));
    if (!bStdout)
        CheckWritable(strFile);
    const Exchanged done = Exchange(ctx, DM_GET_FLASHINFO);
    if (!bStdout) {
        SaveImage(strFile, done);
        return EXIT_OK;
    }
    // Nothing but the image there: it is piped into another program. A
    // failed write is told, and ends in EXIT_FILE, once the command returns.
    StdoutBinary();
    OutBytes(done.result.image);
    return EXIT_OK;
}

int RunRestore(CContext& ctx)
{
    CheckFirst(ctx, "restore");
    const QByteArray image = ReadImage(ctx.args[1]);
    Exchange(ctx, DM_PUT_FLASHINFO, IDS_CONFIRM_LOAD, image);
    Out(Text(IDS_LOAD_DONE) + QLatin1Char('\n'));
    return EXIT_OK;
}

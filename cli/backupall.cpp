// norvane backup-all: its options and checks, and the discovery that picks
// the appliances; CFleetBackup (fleetbackup.h) backs them up.
#include "subcommands.h"

#include "exitcodes.h"
#include "fleetbackup.h"
#include "messages.h"
#include "steps.h"
#include "terminal.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
// DIR: a writable directory, or one that can be made, its nearest existing
// parent being a writable directory.
void CheckDirectory(const QString& strDir)
{
    QFileInfo info(QDir::cleanPath(QFileInfo(strDir).absoluteFilePath()));
    while (!info.exists() && !info.isSymbolicLink() && info.absolutePath() != info.absoluteFilePath())
        info.setFile(info.absolutePath());
    const QFileInfo dir(info.absoluteFilePath());
    if (!dir.isDir() || !dir.isWritable())
        Usage(QStringLiteral("cannot write to the directory %1").arg(strDir));
}

void CheckReport(const QString& strReport, const QString& strDir)
{
    // Its directory may be DIR, or above it, yet to be made with it.
    const QString strReportDir = QDir::cleanPath(QFileInfo(strReport).absolutePath());
    const QString strCleanDir = QDir::cleanPath(QFileInfo(strDir).absoluteFilePath());
    const bool bBelow = strCleanDir == strReportDir || strCleanDir.startsWith(strReportDir + QLatin1Char('/'));
    const bool bMadeWithDir = bBelow && !QFileInfo::exists(strReportDir);
    if (!bMadeWithDir)
        CheckWritable(strReport);
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
} // namespace

int RunBackupAll(CContext& ctx)
{
    // Everything is checked before the directory is made or anything sent.
    FleetOptions options;
    options.strDir = ctx.args[0];
    options.nParallel = CountOption(ctx, "parallel", 1, 256);
    options.nRetries = CountOption(ctx, "retries", 0, 100);
    const int nRounds = CountOption(ctx, "rounds", 1, 1000);
    const QRegularExpression match = MatchOption(ctx);
    CheckDirectory(options.strDir);
    options.strReport = ctx.Value("report");
    if (!options.strReport.isEmpty())
        CheckReport(options.strReport, options.strDir);
    options.strPassword = ReadPassword(ctx);

    const QList<Appliance> found = Discover(ctx, ctx.nDiscoverMs, nRounds);
    WarnSystemDrops(ctx);
    const QList<Appliance> chosen = Chosen(ctx, match, found);
    options.nTimeoutMs = ctx.nTimeoutMs;
    options.bProgress = StderrIsTerminal();
    CFleetBackup backup(*ctx.pSession, options);
    // Nothing backed up is no success: a job on the wrong segment, or with a
    // mistyped --match, must not pass for one. The report says the same.
    if (chosen.isEmpty()) {
        if (found.isEmpty())
            Note(QStringLiteral("no appliance answered within %1 s").arg(ctx.nDiscoverMs / 1000.0));
        else
            Note(QStringLiteral("none of the %1 appliances found matches %2")
                     .arg(found.size())
                     .arg(ctx.Value("match")));
        if (!backup.SaveReport())
            return EXIT_FILE;
        return found.isEmpty() ? EXIT_NO_RESPONSE : EXIT_NONE_MATCHED;
    }
    if (!CFleetBackup::MakeDirectory(options.strDir))
        Fail(EXIT_FILE, QStringLiteral("cannot make the directory %1").arg(options.strDir));
    return backup.Run(chosen);
}

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

void CheckReport(const CContext& ctx, const QString& strReport, const QString& strDir)
{
    CheckReportApart(ctx, strReport, {}, strDir);
    // Its directory may be DIR, or above it, yet to be made with it.
    const QString strReportDir = QDir::cleanPath(QFileInfo(strReport).absolutePath());
    const QString strCleanDir = QDir::cleanPath(QFileInfo(strDir).absoluteFilePath());
    const bool bBelow = strCleanDir == strReportDir || strCleanDir.startsWith(strReportDir + QLatin1Char('/'));
    const bool bMadeWithDir = bBelow && !QFileInfo::exists(strReportDir);
    if (!bMadeWithDir)
        CheckWritable(strReport);
}

} // namespace

int RunBackupAll(CContext& ctx)
{
    // Everything is checked before the directory is made or anything sent.
    FleetOptions options = ReadFleetOptions(ctx, "backup-all");
    const QString strDir = ctx.args[0];
    const int nRounds = CountOption(ctx, "rounds", 1, 1000);
    const QRegularExpression match = MatchOption(ctx);
    CheckDirectory(strDir);
    if (!options.strReport.isEmpty())
        CheckReport(ctx, options.strReport, strDir);
    options.strPassword = ReadPassword(ctx);

    const QList<Appliance> found = Discover(ctx, ctx.nDiscoverMs, nRounds);
    WarnSystemDrops(ctx);
    const QList<Appliance> chosen = Chosen(ctx, match, found);
    CFleetBackup backup(*ctx.pSession, options, strDir);
    // The report says the same.
    if (chosen.isEmpty()) {
        const int nExit = NoneChosen(ctx, found.size());
        return backup.SaveReport() ? nExit : EXIT_FILE;
    }
    if (!CFleet::MakeDirectory(strDir))
        Fail(EXIT_FILE, QStringLiteral("cannot make the directory %1").arg(strDir));
    return backup.Run(chosen);
}

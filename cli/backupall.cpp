// norvane backup-all: the configuration image of every appliance found (or
// of those --match selects) saved to DIR/<MAC>.cfg, one fleet job each
// (fleet.h). Every argument is checked before DIR is made or anything sent.
#include "subcommands.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "fleetreport.h"
#include "messages.h"
#include "resource.h"
#include "session.h"
#include "steps.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

#include <memory>
#include <vector>

namespace {
// Each file is synced to disk before it takes its name, which takes
// milliseconds: on a pool, the other appliances' requests go on meanwhile.
// A job keeps its place among the parallel ones until its file is written,
// which bounds the images held in memory.
class CImageWriter {
public:
    explicit CImageWriter(int nThreads) { m_pool.setMaxThreadCount(nThreads); }
    ~CImageWriter() { m_pool.waitForDone(); }

    using Saved = std::function<void(FlashFileResult, const QString& strError)>;
    // saved is called on this thread, once the file is written or not.
    void Write(const QString& strPath, const QByteArray& image, const Saved& saved)
    {
        m_pool.start([this, strPath, image, saved] {
            QString strError;
            const FlashFileResult result =
                SaveFlashInfoFile(strPath, reinterpret_cast<const unsigned char*>(image.constData()), strError);
            QMetaObject::invokeMethod(
                &m_context, [saved, result, strError] { saved(result, strError); }, Qt::QueuedConnection);
        });
    }

private:
    QObject m_context;  // where the writers hand their results back
    QThreadPool m_pool; // declared after what its tasks use: waited for first
};

class CBackupJob : public CFleetJob {
public:
    CBackupJob(const Appliance& appliance, const QString& strDir, CImageWriter& writer)
        : CFleetJob(appliance), m_strDir(strDir), m_writer(writer)
    {
    }

    QJsonObject ReportEntry() const override
    {
        const bool bOk = Succeeded();
        return QJsonObject{
            {"mac", m_appliance.strMac},
            {"ip", m_appliance.strIp},
            {"serial", m_appliance.strSerial},
            {"file", bOk ? QJsonValue(m_strFile) : QJsonValue()},
            {"bytes", bOk ? FLASHINFO_SIZE : 0},
            {"sha256", bOk ? QJsonValue(QString::fromLatin1(m_sha256)) : QJsonValue()},
            {"outcome", bOk ? QStringLiteral("ok") : QStringLiteral("failed")},
            {"attempts", m_nAttempts},
            {"error", bOk ? QJsonValue() : QJsonValue(Error())},
        };
    }

private:
    void Attempt(CSession& session, const FleetOptions& options, const Calls& calls) override
    {
        const DeviceRequest request{DM_GET_FLASHINFO, options.strPassword, m_appliance.strIp, m_appliance.nInterface,
                                    {}, {}, {}};
        session.Start(request, options.nTimeoutMs, [this, end = calls.end](const RequestResult& result) {
            if (result.outcome != RequestResult::EOutcome::Ok) {
                end(AttemptEnd::Of(result));
                return;
            }
            // The appliance writes its MAC in any form; the file is named in one.
            const QString strPath = QDir(m_strDir).filePath(
                QString(m_appliance.strMacKey).replace(QLatin1Char(':'), QLatin1Char('-')) + QStringLiteral(".cfg"));
            m_sha256 = QCryptographicHash::hash(result.image, QCryptographicHash::Sha256).toHex();
            m_writer.Write(strPath, result.image, [this, strPath, end](FlashFileResult saved, const QString& strError) {
                if (saved == FlashFileResult::Ok) {
                    m_strFile = strPath;
                    end({});
                    return;
                }
                const QString strReason = saved == FlashFileResult::OpenError
                                              ? Text(IDS_FILE_OPEN_ERROR) + QStringLiteral(": ") + strError
                                              : strError;
                end({AttemptEnd::EKind::Failed, QStringLiteral("cannot write %1: %2").arg(strPath, strReason)});
            });
        });
    }

    QString m_strDir;
    CImageWriter& m_writer;
    QString m_strFile; // once written
    QByteArray m_sha256;
};

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
    FleetStart start = ReadFleetStart(ctx, "backup-all");
    FleetOptions& options = start.options;
    const QString strDir = ctx.args[0];
    CheckDirectory(strDir);
    if (!options.strReport.isEmpty())
        CheckReport(ctx, options.strReport, strDir);
    options.strPassword = ReadPassword(ctx);

    const FleetFound discovered = DiscoverFleet(ctx, start);
    const QList<Appliance>& found = discovered.all;
    const QList<Appliance>& chosen = discovered.chosen;
    CImageWriter writer(options.nParallel);
    std::vector<std::unique_ptr<CBackupJob>> jobs;
    for (const Appliance& a : chosen)
        jobs.push_back(std::make_unique<CBackupJob>(a, strDir, writer));
    // The report says the same.
    if (chosen.isEmpty())
        return EndUnrun(options, NoneChosen(ctx, found.size()));
    if (!MakeOwnerDirectory(strDir))
        Fail(EXIT_FILE, QStringLiteral("cannot make the directory %1").arg(strDir));
    RefuseUnsafe(JobList(jobs), false);
    return RunFleet(*ctx.pSession, options, JobList(jobs),
                    [&] { return QStringLiteral("backed up to ") + QDir::toNativeSeparators(strDir); });
}

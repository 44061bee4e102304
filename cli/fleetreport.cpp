#include "fleetreport.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "messages.h"
#include "terminal.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

namespace {
qsizetype Count(const QList<CFleetJob*>& jobs, const std::function<bool(const CFleetJob&)>& pred)
{
    return std::count_if(jobs.begin(), jobs.end(), [&](const CFleetJob* pJob) { return pred(*pJob); });
}
} // namespace

bool MakeOwnerDirectory(const QString& strDir)
{
    const QString strPath = QDir::cleanPath(QFileInfo(strDir).absoluteFilePath());
    if (QFileInfo(strPath).isDir())
        return true;
    const QString strParent = QFileInfo(strPath).path();
    // The images in it hold passwords: not even their names are shown to others.
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    return strParent != strPath && MakeOwnerDirectory(strParent) &&
           (QDir().mkdir(strPath, ownerOnly) || QFileInfo(strPath).isDir());
}

CFleetReporter::CFleetReporter(const FleetOptions& options) : m_options(options)
{
    m_clock.start();
}

void CFleetReporter::Progress(const QList<CFleetJob*>& jobs, bool bForce)
{
    if (!m_options.bProgress)
        return;
    const qint64 nNow = m_clock.elapsed();
    if (!bForce && nNow - m_nLastProgressMs < 100)
        return;
    m_nLastProgressMs = nNow;
    const qsizetype nEnded = Count(jobs, [](const CFleetJob& job) { return job.Ended(); });
    const double dRate = nNow > 0 ? double(nEnded) * 1000.0 / double(nNow) : 0;
    Err(QStringLiteral("\r%1: %2/%3 done, %4 failed, %5/s ")
            .arg(m_options.strCommand)
            .arg(nEnded)
            .arg(jobs.size())
            .arg(Count(jobs, [](const CFleetJob& job) { return job.Ended() && !job.Succeeded(); }))
            .arg(dRate, 0, 'f', 1));
}

QJsonObject ReportEntry(const CFleetJob& job)
{
    QJsonObject entry = job.ReportEntry();
    if (job.State() == CFleetJob::EState::Interrupted)
        entry[QStringLiteral("outcome")] = QStringLiteral("interrupted");
    return entry;
}

FleetRest LeftAlone(const QJsonArray& entries)
{
    return {entries.size(), [entries](qsizetype i) { return entries[i].toObject(); }, false};
}

void CFleetReporter::Summary(const QList<CFleetJob*>& jobs, const QString& strDoneText, const FleetRest& rest)
{
    Progress(jobs, true);
    if (m_options.bProgress)
        Err(QStringLiteral("\n"));
    const qsizetype nRestFailed = rest.bFailed ? rest.nCount : 0;
    const qsizetype nFailed = Count(jobs, [](const CFleetJob& job) { return !job.Succeeded(); }) + nRestFailed;
    const qsizetype nAll = jobs.size() + nRestFailed;
    Err(QStringLiteral("%1: %2 of %3 appliances %4 in %5 s")
            .arg(m_options.strCommand)
            .arg(nAll - nFailed)
            .arg(nAll)
            .arg(strDoneText)
            .arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1) +
        (nFailed ? QStringLiteral("; %1 failed:\n").arg(nFailed) : QStringLiteral("\n")));
    for (const CFleetJob* pJob : jobs) {
        if (pJob->Succeeded())
            continue;
        const Appliance& a = pJob->Target();
        Err(a.strIp.isEmpty() ? QStringLiteral("  %1: %2\n").arg(a.strMac, pJob->Error())
                              : QStringLiteral("  %1 (%2): %3\n").arg(a.strMac, a.strIp, pJob->Error()));
    }
    for (qsizetype i = 0; i < nRestFailed; ++i) {
        const QJsonObject entry = rest.entry(i);
        Err(QStringLiteral("  %1: %2\n").arg(entry[QLatin1String("mac")].toString(),
                                              entry[QLatin1String("error")].toString()));
    }
}

bool CFleetReporter::SaveReport(const QList<CFleetJob*>& jobs, const FleetRest& rest) const
{
    if (m_options.strReport.isEmpty())
        return true;
    const auto entry = [&](qsizetype i) {
        if (rest.reported)
            return rest.reported(i);
        if (i >= jobs.size())
            return rest.entry(i - jobs.size());
        return ReportEntry(*jobs[i]);
    };
    // QJsonDocument's indented text of the whole array, written a piece at a
    // time: half a million entries held as one array took gigabytes.
    const qsizetype nEntries = rest.reported ? rest.nReported : jobs.size() + rest.nCount;
    qsizetype nNext = 0;
    bool bEnded = false;
    const auto next = [&] {
        QByteArray piece;
        if (bEnded)
            return piece;
        if (nNext == 0)
            piece = "[\n";
        for (; nNext < nEntries && piece.size() < (1 << 20); ++nNext) {
            if (nNext)
                piece += ",\n";
            piece += "    " + QJsonDocument(entry(nNext)).toJson().chopped(1).replace("\n", "\n    ");
        }
        if (nNext == nEntries) {
            piece += nEntries ? "\n]\n" : "]\n";
            bEnded = true;
        }
        return piece;
    };
    // Its directory may be the one backed up to, or above it, not made yet.
    QString strError = QStringLiteral("cannot make its directory");
    if (!MakeOwnerDirectory(QFileInfo(m_options.strReport).absolutePath()) ||
        SaveWholeFile(m_options.strReport, next, strError) != FlashFileResult::Ok) {
        Note(QStringLiteral("cannot write the report %1: %2").arg(m_options.strReport, strError));
        return false;
    }
    return true;
}

int EndUnrun(const FleetOptions& options, int nExit, const QList<CFleetJob*>& jobs, const FleetRest& rest)
{
    return CFleetReporter(options).SaveReport(jobs, rest) ? nExit : EXIT_FILE;
}

int RunFleet(CSession& session, const FleetOptions& options, const QList<CFleetJob*>& jobs,
             const std::function<QString()>& doneText, const std::function<void()>& afterAll,
             const FleetRest& rest)
{
    CFleetReporter reporter(options);
    const int nSignal = CFleetRunner(session, options, [&] { reporter.Progress(jobs, false); }).Run(jobs);
    if (afterAll)
        afterAll();
    reporter.Summary(jobs, doneText(), rest);
    const bool bSaved = reporter.SaveReport(jobs, rest);
    if (nSignal) {
        Note(QStringLiteral("interrupted by signal %1: %2 appliances not done")
                 .arg(nSignal)
                 .arg(Count(jobs, [](const CFleetJob& job) { return job.State() == CFleetJob::EState::Interrupted; })));
        return 128 + nSignal;
    }
    if (!bSaved)
        return EXIT_FILE;
    return !(rest.bFailed && rest.nCount) &&
                   std::all_of(jobs.begin(), jobs.end(), [](const CFleetJob* pJob) { return pJob->Succeeded(); })
               ? EXIT_OK
               : EXIT_SOME_FAILED;
}

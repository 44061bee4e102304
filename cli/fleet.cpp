#include "fleet.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "interruption.h"
#include "messages.h"
#include "resource.h"
#include "session.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>

#include <algorithm>

namespace {
qsizetype Count(const QList<CFleetJob*>& jobs, const std::function<bool(const CFleetJob&)>& pred)
{
    return std::count_if(jobs.begin(), jobs.end(), [&](const CFleetJob* pJob) { return pred(*pJob); });
}
} // namespace

AttemptEnd AttemptEnd::Of(const RequestResult& result)
{
    using EOutcome = RequestResult::EOutcome;
    if (result.outcome == EOutcome::Ok)
        return {};
    const bool bLost = result.outcome == EOutcome::NoResponse || result.outcome == EOutcome::SendFailed;
    return {bLost ? EKind::Lost : EKind::Failed, FailureText(result)};
}

void CFleetJob::Settle(const QString& strError)
{
    // A job a signal stopped stays so, unless it turns out to have succeeded.
    if (!strError.isEmpty() && m_eState == EState::Interrupted) {
        m_strError = strError;
        return;
    }
    m_eState = strError.isEmpty() ? EState::Succeeded : EState::Failed;
    m_strError = strError;
}

QString FailureText(const RequestResult& result)
{
    using EOutcome = RequestResult::EOutcome;
    return result.outcome == EOutcome::Status       ? Text(StatusTextId(result.nStatus))
           : result.outcome == EOutcome::NoResponse ? Text(IDS_NO_RESPONSE)
                                                    : Text(IDS_SEND_ERROR);
}

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

void RefuseUnsafe(const QList<CFleetJob*>& jobs, bool bSharedIpOk)
{
    // Appliances on different interfaces may share an address.
    const auto key = [](const Appliance& a) { return a.strIp + QLatin1Char('%') + QString::number(a.nInterface); };
    QHash<QString, int> ipUse;
    for (const CFleetJob* pJob : jobs)
        ++ipUse[key(pJob->Target())];
    for (CFleetJob* pJob : jobs) {
        const Appliance& a = pJob->Target();
        if (pJob->Ended())
            continue;
        // Both texts come from the network: one names a file, the other
        // is where the request goes.
        if (CanonicalMac(a.strMac).isEmpty())
            pJob->Settle(QStringLiteral("the appliance reports a malformed MAC address"));
        else if (CanonicalIp(a.strIp).isEmpty())
            pJob->Settle(QStringLiteral("the appliance reports a malformed IP address"));
        // Replies are told apart by sender: two appliances on one address
        // could have each other's image taken for theirs.
        else if (!bSharedIpOk && ipUse.value(key(a)) > 1)
            pJob->Settle(QStringLiteral("another appliance answers from the same IP address"));
    }
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

void CFleetReporter::Summary(const QList<CFleetJob*>& jobs, const QString& strDoneText)
{
    Progress(jobs, true);
    if (m_options.bProgress)
        Err(QStringLiteral("\n"));
    const qsizetype nFailed = Count(jobs, [](const CFleetJob& job) { return !job.Succeeded(); });
    Err(QStringLiteral("%1: %2 of %3 appliances %4 in %5 s")
            .arg(m_options.strCommand)
            .arg(jobs.size() - nFailed)
            .arg(jobs.size())
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
}

bool CFleetReporter::SaveReport(const QList<CFleetJob*>& jobs, const QJsonArray& untouched) const
{
    if (m_options.strReport.isEmpty())
        return true;
    QJsonArray report;
    for (const CFleetJob* pJob : jobs) {
        QJsonObject entry = pJob->ReportEntry();
        if (pJob->State() == CFleetJob::EState::Interrupted)
            entry[QStringLiteral("outcome")] = QStringLiteral("interrupted");
        report.append(entry);
    }
    for (const QJsonValue& entry : untouched)
        report.append(entry);
    // Its directory may be the one backed up to, or above it, not made yet.
    QString strError = QStringLiteral("cannot make its directory");
    if (!MakeOwnerDirectory(QFileInfo(m_options.strReport).absolutePath()) ||
        SaveWholeFile(m_options.strReport, QJsonDocument(report).toJson(), strError) != FlashFileResult::Ok) {
        Note(QStringLiteral("cannot write the report %1: %2").arg(m_options.strReport, strError));
        return false;
    }
    return true;
}

CFleetRunner::CFleetRunner(CSession& session, const FleetOptions& options, CFleetReporter& reporter)
    : m_session(session), m_options(options), m_reporter(reporter)
{
}

int CFleetRunner::Run(const QList<CFleetJob*>& jobs)
{
    m_jobs = jobs;
    for (CFleetJob* pJob : jobs) {
        if (pJob->Ended())
            ++m_nEnded;
        else
            m_waiting.append(pJob);
    }
    CInterruption interruption;
    QObject::connect(&interruption, &CInterruption::Interrupted, &m_loop, [this](int n) { Interrupt(n); });
    StartMore();
    if (m_nEnded < m_jobs.size())
        m_loop.exec();
    return m_nSignal;
}

void CFleetRunner::StartMore()
{
    // One request per address at a time: replies are told apart by sender.
    for (qsizetype k = 0; k < m_waiting.size() && m_nInFlight < m_options.nParallel;) {
        CFleetJob* pJob = m_waiting[k];
        if (m_session.Busy(pJob->Target().strIp)) {
            ++k;
            continue;
        }
        m_waiting.remove(k);
        ++m_nInFlight;
        Begin(pJob);
    }
    if (m_nEnded == m_jobs.size())
        m_loop.quit();
}

void CFleetRunner::Begin(CFleetJob* pJob)
{
    pJob->m_eState = CFleetJob::EState::Running;
    ++pJob->m_nAttempts;
    pJob->Attempt(m_session, m_options,
                  {[this, pJob](const AttemptEnd& end) { OnEnd(pJob, end); }, [this] { StartMore(); }});
}

void CFleetRunner::OnEnd(CFleetJob* pJob, const AttemptEnd& end)
{
    using EKind = AttemptEnd::EKind;
    using EState = CFleetJob::EState;
    if (end.eKind == EKind::Succeeded) {
        Close(pJob, EState::Succeeded, {});
    } else if (end.eKind == EKind::Failed) {
        Close(pJob, EState::Failed, end.strError);
    } else if (m_nSignal) {
        Close(pJob, EState::Interrupted, end.strError);
    } else if (pJob->m_nAttempts > m_options.nRetries) {
        Close(pJob, EState::Failed, end.strError);
    } else if (!m_session.Busy(pJob->Target().strIp)) {
        Begin(pJob);
    } else {
        // Its address went to another job meanwhile: first in line once it is free.
        pJob->m_eState = EState::Waiting;
        --m_nInFlight;
        m_waiting.prepend(pJob);
    }
}

void CFleetRunner::Close(CFleetJob* pJob, CFleetJob::EState eState, const QString& strError)
{
    pJob->m_eState = eState;
    pJob->m_strError = strError;
    ++m_nEnded;
    --m_nInFlight;
    m_reporter.Progress(m_jobs, false);
    StartMore();
}

void CFleetRunner::Interrupt(int nSignal)
{
    m_nSignal = nSignal;
    if (m_options.bProgress)
        Err(QStringLiteral("\n"));
    Note(QStringLiteral("signal %1: starting nothing new, waiting for the %2 appliances in progress (again to end at "
                        "once)")
             .arg(nSignal)
             .arg(m_nInFlight));
    for (CFleetJob* pJob : std::as_const(m_waiting)) {
        pJob->m_eState = CFleetJob::EState::Interrupted;
        if (pJob->m_strError.isEmpty())
            pJob->m_strError = QStringLiteral("interrupted before it was done");
        ++m_nEnded;
    }
    m_waiting.clear();
    if (m_nEnded == m_jobs.size())
        m_loop.quit();
}

int RunFleet(CSession& session, const FleetOptions& options, const QList<CFleetJob*>& jobs,
             const std::function<QString()>& doneText, const std::function<void()>& afterAll,
             const QJsonArray& untouched)
{
    CFleetReporter reporter(options);
    const int nSignal = CFleetRunner(session, options, reporter).Run(jobs);
    if (afterAll)
        afterAll();
    reporter.Summary(jobs, doneText());
    const bool bSaved = reporter.SaveReport(jobs, untouched);
    if (nSignal) {
        Note(QStringLiteral("interrupted by signal %1: %2 appliances not done")
                 .arg(nSignal)
                 .arg(Count(jobs, [](const CFleetJob& job) { return job.State() == CFleetJob::EState::Interrupted; })));
        return 128 + nSignal;
    }
    if (!bSaved)
        return EXIT_FILE;
    return std::all_of(jobs.begin(), jobs.end(), [](const CFleetJob* pJob) { return pJob->Succeeded(); })
               ? EXIT_OK
               : EXIT_SOME_FAILED;
}

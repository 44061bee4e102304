#include "fleet.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "interruption.h"
#include "messages.h"
#include "resource.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

CFleet::CFleet(CSession& session, const FleetOptions& options) : m_session(session), m_options(options) {}

CFleet::~CFleet() = default;

bool CFleet::MakeDirectory(const QString& strDir)
{
    const QString strPath = QDir::cleanPath(QFileInfo(strDir).absoluteFilePath());
    if (QFileInfo(strPath).isDir())
        return true;
    const QString strParent = QFileInfo(strPath).path();
    // The images in it hold passwords: not even their names are shown to others.
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    return strParent != strPath && MakeDirectory(strParent) &&
           (QDir().mkdir(strPath, ownerOnly) || QFileInfo(strPath).isDir());
}

qsizetype CFleet::Add(const Appliance& appliance)
{
    Entry entry;
    entry.appliance = appliance;
    m_entries.append(entry);
    return m_entries.size() - 1;
}

void CFleet::RefuseUnsafe(bool bSharedIpOk)
{
    // Appliances on different interfaces may share an address.
    const auto key = [](const Appliance& a) { return a.strIp + QLatin1Char('%') + QString::number(a.nInterface); };
    QHash<QString, int> ipUse;
    for (const Entry& entry : m_entries)
        ++ipUse[key(entry.appliance)];
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const Appliance& a = m_entries[i].appliance;
        if (m_entries[i].bDone)
            continue;
        // Both texts come from the network: one names a file, the other
        // is where the request goes.
        if (CanonicalMac(a.strMac).isEmpty())
            Fail(i, QStringLiteral("the appliance reports a malformed MAC address"));
        else if (CanonicalIp(a.strIp).isEmpty())
            Fail(i, QStringLiteral("the appliance reports a malformed IP address"));
        // Replies are told apart by sender: two appliances on one address
        // could have each other's image taken for theirs.
        else if (!bSharedIpOk && ipUse.value(key(a)) > 1)
            Fail(i, QStringLiteral("another appliance answers from the same IP address"));
    }
}

int CFleet::Run()
{
    m_clock.start();
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        if (!m_entries[i].bDone)
            m_waiting.append(i);
    m_bRunning = true;
    {
        CInterruption interruption;
        QObject::connect(&interruption, &CInterruption::Interrupted, &m_loop, [this](int n) { Interrupt(n); });
        StartMore();
        if (m_nDone < m_entries.size())
            m_loop.exec();
    }
    m_bRunning = false;
    AfterAll();
    Progress(true);
    if (m_options.bProgress)
        Err(QStringLiteral("\n"));

    const double dSeconds = double(m_clock.elapsed()) / 1000.0;
    Err(QStringLiteral("%1: %2 of %3 appliances %4 in %5 s")
            .arg(m_options.strCommand)
            .arg(m_nDone - m_nFailed)
            .arg(m_entries.size())
            .arg(DoneText())
            .arg(dSeconds, 0, 'f', 1) +
        (m_nFailed ? QStringLiteral("; %1 failed:\n").arg(m_nFailed) : QStringLiteral("\n")));
    for (const Entry& entry : m_entries)
        if (!entry.bOk)
            Err(entry.appliance.strIp.isEmpty()
                    ? QStringLiteral("  %1: %2\n").arg(entry.appliance.strMac, entry.strError)
                    : QStringLiteral("  %1 (%2): %3\n").arg(entry.appliance.strMac, entry.appliance.strIp, entry.strError));

    const bool bSaved = SaveReport();
    if (m_nSignal) {
        Note(QStringLiteral("interrupted by signal %1: %2 appliances not done").arg(m_nSignal).arg(
            std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& e) { return e.bInterrupted; })));
        return 128 + m_nSignal;
    }
    if (!bSaved)
        return EXIT_FILE;
    return m_nFailed ? EXIT_SOME_FAILED : EXIT_OK;
}

void CFleet::Interrupt(int nSignal)
{
    m_nSignal = nSignal;
    if (m_options.bProgress)
        Err(QStringLiteral("\n"));
    Note(QStringLiteral("signal %1: starting nothing new, waiting for the %2 appliances in progress (again to end at "
                        "once)")
             .arg(nSignal)
             .arg(m_nInFlight));
    for (const qsizetype i : std::as_const(m_waiting)) {
        Entry& entry = m_entries[i];
        entry.bInterrupted = entry.bDone = true;
        if (entry.strError.isEmpty())
            entry.strError = QStringLiteral("interrupted before it was done");
        ++m_nDone;
        ++m_nFailed;
    }
    m_waiting.clear();
    if (m_nDone == m_entries.size())
        m_loop.quit();
}

void CFleet::StartMore()
{
    if (!m_bRunning)
        return;
    // One request per address at a time: replies are told apart by sender.
    for (qsizetype k = 0; k < m_waiting.size() && m_nInFlight < m_options.nParallel;) {
        const qsizetype i = m_waiting[k];
        if (m_session.Busy(m_entries[i].appliance.strIp)) {
            ++k;
            continue;
        }
        m_waiting.remove(k);
        ++m_nInFlight;
        Attempt(i);
    }
    if (m_nDone == m_entries.size())
        m_loop.quit();
}

void CFleet::Attempt(qsizetype i)
{
    ++m_entries[i].nAttempts;
    Start(i);
}

bool CFleet::RetryLost(qsizetype i, const RequestResult& result)
{
    using EOutcome = RequestResult::EOutcome;
    return (result.outcome == EOutcome::NoResponse || result.outcome == EOutcome::SendFailed) && Retry(i);
}

bool CFleet::Retry(qsizetype i)
{
    Entry& entry = m_entries[i];
    if (m_nSignal)
        entry.bInterrupted = true;
    if (entry.nAttempts > m_options.nRetries || m_nSignal)
        return false;
    if (!m_session.Busy(entry.appliance.strIp)) {
        Attempt(i);
        return true;
    }
    // Its address went to another job meanwhile: first in line once it is free.
    --m_nInFlight;
    m_waiting.prepend(i);
    return true;
}

QString CFleet::FailureText(const RequestResult& result)
{
    using EOutcome = RequestResult::EOutcome;
    return result.outcome == EOutcome::Status       ? Text(StatusTextId(result.nStatus))
           : result.outcome == EOutcome::NoResponse ? Text(IDS_NO_RESPONSE)
                                                    : Text(IDS_SEND_ERROR);
}

void CFleet::Succeed(qsizetype i)
{
    m_entries[i].bOk = true;
    Finish(i);
}

void CFleet::Fail(qsizetype i, const QString& strError)
{
    m_entries[i].strError = strError;
    ++m_nFailed;
    Finish(i);
}

void CFleet::Revise(qsizetype i, const QString& strError)
{
    Entry& entry = m_entries[i];
    m_nFailed += int(entry.bOk) - int(strError.isEmpty());
    entry.bOk = strError.isEmpty();
    entry.strError = strError;
}

void CFleet::Finish(qsizetype i)
{
    Entry& entry = m_entries[i];
    entry.bDone = true;
    ++m_nDone;
    if (!m_bRunning)
        return;
    --m_nInFlight;
    Progress(false);
    StartMore();
}

void CFleet::Progress(bool bForce)
{
    if (!m_options.bProgress)
        return;
    const qint64 nNow = m_clock.elapsed();
    if (!bForce && nNow - m_nLastProgressMs < 100)
        return;
    m_nLastProgressMs = nNow;
    const double dRate = nNow > 0 ? m_nDone * 1000.0 / double(nNow) : 0;
    Err(QStringLiteral("\r%1: %2/%3 done, %4 failed, %5/s ")
            .arg(m_options.strCommand)
            .arg(m_nDone)
            .arg(m_entries.size())
            .arg(m_nFailed)
            .arg(dRate, 0, 'f', 1));
}

bool CFleet::SaveReport() const
{
    if (m_options.strReport.isEmpty())
        return true;
    QJsonArray report;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        QJsonObject entry = ReportEntry(i);
        if (m_entries[i].bInterrupted && !m_entries[i].bOk)
            entry[QStringLiteral("outcome")] = QStringLiteral("interrupted");
        report.append(entry);
    }
    for (const QJsonValue& entry : m_untouched)
        report.append(entry);
    // Its directory may be the one backed up to, or above it, not made yet.
    QString strError = QStringLiteral("cannot make its directory");
    if (!MakeDirectory(QFileInfo(m_options.strReport).absolutePath()) ||
        SaveWholeFile(m_options.strReport, QJsonDocument(report).toJson(), strError) != FlashFileResult::Ok) {
        Note(QStringLiteral("cannot write the report %1: %2").arg(m_options.strReport, strError));
        return false;
    }
    return true;
}

#include "fleetbackup.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "messages.h"
#include "resource.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>

CFleetBackup::CFleetBackup(CSession& session, const FleetOptions& options) : m_session(session), m_options(options)
{
    m_writers.setMaxThreadCount(options.nParallel);
}

QString CFleetBackup::FileName(const QString& strMac)
{
    return CanonicalMac(strMac).replace(QLatin1Char(':'), QLatin1Char('-')) + QStringLiteral(".cfg");
}

bool CFleetBackup::MakeDirectory(const QString& strDir)
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

int CFleetBackup::Run(const QList<Appliance>& appliances)
{
    m_clock.start();
    // Appliances on different interfaces may share an address.
    const auto key = [](const Appliance& a) { return a.strIp + QLatin1Char('%') + QString::number(a.nInterface); };
    QHash<QString, int> ipUse;
    for (const Appliance& a : appliances)
        ++ipUse[key(a)];
    for (const Appliance& a : appliances) {
        Entry entry;
        entry.appliance = a;
        m_entries.append(entry);
    }
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const Appliance& a = m_entries[i].appliance;
        // Both texts come from the network: one names a file, the other
        // is where the request goes.
        if (CanonicalMac(a.strMac).isEmpty())
            Fail(i, QStringLiteral("the appliance reports a malformed MAC address"));
        else if (CanonicalIp(a.strIp).isEmpty())
            Fail(i, QStringLiteral("the appliance reports a malformed IP address"));
        // Replies are told apart by sender: two appliances on one address
        // could have each other's image saved under their name.
        else if (ipUse.value(key(a)) > 1)
            Fail(i, QStringLiteral("another appliance answers from the same IP address"));
    }
    StartMore();
    if (m_nDone < m_entries.size())
        m_loop.exec();
    Progress(true);
    if (m_options.bProgress)
        Err(QStringLiteral("\n"));

    const double dSeconds = double(m_clock.elapsed()) / 1000.0;
    Err(QStringLiteral("backup-all: %1 of %2 appliances backed up to %3 in %4 s")
            .arg(m_nDone - m_nFailed)
            .arg(m_entries.size())
            .arg(QDir::toNativeSeparators(m_options.strDir))
            .arg(dSeconds, 0, 'f', 1) +
        (m_nFailed ? QStringLiteral("; %1 failed:\n").arg(m_nFailed) : QStringLiteral("\n")));
    for (const Entry& entry : m_entries)
        if (!entry.bOk)
            Err(QStringLiteral("  %1 (%2): %3\n").arg(entry.appliance.strMac, entry.appliance.strIp, entry.strError));

    if (!SaveReport())
        return EXIT_FILE;
    return m_nFailed ? EXIT_SOME_FAILED : EXIT_OK;
}

void CFleetBackup::StartMore()
{
    // One request per address at a time: replies are told apart by sender.
    for (qsizetype i = m_nNext; i < m_entries.size() && m_nInFlight < m_options.nParallel; ++i) {
        Entry& entry = m_entries[i];
        if (!entry.bStarted && entry.strError.isEmpty() && !m_session.Busy(entry.appliance.strIp)) {
            entry.bStarted = true;
            ++m_nInFlight;
            Attempt(i);
        }
        if (i == m_nNext && (entry.bStarted || !entry.strError.isEmpty()))
            ++m_nNext;
    }
    if (m_nDone == m_entries.size())
        m_loop.quit();
}

void CFleetBackup::Attempt(qsizetype i)
{
    Entry& entry = m_entries[i];
    ++entry.nAttempts;
    const DeviceRequest request{DM_GET_FLASHINFO, m_options.strPassword, entry.appliance.strIp,
                                entry.appliance.nInterface, {}, {}, {}};
    m_session.Start(request, m_options.nTimeoutMs, [this, i](const RequestResult& result) { OnResult(i, result); });
}

void CFleetBackup::OnResult(qsizetype i, const RequestResult& result)
{
    Entry& entry = m_entries[i];
    using EOutcome = RequestResult::EOutcome;
    if ((result.outcome == EOutcome::NoResponse || result.outcome == EOutcome::SendFailed) &&
        entry.nAttempts <= m_options.nRetries) {
        Attempt(i);
        return;
    }
    if (result.outcome != EOutcome::Ok) {
        --m_nInFlight;
        Fail(i, result.outcome == EOutcome::Status       ? Text(StatusTextId(result.nStatus))
                : result.outcome == EOutcome::NoResponse ? Text(IDS_NO_RESPONSE)
                                                         : Text(IDS_SEND_ERROR));
        Progress(false);
        StartMore();
        return;
    }
    // Each file is synced to disk before it takes its name, which takes
    // milliseconds: on the pool, the other appliances' requests go on
    // meanwhile. The appliance keeps its place among the parallel ones until
    // its file is written, which bounds the images held in memory.
    const QString strPath = QDir(m_options.strDir).filePath(FileName(entry.appliance.strMac));
    entry.sha256 = QCryptographicHash::hash(result.image, QCryptographicHash::Sha256).toHex();
    m_writers.start([this, i, strPath, image = result.image] {
        QString strError;
        const FlashFileResult saved =
            SaveFlashInfoFile(strPath, reinterpret_cast<const unsigned char*>(image.constData()), strError);
        QMetaObject::invokeMethod(
            &m_loop, [this, i, strPath, saved, strError] { OnSaved(i, strPath, saved, strError); },
            Qt::QueuedConnection);
    });
}

void CFleetBackup::OnSaved(qsizetype i, const QString& strPath, FlashFileResult saved, const QString& strError)
{
    Entry& entry = m_entries[i];
    --m_nInFlight;
    if (saved == FlashFileResult::Ok) {
        entry.bOk = true;
        entry.strFile = strPath;
        ++m_nDone;
    } else {
        const QString strReason =
            saved == FlashFileResult::OpenError ? Text(IDS_FILE_OPEN_ERROR) + QStringLiteral(": ") + strError : strError;
        Fail(i, QStringLiteral("cannot write %1: %2").arg(strPath, strReason));
    }
    Progress(false);
    StartMore();
}

void CFleetBackup::Fail(qsizetype i, const QString& strError)
{
    m_entries[i].strError = strError;
    ++m_nFailed;
    ++m_nDone;
}

void CFleetBackup::Progress(bool bForce)
{
    if (!m_options.bProgress)
        return;
    const qint64 nNow = m_clock.elapsed();
    if (!bForce && nNow - m_nLastProgressMs < 100)
        return;
    m_nLastProgressMs = nNow;
    const double dRate = nNow > 0 ? m_nDone * 1000.0 / double(nNow) : 0;
    Err(QStringLiteral("\rbackup-all: %1/%2 done, %3 failed, %4/s ")
            .arg(m_nDone)
            .arg(m_entries.size())
            .arg(m_nFailed)
            .arg(dRate, 0, 'f', 1));
}

bool CFleetBackup::SaveReport() const
{
    if (m_options.strReport.isEmpty())
        return true;
    QJsonArray report;
    for (const Entry& entry : m_entries) {
        report.append(QJsonObject{
            {"mac", entry.appliance.strMac},
            {"ip", entry.appliance.strIp},
            {"serial", entry.appliance.strSerial},
            {"file", entry.bOk ? QJsonValue(entry.strFile) : QJsonValue()},
            {"bytes", entry.bOk ? FLASHINFO_SIZE : 0},
            {"sha256", entry.bOk ? QJsonValue(QString::fromLatin1(entry.sha256)) : QJsonValue()},
            {"outcome", entry.bOk ? QStringLiteral("ok") : QStringLiteral("failed")},
            {"attempts", entry.nAttempts},
            {"error", entry.bOk ? QJsonValue() : QJsonValue(entry.strError)},
        });
    }
    // Its directory may be the one backed up to, or above it, not made yet.
    QString strError = QStringLiteral("cannot make its directory");
    if (!MakeDirectory(QFileInfo(m_options.strReport).absolutePath()) ||
        SaveWholeFile(m_options.strReport, QJsonDocument(report).toJson(), strError) != FlashFileResult::Ok) {
        Note(QStringLiteral("cannot write the report %1: %2").arg(m_options.strReport, strError));
        return false;
    }
    return true;
}

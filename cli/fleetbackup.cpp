#include "fleetbackup.h"

#include "flashinfofile.h"
#include "resource.h"
#include "stringtable.h"
#include "targets.h"

#include <QCryptographicHash>
#include <QDir>

CFleetBackup::CFleetBackup(CSession& session, const FleetOptions& options, const QString& strDir)
    : CFleet(session, options), m_strDir(strDir)
{
    m_writers.setMaxThreadCount(options.nParallel);
}

CFleetBackup::~CFleetBackup()
{
    m_writers.waitForDone();
}

QString CFleetBackup::FileName(const QString& strMac)
{
    return CanonicalMac(strMac).replace(QLatin1Char(':'), QLatin1Char('-')) + QStringLiteral(".cfg");
}

int CFleetBackup::Run(const QList<Appliance>& appliances)
{
    for (const Appliance& a : appliances)
        Add(a);
    m_saved.resize(m_entries.size());
    RefuseUnsafe(false);
    return CFleet::Run();
}

QString CFleetBackup::DoneText() const
{
    return QStringLiteral("backed up to ") + QDir::toNativeSeparators(m_strDir);
}

void CFleetBackup::Start(qsizetype i)
{
    const Appliance& a = m_entries[i].appliance;
    const DeviceRequest request{DM_GET_FLASHINFO, m_options.strPassword, a.strIp, a.nInterface, {}, {}, {}};
    m_session.Start(request, m_options.nTimeoutMs, [this, i](const RequestResult& result) { OnResult(i, result); });
}

void CFleetBackup::OnResult(qsizetype i, const RequestResult& result)
{
    if (RetryLost(i, result))
        return;
    if (result.outcome != RequestResult::EOutcome::Ok) {
        Fail(i, FailureText(result));
        return;
    }
    // Each file is synced to disk before it takes its name, which takes
    // milliseconds: on the pool, the other appliances' requests go on
    // meanwhile. The appliance keeps its place among the parallel ones until
    // its file is written, which bounds the images held in memory.
    const QString strPath = QDir(m_strDir).filePath(FileName(m_entries[i].appliance.strMac));
    m_saved[i].sha256 = QCryptographicHash::hash(result.image, QCryptographicHash::Sha256).toHex();
    m_writers.start([this, i, strPath, image = result.image] {
        QString strError;
        const FlashFileResult saved =
            SaveFlashInfoFile(strPath, reinterpret_cast<const unsigned char*>(image.constData()), strError);
        QMetaObject::invokeMethod(
            &m_context, [this, i, strPath, saved, strError] { OnSaved(i, strPath, saved, strError); },
            Qt::QueuedConnection);
    });
}

void CFleetBackup::OnSaved(qsizetype i, const QString& strPath, FlashFileResult saved, const QString& strError)
{
    if (saved == FlashFileResult::Ok) {
        m_saved[i].strFile = strPath;
        Succeed(i);
        return;
    }
    const QString strReason =
        saved == FlashFileResult::OpenError ? Text(IDS_FILE_OPEN_ERROR) + QStringLiteral(": ") + strError : strError;
    Fail(i, QStringLiteral("cannot write %1: %2").arg(strPath, strReason));
}

QJsonObject CFleetBackup::ReportEntry(qsizetype i) const
{
    const Entry& entry = m_entries[i];
    const Saved& saved = m_saved.value(i);
    return QJsonObject{
        {"mac", entry.appliance.strMac},
        {"ip", entry.appliance.strIp},
        {"serial", entry.appliance.strSerial},
        {"file", entry.bOk ? QJsonValue(saved.strFile) : QJsonValue()},
        {"bytes", entry.bOk ? FLASHINFO_SIZE : 0},
        {"sha256", entry.bOk ? QJsonValue(QString::fromLatin1(saved.sha256)) : QJsonValue()},
        {"outcome", entry.bOk ? QStringLiteral("ok") : QStringLiteral("failed")},
        {"attempts", entry.nAttempts},
        {"error", entry.bOk ? QJsonValue() : QJsonValue(entry.strError)},
    };
}

// CFleetBackup: `norvane backup-all`, the configuration image of many
// appliances saved to one directory, over CFleet (fleet.h).
#pragma once

#include "fleet.h"
#include "flashinfofile.h"

#include <QByteArray>
#include <QThreadPool>

class CFleetBackup : public CFleet {
public:
    CFleetBackup(CSession& session, const FleetOptions& options, const QString& strDir);
    ~CFleetBackup() override;

    // Backs up every appliance of the list; returns the exit code.
    int Run(const QList<Appliance>& appliances);

    // The file an appliance's image goes to: its MAC in upper case with
    // dashes, whatever form the appliance writes it in, then .cfg.
    static QString FileName(const QString& strMac);

private:
    struct Saved {
        QString strFile;
        QByteArray sha256;
    };

    void Start(qsizetype i) override;
    QJsonObject ReportEntry(qsizetype i) const override;
    QString DoneText() const override;
    void OnResult(qsizetype i, const RequestResult& result);
    void OnSaved(qsizetype i, const QString& strPath, FlashFileResult saved, const QString& strError);

    QString m_strDir;
    QList<Saved> m_saved; // by entry
    QObject m_context;    // where the writers hand their results back
    QThreadPool m_writers; // declared after what its tasks use: waited for first
};

// CFleetBackup: `norvane backup-all`, the configuration image of many
// appliances saved to one directory, a few at a time, re-asking an appliance
// whose reply was lost.
#pragma once

#include "flashinfofile.h"
#include "session.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QThreadPool>

struct FleetOptions {
    QString strDir;
    QString strReport; // JSON report file; empty for none
    QString strPassword;
    int nParallel = 8;
    int nRetries = 2;
    int nTimeoutMs = 5000;
    bool bProgress = false; // a progress line on standard error
};

class CFleetBackup {
public:
    CFleetBackup(CSession& session, const FleetOptions& options);

    // Backs up every appliance of the list; returns the exit code.
    int Run(const QList<Appliance>& appliances);

    // Writes the report, when one is asked for; false, said on standard
    // error, when it cannot be. Run does it too.
    bool SaveReport() const;

    // The file an appliance's image goes to: its MAC in upper case with
    // dashes, whatever form the appliance writes it in, then .cfg.
    static QString FileName(const QString& strMac);

    // Makes the directory and its missing parents, each its owner's alone.
    static bool MakeDirectory(const QString& strDir);

private:
    struct Entry {
        Appliance appliance;
        QString strFile;
        int nAttempts = 0;
        bool bStarted = false;
        bool bOk = false;
        QString strError;
        QByteArray sha256;
    };

    void StartMore();
    void Attempt(qsizetype i);
    void OnResult(qsizetype i, const RequestResult& result);
    void OnSaved(qsizetype i, const QString& strPath, FlashFileResult saved, const QString& strError);
    void Fail(qsizetype i, const QString& strError);
    void Progress(bool bForce);

    CSession& m_session;
    FleetOptions m_options;
    QList<Entry> m_entries;
    qsizetype m_nNext = 0;
    int m_nInFlight = 0;
    int m_nDone = 0;
    int m_nFailed = 0;
    QEventLoop m_loop;
    QThreadPool m_writers; // declared after what its tasks use: waited for first
    QElapsedTimer m_clock;
    qint64 m_nLastProgressMs = -1000;
};

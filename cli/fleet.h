// CFleet: what the commands on many appliances share (backup-all,
// restore-all, provision). It runs one job per appliance, a few at a time
// and never two at once on one address (replies are told apart by sender),
// re-asks when a reply was lost, shows progress on a terminal, ends with a
// summary and writes the JSON report. A command derives from it and says
// what one job is. Told to stop by a signal, it starts nothing new, lets
// the jobs in flight end, and reports every appliance, the ones not done as
// interrupted.
#pragma once

#include "session.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

struct FleetOptions {
    QString strCommand; // the subcommand, heading the progress line and the summary
    QString strReport;  // JSON report file; empty for none
    QString strPassword;
    int nParallel = 8;
    int nRetries = 2;
    int nTimeoutMs = 5000;
    bool bProgress = false; // a progress line on standard error
};

class CFleet {
public:
    CFleet(CSession& session, const FleetOptions& options);
    virtual ~CFleet();

    // Runs the job of every appliance added and not refused; returns the
    // exit code: 128 + the signal when one interrupted the run.
    int Run();

    // Refuses the appliances that report a malformed MAC or IP address and,
    // unless bSharedIpOk, those that answer from an address another one
    // answers from too.
    void RefuseUnsafe(bool bSharedIpOk);

    // Writes the report, when one is asked for; false, said on standard
    // error, when it cannot be. Run does it too.
    bool SaveReport() const;

    // Makes the directory and its missing parents, each its owner's alone.
    static bool MakeDirectory(const QString& strDir);

protected:
    struct Entry {
        Appliance appliance; // its strIp is where its job's first request goes
        int nAttempts = 0;
        bool bDone = false;
        bool bOk = false;
        bool bInterrupted = false; // ended, or never started, for a signal
        QString strError;
    };

    // Adds an appliance to work on; returns its index.
    qsizetype Add(const Appliance& appliance);

    // Starts (again) the job of entry i; it ends in Succeed or Fail.
    virtual void Start(qsizetype i) = 0;
    // The report's entry for entry i.
    virtual QJsonObject ReportEntry(qsizetype i) const = 0;
    // What the summary says of the appliances that succeeded ("backed up to DIR").
    virtual QString DoneText() const = 0;
    // Called once every job has ended, before the summary.
    virtual void AfterAll() {}

    void Succeed(qsizetype i);
    void Fail(qsizetype i, const QString& strError);
    // Another outcome for a job that has ended (AfterAll); an empty error
    // for a success.
    void Revise(qsizetype i, const QString& strError);
    // Starts the job again when its reply was lost and retries are left;
    // true when it did.
    bool RetryLost(qsizetype i, const RequestResult& result);
    // Starts the job again, as soon as its address is free; false when no
    // retry is left.
    bool Retry(qsizetype i);
    // Starts what may start now (a job's address may have become free).
    void StartMore();
    static QString FailureText(const RequestResult& result);

    CSession& m_session;
    FleetOptions m_options;
    QList<Entry> m_entries;
    QJsonArray m_untouched; // report entries of appliances left alone, after the jobs'

private:
    void Attempt(qsizetype i);
    void Finish(qsizetype i);
    void Progress(bool bForce);
    void Interrupt(int nSignal);

    QList<qsizetype> m_waiting; // in the order they start
    bool m_bRunning = false;
    int m_nInFlight = 0;
    int m_nDone = 0;
    int m_nFailed = 0;
    int m_nSignal = 0; // the signal that interrupted the run; 0 while none
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    qint64 m_nLastProgressMs = -1000;
};

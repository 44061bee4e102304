// Work on many appliances at once: backup-all, restore-all, provision.
//
// Each appliance is one job (CFleetJob), which carries its appliance, its
// own row or file, its attempts and its outcome from discovery to the
// report. CFleetRunner runs the jobs a few at a time, never two at once on
// one address (replies are told apart by sender), asks again when a reply
// was lost, and, told to stop by a signal, starts nothing new and lets what
// is in flight end. CFleetReporter (fleetreport.h) shows progress on a
// terminal, ends with the summary and writes the JSON report. A command
// makes the jobs, hands them to RunFleet, and says what its jobs' success
// is called.
#pragma once

#include "appliance.h"

#include <QEventLoop>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

class CInterruption;
class CSession;
struct RequestResult;

struct FleetOptions {
    QString strCommand; // the subcommand, heading the progress line and the summary
    QString strReport;  // JSON report file; empty for none
    QString strPassword;
    int nParallel = 8;
    int nRetries = 2;
    int nTimeoutMs = 5000;
    bool bProgress = false; // a progress line on standard error
};

// How one attempt of a job ended. Lost: a reply did not come, so the job
// is tried again while retries are left; Failed is final.
struct AttemptEnd {
    enum class EKind { Succeeded, Failed, Lost } eKind = EKind::Succeeded;
    QString strError;

    static AttemptEnd Of(const RequestResult& result);
};

class CFleetJob {
public:
    enum class EState { Waiting, Running, Succeeded, Failed, Interrupted };

    explicit CFleetJob(const Appliance& appliance) : m_appliance(appliance) {}
    virtual ~CFleetJob() = default;
    CFleetJob(const CFleetJob&) = delete;
    CFleetJob& operator=(const CFleetJob&) = delete;

    // Its strIp is where the job's first request goes; empty when no
    // appliance answered for it.
    const Appliance& Target() const { return m_appliance; }
    EState State() const { return m_eState; }
    bool Ended() const { return m_eState >= EState::Succeeded; }
    bool Succeeded() const { return m_eState == EState::Succeeded; }
    int Attempts() const { return m_nAttempts; }
    const QString& Error() const { return m_strError; }
    // Whether it ended on a failure that asking again cannot mend (the
    // appliance said no: a wrong password, say), not on silence.
    bool Refused() const { return m_bRefused; }

    // Ends the job with this outcome, before it runs (not found, refused)
    // or after (revised once every job has ended); an empty error for a
    // success. An interrupted job that did not succeed stays interrupted.
    void Settle(const QString& strError);

    // Its entry in the report.
    virtual QJsonObject ReportEntry() const = 0;

    // What one attempt has at hand: its end is called once, when the
    // attempt is over; addressFree when the job's address may take the next
    // job before that (a change of address, once acknowledged).
    struct Calls {
        std::function<void(const AttemptEnd&)> end;
        std::function<void()> addressFree;
    };

protected:
    // Sends the job's request(s) for one attempt.
    virtual void Attempt(CSession& session, const FleetOptions& options, const Calls& calls) = 0;

    Appliance m_appliance;
    int m_nAttempts = 0;

private:
    friend class CFleetRunner;
    EState m_eState = EState::Waiting;
    QString m_strError;
    bool m_bRefused = false;
};

class CFleetRunner {
public:
    // progress is called each time a job ends.
    CFleetRunner(CSession& session, const FleetOptions& options, std::function<void()> progress);

    // Runs every job that has not ended; returns the signal that
    // interrupted the run, 0 when none did. The signals are taken by an
    // interruption of its own, or by the caller's where one is given.
    int Run(const QList<CFleetJob*>& jobs, CInterruption* pInterruption = nullptr);

private:
    void StartMore();
    void Begin(CFleetJob* pJob);
    void OnEnd(CFleetJob* pJob, const AttemptEnd& end);
    void Close(CFleetJob* pJob, CFleetJob::EState eState, const QString& strError);
    void Interrupt(int nSignal);

    CSession& m_session;
    FleetOptions m_options;
    std::function<void()> m_progress;
    QList<CFleetJob*> m_jobs;
    QList<CFleetJob*> m_waiting; // in the order they start
    int m_nInFlight = 0;
    qsizetype m_nEnded = 0;
    int m_nSignal = 0;
    QEventLoop m_loop;
};

// Refuses the jobs of appliances that report a malformed MAC or IP address
// and, unless bSharedIpOk, of those that answer from an address another one
// answers from too.
void RefuseUnsafe(const QList<CFleetJob*>& jobs, bool bSharedIpOk);

// The text of a request's failure, for the summary and the report.
QString FailureText(const RequestResult& result);

// The jobs of a command, as the runner takes them.
template <typename Jobs>
QList<CFleetJob*> JobList(const Jobs& jobs)
{
    QList<CFleetJob*> list;
    for (const auto& pJob : jobs)
        list.append(pJob.get());
    return list;
}

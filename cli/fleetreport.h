// How a fleet run is told: a progress line on a terminal, the summary on
// standard error and the JSON report; and RunFleet, the whole run of a
// command's jobs (fleet.h) from the first request to the exit code.
#pragma once

#include "fleet.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <functional>

// Entries of a run's appliances that no job was made for, each made only as
// it is written: the rows of a plan that nothing answered for may be half a
// million. Failed ones (such rows) count in the summary and the exit code;
// others (appliances left alone) are only in the report.
struct FleetRest {
    qsizetype nCount = 0;
    std::function<QJsonObject(qsizetype)> entry{};
    bool bFailed = false;
    // The whole report, when the command keeps an order of its own (a plan's,
    // row by row); else the jobs' entries, then the rest's.
    qsizetype nReported = 0;
    std::function<QJsonObject(qsizetype)> reported{};
};
// A job's entry in the report, as it ended.
QJsonObject ReportEntry(const CFleetJob& job);
// Appliances left alone, their entries made already.
FleetRest LeftAlone(const QJsonArray& entries);

class CFleetReporter {
public:
    explicit CFleetReporter(const FleetOptions& options);

    void Progress(const QList<CFleetJob*>& jobs, bool bForce);
    // The summary on standard error: how many succeeded, each that did not.
    void Summary(const QList<CFleetJob*>& jobs, const QString& strDoneText, const FleetRest& rest = {});
    // The report, when one is asked for: each job's entry, then the rest's.
    // False, said on standard error, when it cannot be written.
    bool SaveReport(const QList<CFleetJob*>& jobs, const FleetRest& rest = {}) const;

private:
    FleetOptions m_options;
    QElapsedTimer m_clock;
    qint64 m_nLastProgressMs = -1000;
};

// A run that ends before any job is: its report (none when no --report)
// says what was found, lest a previous run's stand. nExit, or EXIT_FILE
// when the report could not be written.
int EndUnrun(const FleetOptions& options, int nExit, const QList<CFleetJob*>& jobs = {}, const FleetRest& rest = {});

// The whole run: the jobs, then afterAll (when given), then the summary and
// the report. Returns the exit code: 128 + the signal when one interrupted
// the run, else EXIT_FILE when the report could not be written,
// EXIT_SOME_FAILED when a job did not succeed or the rest failed, EXIT_OK.
int RunFleet(CSession& session, const FleetOptions& options, const QList<CFleetJob*>& jobs,
             const std::function<QString()>& doneText, const std::function<void()>& afterAll = {},
             const FleetRest& rest = {});

// Makes the directory and its missing parents, each its owner's alone.
bool MakeOwnerDirectory(const QString& strDir);

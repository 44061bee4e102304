// How a fleet run is told: a progress line on a terminal, the summary on
// standard error and the JSON report; and RunFleet, the whole run of a
// command's jobs (fleet.h) from the first request to the exit code.
#pragma once

#include "fleet.h"

#include <QElapsedTimer>
#include <QJsonArray>

class CFleetReporter {
public:
    explicit CFleetReporter(const FleetOptions& options);

    void Progress(const QList<CFleetJob*>& jobs, bool bForce);
    // The summary on standard error: how many succeeded, each that did not.
    void Summary(const QList<CFleetJob*>& jobs, const QString& strDoneText);
    // The report, when one is asked for: each job's entry, then the
    // entries of appliances left alone. False, said on standard error, when
    // it cannot be written.
    bool SaveReport(const QList<CFleetJob*>& jobs, const QJsonArray& untouched = {}) const;

private:
    FleetOptions m_options;
    QElapsedTimer m_clock;
    qint64 m_nLastProgressMs = -1000;
};

// The whole run: the jobs, then afterAll (when given), then the summary and
// the report. Returns the exit code: 128 + the signal when one interrupted
// the run, else 10 when the report could not be written, 1 when a job did
// not succeed, 0.
int RunFleet(CSession& session, const FleetOptions& options, const QList<CFleetJob*>& jobs,
             const std::function<QString()>& doneText, const std::function<void()>& afterAll = {},
             const QJsonArray& untouched = {});

// Makes the directory and its missing parents, each its owner's alone.
bool MakeOwnerDirectory(const QString& strDir);

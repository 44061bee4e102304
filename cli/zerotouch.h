// CZeroTouch: provision --watch's rounds. Each planned appliance believed
// anywhere but at its planned address is moved there and checked, as
// provision moves one, at most --parallel at a time. Every change of the
// segment, and every move, is an event for the writer.
//
// Only what the watcher believes is acted on: an appliance that answered
// from the address it reports, two rounds running (watcher.h). One datagram
// names any MAC at any address, and a set-ip on its word would move an
// appliance already in place or chase one that is not there.
//
// An appliance is moved once in a run: seen elsewhere later, it is reported
// and left. One whose move goes unanswered is tried again on later rounds,
// --retries times, then reported and left; one the appliance refuses (a
// wrong password) is left at once, since asking again changes nothing.
// With --from, appliances that --match picks are numbered as they turn up;
// those already answering from an address of that range keep it, so a
// restarted unit renumbers nothing.
#pragma once

#include "fleet.h"
#include "provisionjob.h"
#include "watch.h"

#include <QHash>
#include <QSet>

#include <memory>
#include <vector>

struct CContext;
class CInterruption;

class CZeroTouch {
public:
    CZeroTouch(CContext& ctx, const ProvisionInput& in, CWatcher& watcher, CEventWriter& writer);

    // One discovery's appliances: the watcher's events, then the moves they
    // call for. False once the writer fails.
    bool Round(const QList<Appliance>& heard, CInterruption& interruption);

private:
    QString PlanNote(const Appliance& a) const;
    const PlanRow* RowOf(const Appliance& a, const QSet<QString>& taken, QList<WatchEvent>& refused);
    void MakeJobs(const QList<Appliance>& heard, std::vector<std::unique_ptr<CProvisionJob>>& jobs,
                  QList<WatchEvent>& refused);
    WatchEvent Failed(const Appliance& a, const QString& strError, int nFailures, bool bFinal) const;
    WatchEvent Outcome(const CProvisionJob& job);
    WatchEvent Failure(const Appliance& a, const QString& strError, bool bRefused = false);

    CContext& m_ctx;
    const ProvisionInput& m_in;
    CWatcher& m_watcher;
    CEventWriter& m_writer;
    FleetOptions m_runOptions;
    QHash<QString, PlanRow> m_plan; // by canonical MAC; with --from, filled as appliances turn up
    QHash<QString, int> m_failures; // failed moves, by MAC
    QSet<QString> m_moved, m_givenUp, m_unnumbered;
    quint32 m_nNext = 0; // --from: where numbering goes on
};

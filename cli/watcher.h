// CWatcher: a segment followed round by round, its changes as events. It
// holds no socket and no clock: each round hands it what a discovery heard.
//
// An appliance is believed where it answers from the address it reports,
// and only once two rounds running heard it so: a single reply is easily
// forged, and a flood of forged ones names a new MAC each time. Then
//   appeared  a MAC not present before (again, after it was gone)
//   moved     its address changed
//   changed   its serial changed
//   gone      it did not answer for nGoneAfter rounds running, so one lost
//             reply says nothing
#pragma once

#include "appliance.h"

#include <QHash>
#include <QJsonObject>
#include <QList>

struct WatchEvent {
    // Failed: a move of provision --watch that did not happen; Corrected:
    // its appliance put back at its planned address (--correct-drift).
    enum class EKind { Appeared, Moved, Changed, Gone, Failed, Corrected } eKind = EKind::Appeared;
    Appliance appliance;       // as heard last
    QString strPreviousIp;     // of Moved
    QString strPreviousSerial; // of Changed
    QJsonObject extra;         // keys a command adds (provision --watch)
};

class CWatcher {
public:
    explicit CWatcher(int nGoneAfter) : m_nGoneAfter(nGoneAfter) {}
    // --gone-after read again (a reload).
    void SetGoneAfter(int nGoneAfter) { m_nGoneAfter = nGoneAfter; }

    // One round's appliances, as a discovery gathered them; its events, in
    // MAC order, gone ones last.
    QList<WatchEvent> Round(const QList<Appliance>& heard);
    // Where a change of ours put it, verified there, or where the run before
    // a restart believed it: believed at once, without an event.
    void Place(const Appliance& appliance);

    // The appliances believed present, by MAC.
    QList<Appliance> Present() const;
    // Those of them that answered the last round: what may be acted on.
    QList<Appliance> Answering() const;
    // Whether a claim heard last round still waits for its second one.
    bool Waiting() const { return !m_heardOnce.isEmpty(); }
    // Replies so far that came from another address than the one they report.
    quint64 Unproven() const { return m_nUnproven; }

private:
    struct Known {
        Appliance appliance;
        int nMissed = 0; // rounds running without an answer
    };

    int m_nGoneAfter;
    QHash<QString, Known> m_known;         // by strMacKey
    QHash<QString, Appliance> m_heardOnce; // new claims of the last round
    quint64 m_nUnproven = 0;
};

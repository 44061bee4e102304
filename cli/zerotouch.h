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
//
// With --correct-drift, an appliance it moved that is later believed
// elsewhere (moved by hand) is put back at its planned address, at most
// CORRECTIONS_PER_HOUR times in any hour, each an event of its own.
//
// What it has done outlives the run through Done and Restore (a --state
// file): a restart moves nothing twice and renumbers nothing. A reload
// (Replan) keeps the same promises with the plan read again.
//
// CZeroTouch decides; what it decides goes out by the Send it is handed
// (SendMoves over the session, in a run), so that its rounds can be played
// without a network.
#pragma once

#include "provisioninput.h"
#include "watcher.h"

#include <QHash>
#include <QSet>

#include <functional>

struct CContext;
class CInterruption;
class CSession;

// A move a round calls for: the appliance as believed, to its row's address.
struct ZeroTouchMove {
    Appliance target;
    PlanRow row;
    bool bCorrection = false; // back where it was put (--correct-drift)
};

// What a run has done that the next one keeps, by MAC key: the address it
// moved an appliance to, or (--from) numbered it with, and when it put it
// back there (ms since the epoch).
struct ZeroTouchDone {
    QString strMacKey;
    QString strIp;
    bool bMoved = false;
    bool bNumbered = false;
    QList<qint64> corrections;
};

constexpr int CORRECTIONS_PER_HOUR = 3;

// How a move ended. Failed: no answer, or none that it moved, so a later
// round may try again; Refused: the appliance said no (a wrong password).
struct MoveEnd {
    enum class EKind { Moved, Failed, Refused, Interrupted } eKind = EKind::Moved;
    QString strError;
    int nAttempts = 0;
};

// The moves sent as provision sends them, each tried once (a lost reply is
// asked again on a later round, not at once); their ends in their order.
QList<MoveEnd> SendMoves(CSession& session, const FleetOptions& options, const QList<ZeroTouchMove>& moves,
                         CInterruption& interruption);

class CZeroTouch {
public:
    // write takes each event, false when it could not be written; send
    // takes a round's moves.
    using Write = std::function<bool(const WatchEvent&)>;
    using Send = std::function<QList<MoveEnd>(const QList<ZeroTouchMove>&)>;
    // Milliseconds since the epoch.
    using Clock = std::function<qint64()>;

    CZeroTouch(const CContext& ctx, const ProvisionInput& in, CWatcher& watcher, Write write, Send send,
               Clock now = {});

    // One discovery's appliances: the watcher's events, then the moves they
    // call for. False once an event could not be written.
    bool Round(const QList<Appliance>& heard);

    QList<ZeroTouchDone> Done() const;
    // Taken back where the plan still gives the appliance that address;
    // numbered rows where --from still could.
    void Restore(const QList<ZeroTouchDone>& done);
    // The plan and options read again (a reload). Appliances given up on
    // are tried afresh: the password or the plan may have been mended.
    void Replan(const CContext& ctx, const ProvisionInput& in);

private:
    // One appliance's story in this run: its row, and how its move went.
    struct Planned {
        // Unnumbered: --match picked it, but --from had no address left
        // for it; its row is empty.
        enum class EState { Waiting, Moved, GivenUp, Unnumbered };
        PlanRow row;
        int nFailures = 0; // failed moves
        EState eState = EState::Waiting;
        bool bNumbered = false;    // --from gave it row
        QList<qint64> corrections{}; // --correct-drift: when, within the last hour
    };

    void Plan(const CContext& ctx, const ProvisionInput& in);
    const PlanRow* PlannedRow(const QString& strMacKey) const;
    QString PlanNote(const Appliance& a) const;
    const PlanRow* RowToMove(const Appliance& a, const QSet<QString>& taken, QList<WatchEvent>& refused,
                             bool& bCorrection);
    QList<ZeroTouchMove> Moves(const QList<Appliance>& heard, QList<WatchEvent>& refused);
    WatchEvent Failed(const Appliance& a, const QString& strError, int nFailures, bool bFinal) const;
    WatchEvent Ended(const ZeroTouchMove& move, const MoveEnd& end);
    WatchEvent Failure(const Appliance& a, const QString& strError, bool bRefused = false);

    const CContext* m_pCtx;
    const ProvisionInput* m_pIn;
    CWatcher& m_watcher;
    Write m_write;
    Send m_send;
    Clock m_now;
    bool m_bCorrectDrift = false;
    QHash<QString, Planned> m_planned; // by MAC key; with --from, filled as appliances turn up
    quint32 m_nNext = 0;               // --from: where numbering goes on
};

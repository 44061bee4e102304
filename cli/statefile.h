// --state FILE: what a watch run knows, kept across restarts, so that a
// restarted service announces nothing it had announced and moves nothing it
// had moved. A JSON object, replaced whenever it changes, atomically and
// readable by its owner alone.
//
// A missing file, or one that is not what this program wrote, is a clean
// start with a warning: never a refusal to run, nor a guess at what a
// damaged one meant.
#pragma once

#include "appliance.h"
#include "zerotouch.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct WatchState {
    QList<Appliance> believed; // the watcher's appliances
    QList<ZeroTouchDone> done; // provision --watch
};

class CStateFile {
public:
    // strCommand names the run ("watch", "provision --watch"): one's state
    // is no state of the other's. No path: nothing is kept.
    CStateFile(QString strPath, QString strCommand);

    WatchState Load();
    void Save(const WatchState& state);

    // The text of a state, and a state from a text; false, with why, when
    // the text is not a state of this command.
    QByteArray Text(const WatchState& state) const;
    bool Parse(const QByteArray& text, WatchState& state, QString& strWhy) const;

private:
    QString m_strPath;
    QString m_strCommand;
    QByteArray m_written; // what the file holds, as far as this run knows
    bool m_bFailing = false;
};

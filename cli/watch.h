// What norvane watch and provision --watch share: a discovery every
// interval until a signal, and each event written as it comes, to standard
// output and to an optional report of JSON lines. As a service they read
// their options again when told (SIGUSR1), and keep what they know in a
// --state file across restarts.
#pragma once

#include "interruption.h"
#include "statefile.h"
#include "subcommands.h"
#include "watcher.h"

#include <QFile>

#include <functional>
#include <memory>


struct WatchOptions {
    int nIntervalMs = 5000;
    int nGoneAfter = 3;
    bool bJson = true; // JSON lines, else a line for people
};
// --interval, --gone-after and --format; JSON unless standard output is a
// terminal.
WatchOptions ReadWatchOptions(const CContext& ctx);

class CEventWriter {
public:
    explicit CEventWriter(bool bJson) : m_bJson(bJson) {}
    void SetJson(bool bJson) { m_bJson = bJson; }
    // The report, checked by CheckWritable: appended to, or made readable
    // by its owner alone; one open before is closed once this one is open
    // (a reload after the report was rotated). Ends the command when it
    // cannot be opened.
    void OpenReport(const QString& strPath);
    // False once standard output or the report could not be written: each
    // line is flushed as it goes, for whoever follows the output.
    bool Write(const WatchEvent& event);
    // Events written so far.
    quint64 Written() const { return m_nWritten; }

private:
    bool m_bJson;
    quint64 m_nWritten = 0;
    std::unique_ptr<QFile> m_pReport;
};

using WatchRound = std::function<bool(const QList<Appliance>&)>;

// RepeatDiscovery's answer when a reload is asked, between two rounds.
constexpr int RELOAD_ASKED = -1;

// Discovers, then hands what was heard to round, every nIntervalMs from the
// start of the last discovery, until round returns false or a signal comes
// (taken by interruption). Returns that signal; 0 for none.
int RepeatDiscovery(CContext& ctx, int nIntervalMs, int nWindowMs, CInterruption& interruption,
                    const WatchRound& round);

// A run of watch or provision --watch: its options, its events' writer with
// the report, its state file, and its rounds until a signal ends them.
class CWatchRun {
public:
    // strCommand names the run in its state file.
    CWatchRun(CContext& ctx, const QString& strCommand);

    CContext& Context() { return *m_pCtx; }
    const WatchOptions& Options() const { return m_options; }
    CEventWriter& Writer() { return m_writer; }
    // The run's signals: SIGUSR1 among them.
    CInterruption& Interruption() { return m_interruption; }

    // The state the last run left (--state), its appliances believed by
    // watcher at once; watcher is the run's, its --gone-after read again on
    // a reload.
    WatchState Resume(CWatcher& watcher);

    // Rounds of nWindowMs (a member of the context, read again with it)
    // until a signal; returns it. After a round that wrote an event, state
    // is kept in the --state file: nothing else changes what it holds. On
    // SIGUSR1 the command line and its options file are read again, and
    // reread takes the new context, or refuses it by Usage: the refusal is
    // said, and the run goes on as it was.
    using Reread = std::function<void(CContext&)>;
    int Run(int CContext::*pnWindowMs, const WatchRound& round, const std::function<WatchState()>& state,
            const Reread& reread = {});

private:
    void Reload(const Reread& reread);

    CContext* m_pCtx;
    std::unique_ptr<CContext> m_pReloaded;
    WatchOptions m_options;
    CEventWriter m_writer;
    CStateFile m_state;
    CWatcher* m_pWatcher = nullptr;
    CInterruption m_interruption{true};
};

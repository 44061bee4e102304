// What norvane watch and provision --watch share: a discovery every
// interval until a signal, and each event written as it comes, to standard
// output and to an optional report of JSON lines.
#pragma once

#include "subcommands.h"
#include "watcher.h"

#include <QFile>

#include <functional>

class CInterruption;

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
    // The report, checked by CheckWritable: appended to, or made readable
    // by its owner alone. Ends the command when it cannot be opened.
    void OpenReport(const QString& strPath);
    // False once standard output or the report could not be written: each
    // line is flushed as it goes, for whoever follows the output.
    bool Write(const WatchEvent& event);

private:
    bool m_bJson;
    QFile m_report;
};

// Discovers, then hands what was heard to round, every nIntervalMs from the
// start of the last discovery, until round returns false or a signal comes
// (taken by interruption). Returns that signal; 0 for none.
int RepeatDiscovery(CContext& ctx, int nIntervalMs, int nWindowMs, CInterruption& interruption,
                    const std::function<bool(const QList<Appliance>&)>& round);

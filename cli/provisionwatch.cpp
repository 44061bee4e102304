// norvane provision --watch: zero-touch (zerotouch.h), a discovery every
// --interval seconds as norvane watch runs it, each event on standard output
// and in the --report (JSON lines).
#include "subcommands.h"

#include "exitcodes.h"
#include "interruption.h"
#include "messages.h"
#include "provisioninput.h"
#include "steps.h"
#include "watch.h"
#include "zerotouch.h"

int RunProvisionWatch(CContext& ctx)
{
    if (ctx.IsSet("dry-run"))
        Usage(QStringLiteral("--dry-run and --watch do not go together: a dry run is one discovery"));
    const WatchOptions watch = ReadWatchOptions(ctx);
    ProvisionInput in = ReadProvisionInput(ctx);
    CEventWriter writer(watch.bJson);
    if (!in.options.strReport.isEmpty())
        writer.OpenReport(in.options.strReport);
    if (!in.bAllHavePasswords)
        in.options.strPassword = ReadPassword(ctx);
    CWatcher watcher(watch.nGoneAfter);
    CInterruption interruption;
    CZeroTouch zeroTouch(
        ctx, in, watcher, [&](const WatchEvent& event) { return writer.Write(event); },
        [&](const QList<ZeroTouchMove>& moves) { return SendMoves(*ctx.pSession, in.options, moves, interruption); });
    RepeatDiscovery(ctx, watch.nIntervalMs, ctx.nDiscoverMs, interruption,
                    [&](const QList<Appliance>& heard) { return zeroTouch.Round(heard); });
    return EXIT_OK;
}

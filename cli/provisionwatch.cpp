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

#include <memory>

int RunProvisionWatch(CContext& ctx)
{
    if (ctx.IsSet("dry-run"))
        Usage(QStringLiteral("--dry-run and --watch do not go together: a dry run is one discovery"));
    auto pIn = std::make_unique<ProvisionInput>(ReadProvisionInput(ctx));
    // Asked before the run takes the signals: Ctrl-C at a prompt ends it.
    if (!pIn->bAllHavePasswords)
        pIn->options.strPassword = ReadPassword(ctx);
    CWatchRun run(ctx, QStringLiteral("provision --watch"));
    CWatcher watcher(run.Options().nGoneAfter);
    CZeroTouch zeroTouch(
        ctx, *pIn, watcher, [&](const WatchEvent& event) { return run.Writer().Write(event); },
        [&](const QList<ZeroTouchMove>& moves) {
            return SendMoves(*run.Context().pSession, pIn->options, moves, run.Interruption());
        });
    zeroTouch.Restore(run.Resume(watcher).done);
    run.Run(
        &CContext::nDiscoverMs, [&](const QList<Appliance>& heard) { return zeroTouch.Round(heard); },
        [&] { return WatchState{watcher.Present(), zeroTouch.Done()}; },
        [&](CContext& reread) {
            // The plan read again, and the password from its file (the
            // command line's, the environment's and one typed at a prompt
            // stay as they were); taken only once all of it is read.
            auto pNew = std::make_unique<ProvisionInput>(ReadProvisionInput(reread));
            if (!pNew->bAllHavePasswords)
                pNew->options.strPassword = reread.IsSet("password-file") || pIn->bAllHavePasswords
                                                ? ReadPassword(reread)
                                                : pIn->options.strPassword;
            zeroTouch.Replan(reread, *pNew);
            pIn = std::move(pNew);
        });
    return EXIT_OK;
}

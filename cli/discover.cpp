// norvane discover: the appliances that answer, as a table, JSON or CSV.
#include "subcommands.h"

#include "exitcodes.h"
#include "messages.h"
#include "output.h"
#include "steps.h"
#include "terminal.h"

int RunDiscover(CContext& ctx)
{
    const int nRounds = CountOption(ctx, "rounds", 1, 1000);
    const QString strFormat = ctx.Value("format");
    if (strFormat != QLatin1String("table") && strFormat != QLatin1String("json") && strFormat != QLatin1String("csv"))
        Usage(QStringLiteral("--format takes table, json or csv"));
    const QList<Appliance> list = Discover(ctx, ctx.nTimeoutMs, nRounds);
    WarnSystemDrops(ctx);
    if (strFormat == QLatin1String("json"))
        Out(QString::fromUtf8(FormatJson(list)));
    else if (strFormat == QLatin1String("csv"))
        Out(QString::fromUtf8(FormatCsv(list)));
    else if (!list.isEmpty())
        Out(QString::fromUtf8(FormatTable(list)));
    if (list.isEmpty())
        Note(QStringLiteral("no appliance answered within %1 s").arg(ctx.nTimeoutMs / 1000.0));
    return EXIT_OK;
}

// norvane set-ip: a new address for the appliance with a MAC, then a check
// that it answers there.
#include "subcommands.h"

#include "exitcodes.h"
#include "messages.h"
#include "resource.h"
#include "steps.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <algorithm>

namespace {
const Appliance* FindMac(const QList<Appliance>& list, const QString& strMac)
{
    for (const Appliance& a : list)
        if (CanonicalMac(a.strMac) == strMac)
            return &a;
    return nullptr;
}

// The appliance may take a moment to move: ask every second until it
// answers from its new address or the time-out passes. One found by a
// sweep alone is asked at its new address, by unicast.
void Verify(CContext& ctx, const QString& strMac, const QString& strNewIp, bool bSwept)
{
    if (bSwept) {
        SweepOptions sweep;
        QString strError;
        sweep.ranges.Add(strNewIp, strError);
        sweep.bBroadcast = false;
        ctx.pSession->SetSweep(sweep);
    }
    QList<Appliance> list;
    const auto moved = [&](const QList<Appliance>& now) {
        const Appliance* p = FindMac(now, strMac);
        return p && p->strIp == strNewIp;
    };
    const int nRounds = std::max(1, (ctx.nTimeoutMs + 999) / 1000);
    ctx.pSession->Discover(std::min(1000, ctx.nTimeoutMs), nRounds, list, moved);
    if (moved(list)) {
        Out(QStringLiteral("%1 answers from %2\n").arg(strMac, strNewIp));
        return;
    }
    const Appliance* pSeen = FindMac(list, strMac);
    Fail(EXIT_NOT_VERIFIED,
         pSeen ? QStringLiteral("%1 still answers from %2, not %3").arg(strMac, pSeen->strIp, strNewIp)
               : QStringLiteral("%1 no longer answers discovery").arg(strMac));
}
} // namespace

int RunSetIp(CContext& ctx)
{
    const QString strMac = CanonicalMac(ctx.args[0]);
    if (strMac.isEmpty())
        Usage(QStringLiteral("not a MAC address: %1").arg(ctx.args[0]));
    const QString strNewIp = CheckIpText(ctx.args[1]);
    const QString strPassword = ReadPassword(ctx);

    // The request names the appliance by its MAC text exactly as it reports it.
    const auto found = [&](const QList<Appliance>& now) { return FindMac(now, strMac) != nullptr; };
    const QList<Appliance> list = Discover(ctx, ctx.nDiscoverMs, 1, found);
    const Appliance* pAppliance = FindMac(list, strMac);
    if (!pAppliance)
        Usage(QStringLiteral("no appliance answers for MAC %1").arg(strMac));

    // No broadcast crosses a router: an appliance that only the sweep found
    // is sent the change at its address.
    DeviceRequest request{DM_SET_IP, strPassword, pAppliance->strIp, 0, pAppliance->strMac, strNewIp, {}};
    request.bUnicast = pAppliance->FoundOnlyByScan();
    if (request.bUnicast)
        request.nInterface = pAppliance->nInterface;
    CheckOutcome(pAppliance->strIp, ctx.pSession->Run(request, ctx.nTimeoutMs));
    Out(Text(IDS_SET_IP_DONE) + QLatin1Char('\n'));
    if (!ctx.IsSet("no-verify"))
        Verify(ctx, strMac, strNewIp, request.bUnicast);
    return EXIT_OK;
}

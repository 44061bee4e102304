// norvane set-ip: a new address for the appliance with a MAC, then a check
// that it answers there (addresschange.h).
#include "subcommands.h"

#include "addresschange.h"
#include "exitcodes.h"
#include "interfaces.h"
#include "messages.h"
#include "resource.h"
#include "steps.h"
#include "stringtable.h"
#include "targets.h"
#include "terminal.h"

#include <QEventLoop>

namespace {
const Appliance* FindMac(const QList<Appliance>& list, const QString& strMac)
{
    for (const Appliance& a : list)
        if (a.strMacKey == strMac)
            return &a;
    return nullptr;
}
} // namespace

int RunSetIp(CContext& ctx)
{
    const QString strMac = CanonicalMac(ctx.args[0]);
    if (strMac.isEmpty())
        Usage(QStringLiteral("not a MAC address: %1").arg(ctx.args[0]));
    quint32 nNewIp = 0;
    if (const QString strWhy = NewIpRefusal(ctx.args[1], ctx.sweep.ranges, {}, &nNewIp); !strWhy.isEmpty())
        Usage(strWhy);
    const QString strNewIp = ctx.args[1];
    const QString strPassword = ReadPassword(ctx);

    // NEW_IP must be free: the discovery waits its whole window to hear
    // whether another appliance answers there. A broadcast reaches it only
    // on a local subnet; elsewhere it is asked by unicast too.
    if (!InLocalSubnet(QHostAddress(strNewIp))) {
        QString strError;
        ctx.sweep.ranges.Add(strNewIp, strError);
    }
    const auto occupant = [&](const QList<Appliance>& now) -> const Appliance* {
        for (const Appliance& a : now)
            if (a.strMacKey != strMac && ((a.bIp && a.nIp == nNewIp) || a.nFrom == nNewIp))
                return &a;
        return nullptr;
    };
    const auto taken = [&](const QList<Appliance>& now) { return occupant(now) != nullptr; };
    const QList<Appliance> list = Discover(ctx, ctx.nDiscoverMs, 1, taken);
    if (const Appliance* pOther = occupant(list))
        Usage(QStringLiteral("%1 already answers for another appliance, %2: %3 would clash with it; nothing was sent")
                  .arg(strNewIp, pOther->strMacKey.isEmpty() ? pOther->strMac : pOther->strMacKey, strMac));
    const Appliance* pAppliance = FindMac(list, strMac);
    if (!pAppliance)
        Usage(QStringLiteral("no appliance answers for MAC %1").arg(strMac));

    ChangeResult result;
    QEventLoop loop;
    ChangeAddress(*ctx.pSession, {*pAppliance, strNewIp, strPassword, !ctx.IsSet("no-verify")}, ctx.nTimeoutMs,
                  [&](const ChangeResult& changed) {
                      result = changed;
                      loop.quit();
                  });
    loop.exec();
    if (result.eStage == ChangeResult::EStage::NotAcknowledged)
        CheckOutcome(pAppliance->strIp, result.ack);
    Out(Text(IDS_SET_IP_DONE) + QLatin1Char('\n'));
    if (ctx.IsSet("no-verify"))
        return EXIT_OK;
    if (result.eStage == ChangeResult::EStage::NotVerified) {
        const auto moved = [&](const QList<Appliance>& seen) {
            const Appliance* p = FindMac(seen, strMac);
            return p && p->bIp && p->nIp == nNewIp;
        };
        const QList<Appliance> now = ctx.pSession->Discover(LookAgainMs(ctx.nTimeoutMs), 1, moved).appliances;
        if (const QString strWhy = WhyNotVerified(now, strMac, strNewIp); !strWhy.isEmpty())
            Fail(EXIT_NOT_VERIFIED, strWhy);
    }
    Out(QStringLiteral("%1 answers from %2\n").arg(strMac, strNewIp));
    return EXIT_OK;
}

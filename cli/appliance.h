// An appliance as a discovery found it: what it says of itself, where its
// reply came from, and how it was found. Plans, output and fleets know
// appliances by this alone.
#pragma once

#include "targets.h"

#include <QString>
#include <QStringList>

// Every member has an initializer, so that designated initializers may
// name only those they need.
struct Appliance {
    QString strMac{};
    QString strIp{};
    QString strSerial{};
    int nInterface = 0;       // the interface its latest reply came in on
    QStringList interfaces{}; // every interface it was heard on, by name
    // How it was found: "broadcast:NAME" for a broadcast out of interface
    // NAME ("broadcast" where unknown), "scan" for a sweep's unicast.
    QStringList foundBy{};
    QString strFrom{}; // the address its latest reply came from, dotted
    // Other addresses from which, in the same discovery, a reply named this
    // MAC as its own: a forger's, or where it went meanwhile. Each one is
    // only a claim; the reply above stands.
    QStringList alsoFrom{};

    // Whether the reply came from the address it reports: any host can
    // write any address in a datagram's body.
    bool Proven() const
    {
        const QString strCanonical = CanonicalIp(strIp);
        return !strCanonical.isEmpty() && strCanonical == strFrom;
    }

    bool FoundOnlyByScan() const { return foundBy == QStringList{QStringLiteral("scan")}; }
};

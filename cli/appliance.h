// An appliance as a discovery found it: what it says of itself, where its
// reply came from, and how it was found. Plans, output and fleets know
// appliances by this alone.
#pragma once

#include "targets.h"

#include <QString>
#include <QStringList>

// What one more reply in the same discovery said of an appliance, from the
// address it names.
struct ApplianceClaim {
    QString strIp;
    QString strSerial;
};

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
    // Other replies of the same discovery naming this MAC, each from the
    // address it names: a forger's, or where it went meanwhile. The first
    // such reply is the one above; which one is the appliance's, no reply
    // can tell.
    QList<ApplianceClaim> otherClaims{};

    // Whether the reply came from the address it reports: any host can
    // write any address in a datagram's body.
    bool Proven() const
    {
        const QString strCanonical = CanonicalIp(strIp);
        return !strCanonical.isEmpty() && strCanonical == strFrom;
    }

    bool FoundOnlyByScan() const { return foundBy == QStringList{QStringLiteral("scan")}; }
};

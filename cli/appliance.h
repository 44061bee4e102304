// An appliance as a discovery found it: what it says of itself, where its
// reply came from, and how it was found. Plans, output and fleets know
// appliances by this alone.
#pragma once

#include <QString>
#include <QStringList>

struct Appliance {
    QString strMac;
    QString strIp;
    QString strSerial;
    int nInterface = 0;     // the interface its latest reply came in on
    QStringList interfaces; // every interface it was heard on, by name
    // How it was found: "broadcast:NAME" for a broadcast out of interface
    // NAME ("broadcast" where unknown), "scan" for a sweep's unicast.
    QStringList foundBy;
    QString strFrom; // the address its latest reply came from, dotted

    bool FoundOnlyByScan() const { return foundBy == QStringList{QStringLiteral("scan")}; }
};

// An appliance as a discovery found it: what it says of itself, where its
// reply came from, and how it was found. Plans, output and fleets know
// appliances by this alone.
//
// Its texts are parsed once, where a reply comes in (Appliance::Heard):
// from then on appliances are compared by strMacKey and nIp, never by the
// texts, which are kept to be shown and to name the appliance in a request
// exactly as it named itself.
#pragma once

#include <QString>
#include <QStringList>

// What one more reply in the same discovery said of an appliance, from the
// address it names.
struct ApplianceClaim {
    quint32 nIp = 0;
    QString strIp;
    QString strSerial;
};

// Every member has an initializer, so that designated initializers may
// name only those they need.
struct Appliance {
    QString strMac{}; // as its reply wrote it
    QString strIp{};  // as its reply wrote it
    QString strSerial{};
    // strMac in the one form, "00:1A:2B:0A:0B:0C"; empty when it is no MAC.
    // Appliances write their MAC in any of several forms.
    QString strMacKey{};
    bool bIp = false;  // whether strIp is an address
    quint32 nIp = 0;   // strIp's address
    quint32 nFrom = 0; // the address its latest reply came from; 0: none heard
    int nInterface = 0;       // the interface its latest reply came in on
    QStringList interfaces{}; // every interface it was heard on, by name
    // How it was found: "broadcast:NAME" for a broadcast out of interface
    // NAME ("broadcast" where unknown), "scan" for a sweep's unicast.
    QStringList foundBy{};
    // Other replies of the same discovery naming this MAC, each from the
    // address it names: a forger's, or where it went meanwhile. The first
    // such reply is the one above; which one is the appliance's, no reply
    // can tell.
    QList<ApplianceClaim> otherClaims{};

    // An appliance as a reply from nFrom describes it, its texts parsed.
    static Appliance Heard(const QString& strMac, const QString& strIp, const QString& strSerial, quint32 nFrom);

    // Whether the reply came from the address it reports: any host can
    // write any address in a datagram's body.
    bool Proven() const { return bIp && nFrom && nIp == nFrom; }
    // Where its reply came from, dotted; empty when none was heard.
    QString FromText() const;
    // Its address, dotted in the one form; empty when strIp is none.
    QString IpText() const;
    // Whether both name the same address: never when either names none.
    bool SameIp(const Appliance& other) const { return bIp && other.bIp && nIp == other.nIp; }

    bool FoundOnlyByScan() const { return foundBy == QStringList{QStringLiteral("scan")}; }
};

// The one order of every listing by MAC: by strMacKey, a text that is no
// MAC by itself upper-cased, among them.
bool MacOrder(const Appliance& a, const Appliance& b);

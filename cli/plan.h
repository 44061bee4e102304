// The plan of `norvane provision`: which appliance, named by its MAC, is to
// answer from which address (and with which password), read from a CSV file
// or numbered from a first address. Nothing here sends anything.
#pragma once

#include "addressrange.h"
#include "appliance.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class QIODevice;

// A plan holds a line per appliance: more than this is some other file
// given by mistake, or a stream with no end (/dev/zero), not to be read
// into memory whole.
constexpr qint64 MAX_PLAN_BYTES = 16 << 20;

struct PlanRow {
    QString strSource;   // the plan's name ("standard input"), or for a numbered row its MAC
    QString strMac;      // canonical
    QString strIp;       // canonical, once checked
    QString strPassword; // from the row; empty: the password given as usual
    int nLine = 0; // the row's line in the plan; 0 for a numbered row

    bool HasPassword() const { return !strPassword.isEmpty(); }
    // How refusals name the row: "FILE:LINE", or the MAC.
    QString Where() const;
};
// A plan may hold half a million rows: the list grows in place.
Q_DECLARE_TYPEINFO(PlanRow, Q_RELOCATABLE_TYPE);

// PLAN.csv, or standard input for "-": a header naming the columns mac, ip
// and, optionally, password, in any order; then one row per appliance.
// Blank lines and spaces around fields are skipped; a field may be quoted
// ("a,b" and "" inside). Every row that cannot be read, and every duplicate
// MAC or address and address no appliance may have, is added to problems
// with its line. An address is checked as NewIpRefusal does, with the
// --scan ranges.
QList<PlanRow> ReadPlan(const QString& strPath, const CAddressRanges& scan, QStringList& problems);
// ReadPlan once the plan is open, named strName in problems; false (the
// rows and problems then of no use) when it holds more than nMaxBytes.
// Each address looks at the interfaces unless a CInterfaceSnapshot is held.
bool ReadPlanFrom(QIODevice& plan, const QString& strName, const CAddressRanges& scan, qint64 nMaxBytes,
                  QList<PlanRow>& rows, QStringList& problems);

// The appliances given consecutive addresses from strFirstIp, in the order
// given, within the local subnet or --scan range that holds strFirstIp
// (the smaller where both do); an address no appliance may have, or one
// past the end of that range, is added to problems. So is a strFirstIp in
// no such range: with no appliances, that alone is checked, before
// anything is sent.
QList<PlanRow> NumberedPlan(const QList<Appliance>& appliances, const QString& strFirstIp, const CAddressRanges& scan,
                            QStringList& problems);

// One appliance's row numbered as it turns up (provision --from --watch):
// the first address from nNext on, within the range NumberedPlan keeps
// strFirstIp to, that is not in taken and that an appliance may have;
// nNext moves past it. An empty strIp, and the reason in strWhy, when no
// address is left.
PlanRow NextNumberedRow(const Appliance& appliance, const QString& strFirstIp, const CAddressRanges& scan,
                        const QSet<QString>& taken, quint32& nNext, QString& strWhy);
// Whether numbering from strFirstIp could give strIp.
bool InNumberingRange(const QString& strIp, const QString& strFirstIp, const CAddressRanges& scan);

// A row whose new address already answers for another appliance.
void CheckOccupied(const QList<PlanRow>& rows, const QList<Appliance>& found, QStringList& problems);

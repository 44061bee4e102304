// The steps the subcommands share: the session, the password, TARGET and
// its checks, the confirmation, and what a request's outcome means. A step
// that refuses says why and ends the command (messages.h).
#pragma once

#include "fleet.h"
#include "interfaces.h"
#include "subcommands.h"

#include <QRegularExpression>

// What a command goes to: the appliance's address, and the interface to send
// out of (0: where the routes say).
struct Target {
    QString strIp;
    int nInterface = 0;
};

void OpenSession(CContext& ctx);
// The session's Discover, the session opened first; ends the command when
// no request could be sent.
QList<Appliance> Discover(CContext& ctx, int nWindowMs, int nRounds, const CSession::StopWhen& stop = {});
void WarnSystemDrops(const CContext& ctx);

// --match as a pattern (none when not given); refused when invalid.
QRegularExpression MatchOption(const CContext& ctx);
// The appliances whose MAC, IP or serial match it; all without --match.
QList<Appliance> Chosen(const CContext& ctx, const QRegularExpression& match, const QList<Appliance>& found);
// --parallel, --retries, --report, --timeout, and progress when standard
// error is a terminal; the password is left to ReadPassword.
FleetOptions ReadFleetOptions(const CContext& ctx, const char* pszCommand);

// What a command on many appliances (backup-all, restore-all, provision)
// reads first: the fleet's options, --rounds and --match.
struct FleetStart {
    FleetOptions options;
    int nRounds = 1;
    QRegularExpression match;
};
FleetStart ReadFleetStart(const CContext& ctx, const char* pszCommand);
// Its discovery, --rounds of it: every appliance that answered, and those
// --match picks.
struct FleetFound {
    QList<Appliance> all;
    QList<Appliance> chosen;
};
FleetFound DiscoverFleet(CContext& ctx, const FleetStart& start);
// Nothing to work on is no success: a job on the wrong segment, or with a
// mistyped --match, must not pass for one. Says why; returns the exit code.
int NoneChosen(const CContext& ctx, qsizetype nFound);

// The option --NAME as a count from nMin to nMax.
int CountOption(const CContext& ctx, const char* pszName, int nMin, int nMax);

// A file's bytes as text: UTF-8 where they are valid UTF-8, else Latin-1.
QString TextFromBytes(const QByteArray& bytes);
// Why an appliance cannot be sent this password (a character beyond
// Latin-1); empty when it can.
QString PasswordProblem(const QString& strPassword);

// The password from a file, the option, the environment or the terminal, in
// that order; empty when none is given and nobody is there to ask.
QString ReadPassword(const CContext& ctx);

// An address given on the command line, as it was given (an address has one
// form); refused (with the reason) when it is malformed or one no appliance
// may have.
QString CheckIpText(const QString& strText);
// The reason CheckIpText would give; empty when it takes the address, which
// is then *pIp.
QString IpRefusal(const QString& strText, const CInterfaceSnapshot& host = {}, quint32* pIp = nullptr);
// The reason an appliance may not be given this address (set-ip's NEW_IP, a
// plan row, --from's numbering): IpRefusal's, or an address of this host,
// or the network or broadcast address of a --scan range. Empty when it may,
// and the address is then *pIp. host: this host as one look at its
// interfaces saw it, taken once for many addresses.
QString NewIpRefusal(const QString& strText, const CAddressRanges& scan, const CInterfaceSnapshot& host = {},
                     quint32* pIp = nullptr);
QString NewIpRefusal(quint32 nIp, const CAddressRanges& scan, const CInterfaceSnapshot& host);
// Checks TARGET's form before anything is sent.
void CheckTarget(const QString& strTarget);
// TARGET as an appliance's dotted address and interface; may discover.
Target ResolveTarget(CContext& ctx, const QString& strTarget);

// A question needs a person: without --yes and a terminal, refuse.
void CheckConfirmable(const CContext& ctx, const char* pszWhat);
void Confirm(const CContext& ctx, unsigned nQuestion);

// Ends the command, telling how, unless the request succeeded.
void CheckOutcome(const QString& strIp, const RequestResult& result);

// An image or report file, checked before anything is sent.
void CheckWritable(const QString& strPath);
// Refuses (EXIT_USAGE) a report that would replace a file the run reads or
// writes: one of files, the password file, strDir itself, or an image in
// strDir (a <MAC>.cfg there). Compared as files, not as the text given: a
// link, a hard link or another spelling of the same file is the same.
void CheckReportApart(const CContext& ctx, const QString& strReport, const QStringList& files, const QString& strDir = {});

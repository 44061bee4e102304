// The subcommands of `norvane` and what each is handed: the command line as
// parsed (dispatch.cpp), and the session, opened when first needed.
#pragma once

#include "session.h"

#include <QCommandLineParser>
#include <QList>
#include <QStringList>

#include <memory>

struct CContext {
    QCommandLineParser parser;
    QStringList commandLine; // as the program was given it: read again on a reload
    QStringList args;
    int nTimeoutMs = 5000;
    int nDiscoverMs = 2000;
    bool bVerbose = false;
    QList<int> interfaces; // --interface, by index; empty for all
    SweepOptions sweep;    // --scan, --rate, --no-broadcast: every discovery of the command
    std::unique_ptr<CSession> pSession;

    QString Value(const char* pszName) const { return parser.value(QString::fromLatin1(pszName)); }
    bool IsSet(const char* pszName) const { return parser.isSet(QString::fromLatin1(pszName)); }
};

// The command line, and its --options-file, read again into a new context,
// for a service told to reload (dispatch.cpp). Ends by Usage, as at the
// start, when they are refused now.
std::unique_ptr<CContext> ReadContextAgain(const CContext& ctx);

// Each returns its exit code, or ends early by Fail or Usage (messages.h).
int RunDiscover(CContext& ctx); // discover.cpp
int RunSetIp(CContext& ctx);    // setip.cpp
// onetarget.cpp
int RunReboot(CContext& ctx);
int RunLoginUrl(CContext& ctx);
int RunBackup(CContext& ctx);
int RunRestore(CContext& ctx);
int RunBackupAll(CContext& ctx);  // backupall.cpp
int RunRestoreAll(CContext& ctx); // restoreall.cpp
int RunProvision(CContext& ctx);  // provision.cpp
int RunWatch(CContext& ctx);      // watch.cpp
// provision --watch: provisionwatch.cpp
int RunProvisionWatch(CContext& ctx);

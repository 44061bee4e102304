// The application object: starts the program and runs the setup sheet.
#pragma once

#include "addressrange.h"

#include <QStringList>

class CSetupApp {
public:
    virtual ~CSetupApp() = default;

    // The whole start-up main() runs: the command line, then InitInstance.
    // Returns the exit status; help goes to standard output, a refusal with
    // its reason to standard error.
    int Run(const QStringList& args);

    // Reads the command line (--scan CIDR, repeatable); false, with the
    // reason, the help or the version in strMessage, when the program should
    // not start. bHelp: the help or the version was asked for.
    bool ParseCommandLine(const QStringList& args, QString& strMessage, bool& bHelp);

    // Runs the whole program: the socket layer check, then the modal sheet.
    // Always false: the program ends when the sheet closes.
    bool InitInstance();

protected:
    // Whether the platform can give the program a UDP socket at all.
    virtual bool SocketInit();
    // Runs the sheet modally; tests replace it.
    virtual void RunSheet(class CSetupSheet& sheet);

    CAddressRanges m_scanRanges;
};

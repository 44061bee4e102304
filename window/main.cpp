#include "quitsignal.h"
#include "setupapp.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // The application name, and so the caption of every box, is the
    // executable's name, as Qt takes it by default.
    QApplication app(argc, argv);
    CQuitOnSignal quit;
    CSetupApp theApp;
    QString strMessage;
    bool bHelp = false;
    if (!theApp.ParseCommandLine(app.arguments(), strMessage, bHelp)) {
        std::fprintf(bHelp ? stdout : stderr, bHelp ? "%s" : "norvane-setup: %s\n", qPrintable(strMessage));
        return bHelp ? 0 : 2;
    }
    theApp.InitInstance();
    return 0;
}

#include "quitsignal.h"
#include "setupapp.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    {
        // QApplication aborts where there is no display: help and version
        // are answered before it. Qt's own options (-platform) are not
        // known here; a line with them is read again below.
        const QCoreApplication core(argc, argv);
        QString strMessage;
        bool bHelp = false;
        if (!CSetupApp().ParseCommandLine(QCoreApplication::arguments(), strMessage, bHelp) && bHelp) {
            std::fputs(qPrintable(strMessage), stdout);
            return 0;
        }
    }
    // The application name, and so the caption of every box, is the
    // executable's name, as Qt takes it by default.
    QApplication app(argc, argv);
    CQuitOnSignal quit;
    CSetupApp theApp;
    return theApp.Run(app.arguments());
}

#include "quitsignal.h"
#include "setupapp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // The application name, and so the caption of every box, is the
    // executable's name, as Qt takes it by default.
    QApplication app(argc, argv);
    CQuitOnSignal quit;
    CSetupApp theApp;
    return theApp.Run(app.arguments());
}

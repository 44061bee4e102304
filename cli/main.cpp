// norvane: the command line of Norvane Setup. It shares the window's engine
// (protocol/) and needs no display.
#include "commands.h"
#include "devicemsg.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NORVANE_VERSION));
    InitByteOrder();
    return RunCli(QCoreApplication::arguments());
}

// norvane: the command line of Norvane Setup. It shares the window's engine
// (protocol/) and needs no display.
#include "dispatch.h"
#include "exitcodes.h"
#include "messages.h"
#include "terminal.h"

#include <QCoreApplication>

// The event loops, the socket, the interface list and an image file with its
// temporary twin, with some to spare.
constexpr int kFileDescriptorsNeeded = 8;

int main(int argc, char** argv)
{
    if (!FreeFileDescriptors(kFileDescriptorsNeeded)) {
        Note(QStringLiteral("too many open files: at least %1 more are needed (see ulimit -n)")
                 .arg(kFileDescriptorsNeeded));
        return EXIT_NETWORK;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NORVANE_VERSION));
    return RunCli(QCoreApplication::arguments());
}

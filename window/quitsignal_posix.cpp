// Signals on POSIX systems, turned into an orderly end through the event loop.
#include "quitsignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A handler may only do what is async-signal-safe: it writes the signal
// number to a socket that the event loop watches.
int g_fdSignal[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void WriteSignal(int nSignal)
{
    const int nSavedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(nSignal);
    [[maybe_unused]] const ssize_t n = ::write(g_fdSignal[0], &byte, 1);
    errno = nSavedErrno;
}

void SetHandlers(void (*pHandler)(int))
{
    struct sigaction action = {};
    action.sa_handler = pHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int nSignal : kSignals)
        ::sigaction(nSignal, &action, nullptr);
}

}  // namespace

CQuitOnSignal::CQuitOnSignal(QObject* pParent) : QObject(pParent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fdSignal) != 0)
        return;  // the default actions stay: the program still ends, less tidily
    m_pNotifier = new QSocketNotifier(g_fdSignal[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CQuitOnSignal::OnSignal);
    SetHandlers(WriteSignal);
}

CQuitOnSignal::~CQuitOnSignal()
{
    if (!m_pNotifier)
        return;
    SetHandlers(SIG_DFL);
    delete m_pNotifier;
    ::close(g_fdSignal[0]);
    ::close(g_fdSignal[1]);
    g_fdSignal[0] = g_fdSignal[1] = -1;
}

void CQuitOnSignal::OnSignal()
{
    unsigned char byte = 0;
    while (::read(g_fdSignal[1], &byte, 1) == 1)
        m_nSignal = byte;
    // Ends the sheet's loop and every box's nested in it; a box or dialog
    // that would open after this returns at once, as cancelled, so nothing
    // further is sent to an appliance.
    QCoreApplication::exit(0);
}

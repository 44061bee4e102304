// Signals on POSIX systems, handed to the event loop through a socket pair.
#include "interruption.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_fdSignal[2] = {-1, -1};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[std::size(kSignals)];

// Async-signal-safe only: the number goes to the loop, and the signals get
// back what they had, so that a second one ends the program at once.
void OnFirstSignal(int nSignal)
{
    const int nSavedErrno = errno;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    const auto byte = static_cast<unsigned char>(nSignal);
    [[maybe_unused]] const ssize_t n = write(g_fdSignal[0], &byte, 1);
    errno = nSavedErrno;
}

// Every time, as a service may be reloaded any number of times.
void OnReloadSignal(int nSignal)
{
    const int nSavedErrno = errno;
    const auto byte = static_cast<unsigned char>(nSignal);
    [[maybe_unused]] const ssize_t n = write(g_fdSignal[0], &byte, 1);
    errno = nSavedErrno;
}
struct sigaction g_previousReload;
bool g_bReload = false;
} // namespace

CInterruption::CInterruption(bool bReload)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fdSignal) != 0)
        return; // the signals keep their default: the run ends at once, as before
    m_pNotifier = new QSocketNotifier(g_fdSignal[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CInterruption::OnSignal);
    struct sigaction action {};
    action.sa_handler = OnFirstSignal;
    sigemptyset(&action.sa_mask);
    for (int nSignal : kSignals)
        sigaddset(&action.sa_mask, nSignal);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &action, &g_previous[i]);
    g_bReload = bReload;
    if (bReload) {
        action.sa_handler = OnReloadSignal;
        sigaction(SIGUSR1, &action, &g_previousReload);
    }
}

CInterruption::~CInterruption()
{
    if (!m_pNotifier)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    if (g_bReload)
        sigaction(SIGUSR1, &g_previousReload, nullptr);
    delete m_pNotifier;
    close(g_fdSignal[0]);
    close(g_fdSignal[1]);
    g_fdSignal[0] = g_fdSignal[1] = -1;
}

void CInterruption::OnSignal()
{
    unsigned char byte = 0;
    if (read(g_fdSignal[1], &byte, 1) != 1)
        return;
    if (byte == SIGUSR1)
        emit ReloadAsked();
    else
        emit Interrupted(byte);
}

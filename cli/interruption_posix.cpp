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
} // namespace

CInterruption::CInterruption()
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
}

CInterruption::~CInterruption()
{
    if (!m_pNotifier)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_pNotifier;
    close(g_fdSignal[0]);
    close(g_fdSignal[1]);
    g_fdSignal[0] = g_fdSignal[1] = -1;
}

void CInterruption::OnSignal()
{
    unsigned char byte = 0;
    if (read(g_fdSignal[1], &byte, 1) == 1)
        emit Interrupted(byte);
}

// The terminal on POSIX systems.
#include "terminal.h"

#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The terminal as it was before echo went off. A signal that ends the
// program meanwhile (Ctrl-C, a closed terminal, kill) must not leave the
// terminal silent for whatever runs next: the handler puts it back, then
// lets the signal do what it would have done.
termios g_echoSaved{};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[std::size(kEndingSignals)];

void RestoreEchoAndReraise(int nSignal)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &g_echoSaved);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        if (kEndingSignals[i] == nSignal)
            sigaction(nSignal, &g_previous[i], nullptr);
    raise(nSignal);
}
} // namespace

bool StdoutPipeClosed()
{
    // A pipe's writing end polls as an error once nobody can read it.
    pollfd out{STDOUT_FILENO, 0, 0};
    return poll(&out, 1, 0) == 1 && (out.revents & POLLERR);
}

bool IsTerminal(std::FILE* pStream)
{
    return isatty(fileno(pStream));
}

void SetBinary(std::FILE*) {}

void IgnoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool FreeFileDescriptors(int nWanted)
{
    int fds[64];
    int nOpen = 0;
    while (nOpen < nWanted && nOpen < int(std::size(fds)) && (fds[nOpen] = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0)
        ++nOpen;
    for (int i = 0; i < nOpen; ++i)
        close(fds[i]);
    return nOpen >= nWanted;
}

CEchoOff::CEchoOff()
{
    m_bSaved = tcgetattr(STDIN_FILENO, &g_echoSaved) == 0;
    if (!m_bSaved)
        return;
    struct sigaction action {};
    action.sa_handler = RestoreEchoAndReraise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        sigaction(kEndingSignals[i], &action, &g_previous[i]);
    termios quiet = g_echoSaved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
}

CEchoOff::~CEchoOff()
{
    if (!m_bSaved)
        return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoSaved);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        sigaction(kEndingSignals[i], &g_previous[i], nullptr);
}

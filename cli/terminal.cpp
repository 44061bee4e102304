#include "terminal.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <termios.h>
#include <unistd.h>
#endif

bool StdinIsTerminal()
{
    return isatty(fileno(stdin));
}

bool StderrIsTerminal()
{
    return isatty(fileno(stderr));
}

bool StdoutIsTerminal()
{
    return isatty(fileno(stdout));
}

namespace {
int g_nStdoutError = 0;
}

bool OutBytes(const QByteArray& bytes)
{
    if (g_nStdoutError)
        return false;
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) != std::size_t(bytes.size()) ||
        std::fflush(stdout) != 0) {
        g_nStdoutError = errno ? errno : EIO;
        return false;
    }
    return true;
}

void Out(const QString& strText)
{
    OutBytes(strText.toUtf8());
}

int StdoutError()
{
    return g_nStdoutError;
}

bool StdoutReaderGone()
{
    return g_nStdoutError == EPIPE;
}

void IgnoreBrokenPipe()
{
#ifndef Q_OS_WIN
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool FreeFileDescriptors(int nWanted)
{
#ifdef Q_OS_WIN
    Q_UNUSED(nWanted);
    return true;
#else
    int fds[64];
    int nOpen = 0;
    while (nOpen < nWanted && nOpen < int(std::size(fds)) && (fds[nOpen] = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0)
        ++nOpen;
    for (int i = 0; i < nOpen; ++i)
        close(fds[i]);
    return nOpen >= nWanted;
#endif
}

void Err(const QString& strText)
{
    const QByteArray bytes = strText.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

namespace {
bool ReadLine(QString& strLine)
{
    std::string line;
    if (!std::getline(std::cin, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    strLine = QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
    return true;
}

#ifndef Q_OS_WIN
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
#endif

// Switches terminal echo off for its lifetime.
class CEchoOff {
public:
    CEchoOff()
    {
#ifdef Q_OS_WIN
        m_hInput = GetStdHandle(STD_INPUT_HANDLE);
        m_bSaved = GetConsoleMode(m_hInput, &m_nMode);
        if (m_bSaved)
            SetConsoleMode(m_hInput, m_nMode & ~DWORD(ENABLE_ECHO_INPUT));
#else
        m_bSaved = tcgetattr(STDIN_FILENO, &g_echoSaved) == 0;
        if (m_bSaved) {
            struct sigaction action {};
            action.sa_handler = RestoreEchoAndReraise;
            sigemptyset(&action.sa_mask);
            for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
                sigaction(kEndingSignals[i], &action, &g_previous[i]);
            termios quiet = g_echoSaved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
#endif
    }
    ~CEchoOff()
    {
#ifdef Q_OS_WIN
        if (m_bSaved)
            SetConsoleMode(m_hInput, m_nMode);
#else
        if (m_bSaved) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoSaved);
            for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
                sigaction(kEndingSignals[i], &g_previous[i], nullptr);
        }
#endif
    }
    CEchoOff(const CEchoOff&) = delete;
    CEchoOff& operator=(const CEchoOff&) = delete;

private:
    bool m_bSaved = false;
#ifdef Q_OS_WIN
    HANDLE m_hInput = nullptr;
    DWORD m_nMode = 0;
#endif
};
} // namespace

bool AskYesNo(const QString& strQuestion)
{
    Err(strQuestion + QStringLiteral(" [y/N] "));
    QString strAnswer;
    if (!ReadLine(strAnswer))
        return false;
    strAnswer = strAnswer.trimmed().toLower();
    return strAnswer == QLatin1String("y") || strAnswer == QLatin1String("yes");
}

bool ReadSecret(const QString& strPrompt, QString& strSecret)
{
    Err(strPrompt);
    bool bRead = false;
    {
        CEchoOff echoOff;
        bRead = ReadLine(strSecret);
    }
    Err(QStringLiteral("\n"));
    return bRead;
}

bool OpenStdin(QFile& file)
{
#ifdef Q_OS_WIN
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return file.open(fileno(stdin), QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void StdoutBinary()
{
    std::fflush(stdout);
#ifdef Q_OS_WIN
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

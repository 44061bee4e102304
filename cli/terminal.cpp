#include "terminal.h"

#include <QFile>

#include <cstdio>
#include <iostream>
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

void Out(const QString& strText)
{
    const QByteArray bytes = strText.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
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
        m_bSaved = tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (m_bSaved) {
            termios quiet = m_saved;
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
        if (m_bSaved)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
#endif
    }
    CEchoOff(const CEchoOff&) = delete;
    CEchoOff& operator=(const CEchoOff&) = delete;

private:
    bool m_bSaved = false;
#ifdef Q_OS_WIN
    HANDLE m_hInput = nullptr;
    DWORD m_nMode = 0;
#else
    termios m_saved{};
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

bool OpenStdout(QFile& file)
{
    std::fflush(stdout);
#ifdef Q_OS_WIN
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return file.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered);
}

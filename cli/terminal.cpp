#include "terminal.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>

namespace {
int g_nStdoutError = 0;

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
} // namespace

bool StdinIsTerminal()
{
    return IsTerminal(stdin);
}

bool StderrIsTerminal()
{
    return IsTerminal(stderr);
}

bool StdoutIsTerminal()
{
    return IsTerminal(stdout);
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

void Err(const QString& strText)
{
    const QByteArray bytes = strText.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

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
    SetBinary(stdin);
    return file.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void StdoutBinary()
{
    std::fflush(stdout);
    SetBinary(stdout);
}

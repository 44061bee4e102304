// The console on Windows.
#include "terminal.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

bool StdoutPipeClosed()
{
    return false;
}

bool IsTerminal(std::FILE* pStream)
{
    return _isatty(_fileno(pStream));
}

void SetBinary(std::FILE* pStream)
{
    _setmode(_fileno(pStream), _O_BINARY);
}

// Windows has no SIGPIPE: a write to a closed pipe fails by itself.
void IgnoreBrokenPipe() {}

// Windows gives a process thousands of handles; there is nothing to check.
bool FreeFileDescriptors(int)
{
    return true;
}

CEchoOff::CEchoOff()
{
    DWORD nMode = 0;
    m_bSaved = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &nMode);
    m_nMode = nMode;
    if (m_bSaved)
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), nMode & ~DWORD(ENABLE_ECHO_INPUT));
}

CEchoOff::~CEchoOff()
{
    if (m_bSaved)
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), DWORD(m_nMode));
}

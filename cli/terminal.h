// The terminal around the command: whether a person is there, questions,
// and a password typed without echo. Nothing here ever prompts when
// standard input is not a terminal.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

class QFile;

bool StdinIsTerminal();
bool StderrIsTerminal();
bool StdoutIsTerminal();

// Writes to standard output / standard error, UTF-8. After a failed write
// to standard output nothing more is written there; StdoutError() tells the
// errno of that failure (0 while none), and StdoutReaderGone() whether it
// was only a reader that closed its end early (`norvane discover | head -1`).
void Out(const QString& strText);
bool OutBytes(const QByteArray& bytes);
int StdoutError();
bool StdoutReaderGone();
// A write to a closed pipe then fails with EPIPE instead of killing the
// program at once.
void IgnoreBrokenPipe();
void Err(const QString& strText);

// Whether nWanted more files could be opened now. Qt's event loop aborts
// the program when it cannot have its own, so this is asked first.
bool FreeFileDescriptors(int nWanted);

// Asks on standard error and reads a line; true only for y or yes.
bool AskYesNo(const QString& strQuestion);
// Reads one line from the terminal with echo switched off; false at end of input.
bool ReadSecret(const QString& strPrompt, QString& strSecret);

// Standard input as a file of bytes, and standard output from now on,
// taken as they are on every system (no newline translation): an image
// piped in or out.
bool OpenStdin(QFile& file);
void StdoutBinary();

// What differs between systems, given by terminal_posix.cpp or
// terminal_win.cpp (the build picks one).
bool IsTerminal(std::FILE* pStream);
// No newline translation on the stream from now on.
void SetBinary(std::FILE* pStream);
// Whether standard output is a pipe whose reader has gone, found without
// writing: a watch that prints nothing for hours would otherwise outlive
// the `grep -m1` it feeds. False where that cannot be told.
bool StdoutPipeClosed();

// Terminal echo on standard input switched off for the object's lifetime;
// on POSIX systems also put back when a signal ends the program meanwhile.
class CEchoOff {
public:
    CEchoOff();
    ~CEchoOff();
    CEchoOff(const CEchoOff&) = delete;
    CEchoOff& operator=(const CEchoOff&) = delete;

private:
    bool m_bSaved = false;
    [[maybe_unused]] unsigned long m_nMode = 0; // the console mode to put back (Windows)
};

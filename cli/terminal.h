// The terminal around the command: whether a person is there, questions,
// and a password typed without echo. Nothing here ever prompts when
// standard input is not a terminal.
#pragma once

#include <QString>

class QFile;

bool StdinIsTerminal();
bool StderrIsTerminal();
bool StdoutIsTerminal();

// Writes to standard output / standard error, UTF-8.
void Out(const QString& strText);
void Err(const QString& strText);

// Asks on standard error and reads a line; true only for y or yes.
bool AskYesNo(const QString& strQuestion);
// Reads one line from the terminal with echo switched off; false at end of input.
bool ReadSecret(const QString& strPrompt, QString& strSecret);

// Standard input / output as files of bytes, taken as they are on every
// system (no newline translation): an image piped in or out.
bool OpenStdin(QFile& file);
bool OpenStdout(QFile& file);

// What `norvane` says on standard error, each line behind the program's
// name: the one place that writes "norvane: ".
#pragma once

#include <QString>

// Thrown by Fail and Usage once their message is out; RunCli catches it and
// returns its code. Throw it only from plain calls, never from a slot or a
// callback an event loop runs: Qt does not carry exceptions through its loops.
struct CExit {
    int nCode;
};

// The message, then the command ends with nExit.
[[noreturn]] void Fail(int nExit, const QString& strText);
// Bad input, found before anything was sent: EXIT_USAGE.
[[noreturn]] void Usage(const QString& strText);
// Messages that do not end the command; Warn's says "warning: " first.
void Note(const QString& strText);
void Warn(const QString& strText);

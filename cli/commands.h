// `norvane`: the subcommands, their options and their checks of input.
#pragma once

#include <QStringList>

// Runs the command line (arguments as QCoreApplication gives them, the
// program first); returns the exit code.
int RunCli(const QStringList& args);

// `norvane`, the command line: its subcommand table, options and help
// (dispatch.cpp). The map of every file of the folder stands beside their
// list, in CMakeLists.txt.
#pragma once

#include <QStringList>

// Runs the command line (arguments as QCoreApplication gives them, the
// program first); returns the exit code.
int RunCli(const QStringList& args);

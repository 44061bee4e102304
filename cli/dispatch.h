// `norvane`, the command line, by file:
//   dispatch      the subcommand table, the options and the help; runs one
//   subcommands   what every subcommand is handed (CContext)
//   discover, setip, onetarget (reboot, login-url, backup, restore),
//   backupall, restoreall, provision
//                 a file a subcommand or group
//   fleet         the commands on many appliances: a job per appliance, the
//                 runner, the reporter, the interruption; plan reads
//                 provision's plan, addresschange is the change of address
//                 of set-ip and provision
//   steps         what they share: password, target, confirmation, outcome
//   messages      every "norvane: " line; Fail and Usage end the command
//   session       requests and their replies over the engine (protocol/);
//                 discovery gathers a discovery's replies into appliances
//   output, targets, terminal, exitcodes: discover's formats, addresses, the
//                 terminal and the standard streams, the exit codes
#pragma once

#include <QStringList>

// Runs the command line (arguments as QCoreApplication gives them, the
// program first); returns the exit code.
int RunCli(const QStringList& args);

// --options-file: the options of a service, one a line, read at its start
// and again on each reload, so that an operator edits a file rather than a
// unit's command line:
//
//   # staging segment
//   interface staging0
//   scan 10.9.7.0/24
//   correct-drift
//   plan /etc/norvane/provision-staging.csv
//
// A line is a long option without its dashes, then its value if it takes
// one; plan is provision's argument. The password has no line: it would be
// readable by whoever reads the file (see --password-file).
#pragma once

#include <QStringList>

class QByteArray;

// The options as a command line gives them; each line refused is added to
// problems, named strName:LINE.
QStringList ParseOptionsFile(const QByteArray& text, const QString& strName, QStringList& problems);
// The file read and parsed; ends the command (EXIT_USAGE) when it cannot be
// read or holds a refused line.
QStringList ReadOptionsFile(const QString& strPath);

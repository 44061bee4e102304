// The process's resident memory, for tests and benchmarks that watch it
// grow. Linux only: it reads /proc; no test framework, so bench/ can use it.
#pragma once

#include <QByteArray>
#include <QFile>

// VmRSS in MiB; -1 when it cannot be read.
inline double ResidentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

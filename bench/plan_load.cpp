// What `norvane provision PLAN` costs on a plan just under the 16 MiB a
// plan may have: some 500,000 rows, each MAC and address distinct, read,
// checked and printed whole (--dry-run), or run for real with and without a
// --report of every row. Nothing answers the discovery. One line per run:
//   plan_load rows=N bytes=B run=R input=file|stdin exit=E lines=L seconds=S max_rss_mb=M
// R is the dry run's --format, "real" or "real+report", or "over-cap" for a
// file one byte over the cap (refused before it is read). seconds is the
// whole run, the discovery's --discover-timeout included; max_rss_mb the
// peak resident memory of norvane alone (wait4); lines those of standard
// output, or of the report.
//
//   tools/private-segment build/test/bench/bench_plan_load [DISCOVER_SECONDS]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <vector>

extern char** environ;

namespace {
constexpr qint64 MAX_PLAN_BYTES = 16 << 20;

// Rows to 10.201.0.1 and on, skipping each /24's .0 and .255, outside the
// segment's 10.200.0.0/16 and so clear of the host's own addresses. Written
// a row at a time: what this process ever held counts in the peak that
// wait4 gives for a child it starts.
qint64 WritePlan(const QString& strPath, qint64& nBytes)
{
    QFile plan(strPath);
    if (!plan.open(QIODevice::WriteOnly))
        return 0;
    nBytes = plan.write("mac,ip\n");
    qint64 nRows = 0;
    for (;; ++nRows) {
        const qint64 nBlock = nRows / 254;
        char row[64];
        const int nLen = std::snprintf(row, sizeof row, "00:1A:2B:%02X:%02X:%02X,10.%d.%d.%d\n",
                                       int((nRows >> 16) & 0xFF), int((nRows >> 8) & 0xFF), int(nRows & 0xFF),
                                       int(201 + nBlock / 256), int(nBlock % 256), int(1 + nRows % 254));
        if (nBytes + nLen >= MAX_PLAN_BYTES)
            break;
        if (plan.write(row, nLen) != nLen)
            return 0;
        nBytes += nLen;
    }
    return plan.flush() ? nRows : 0;
}

qint64 CountLines(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 nLines = 0;
    char buffer[1 << 16];
    for (qint64 n; (n = file.read(buffer, sizeof buffer)) > 0;)
        nLines += std::count(buffer, buffer + n, '\n');
    return nLines;
}

void RunOne(const QString& strCli, const QString& strPlan, qint64 nRows, qint64 nBytes, const char* pszRun,
            bool bStdin, const QStringList& extra, const QString& strOut, const QString& strCounted)
{
    QList<QByteArray> args{strCli.toLocal8Bit(), "provision", bStdin ? "-" : strPlan.toLocal8Bit()};
    for (const QString& strArg : extra)
        args.append(strArg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const QByteArray plan = strPlan.toLocal8Bit(), out = strOut.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, bStdin ? plan.constData() : "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int nError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nError) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return;
    }
    int nStatus = 0;
    rusage usage{};
    wait4(pid, &nStatus, 0, &usage);
    const double dSeconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("plan_load rows=%lld bytes=%lld run=%s input=%s exit=%d lines=%lld seconds=%.2f max_rss_mb=%.1f\n",
                nRows, nBytes, pszRun, bStdin ? "stdin" : "file", WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1,
                CountLines(strCounted.isEmpty() ? strOut : strCounted), dSeconds, double(usage.ru_maxrss) / 1024.0);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (!InPrivateSegment()) {
        std::fprintf(stderr, "run me inside tools/private-segment\n");
        return 2;
    }
    const QString strSeconds = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("0.2");
    const QString strCli = QCoreApplication::applicationDirPath() + "/../cli/norvane";
    QTemporaryDir dir;
    const QString strPlan = dir.filePath("plan.csv");
    qint64 nBytes = 0;
    const qint64 nRows = WritePlan(strPlan, nBytes);
    if (!nRows) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(strPlan));
        return 1;
    }
    const QString strOut = dir.filePath("out"), strReport = dir.filePath("report.json");
    const QStringList timeout{"--discover-timeout", strSeconds};
    for (const char* pszFormat : {"table", "csv", "json"})
        RunOne(strCli, strPlan, nRows, nBytes, pszFormat, false,
               QStringList{"--dry-run", "--format", pszFormat} + timeout, strOut, {});
    RunOne(strCli, strPlan, nRows, nBytes, "csv", true, QStringList{"--dry-run", "--format", "csv"} + timeout, strOut,
           {});
    const QStringList real = QStringList{"--password", "pw"} + timeout;
    RunOne(strCli, strPlan, nRows, nBytes, "real", false, real, strOut, {});
    RunOne(strCli, strPlan, nRows, nBytes, "real+report", false, real + QStringList{"--report", strReport}, strOut,
           strReport);
    // One byte over: refused by its size alone.
    QFile over(strPlan);
    if (over.open(QIODevice::Append) && over.resize(MAX_PLAN_BYTES + 1))
        RunOne(strCli, strPlan, nRows, MAX_PLAN_BYTES + 1, "over-cap", false, real, strOut, {});
    return 0;
}

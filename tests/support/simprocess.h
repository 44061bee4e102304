// Runs norvane-sim (path from $NORVANE_SIM) for the length of a test.
#pragma once

#include <QProcess>
#include <QStringList>

class CSimProcess {
public:
    // False where no simulator is built (Windows): tests that need one skip.
    static bool Available() { return !qEnvironmentVariableIsEmpty("NORVANE_SIM"); }
    // Starts the simulator and waits for its "ready" line; false on failure.
    bool Start(const QStringList& args);
    ~CSimProcess();

    // Sends a line to a simulator started with --control - and waits for
    // its "ok LINE"; false on its "error LINE" or at the timeout.
    bool Control(const QString& strLine, int nTimeoutMs = 5000);
    // Stops it with SIGTERM and returns its standard error.
    QString Stop();
    QString Output() const { return m_strOutput; }
    // Everything it wrote to standard error so far.
    QString ErrorOutput();

private:
    QProcess m_process;
    bool m_bStarted = false;
    QString m_strOutput;
    QString m_strErrors;
};

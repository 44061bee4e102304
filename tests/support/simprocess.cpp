#include "simprocess.h"

#include <QDeadlineTimer>

bool CSimProcess::Start(const QStringList& args)
{
    const QString strSim = qEnvironmentVariable("NORVANE_SIM");
    if (strSim.isEmpty())
        return false;
    m_process.setProgram(strSim);
    m_process.setArguments(args);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    m_bStarted = true;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        m_strOutput += QString::fromLatin1(m_process.readAllStandardOutput());
        if (m_strOutput.contains(QLatin1String("ready\n")))
            return true;
    }
    return false;
}

bool CSimProcess::Control(const QString& strLine, int nTimeoutMs)
{
    // Only what comes after the line was sent: the same line may be sent again.
    const qsizetype nFrom = m_strOutput.size();
    const auto answered = [&](const QString& strWord) {
        const QString strAnswer = strWord + QLatin1Char(' ') + strLine + QLatin1Char('\n');
        for (qsizetype k = m_strOutput.indexOf(strAnswer, nFrom); k >= 0; k = m_strOutput.indexOf(strAnswer, k + 1))
            if (k == 0 || m_strOutput[k - 1] == QLatin1Char('\n'))
                return true;
        return false;
    };
    QDeadlineTimer deadline(nTimeoutMs);
    m_process.write(strLine.toLatin1() + '\n');
    if (!m_process.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    for (;;) {
        m_strOutput += QString::fromLatin1(m_process.readAllStandardOutput());
        if (answered(QStringLiteral("ok")))
            return true;
        if (answered(QStringLiteral("error")) || deadline.hasExpired() ||
            !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
}

QString CSimProcess::Stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    if (!m_bStarted)
        return {};
    m_strOutput += QString::fromLatin1(m_process.readAllStandardOutput());
    return ErrorOutput();
}

CSimProcess::~CSimProcess()
{
    Stop();
}

QString CSimProcess::ErrorOutput()
{
    if (m_bStarted)
        m_strErrors += QString::fromLatin1(m_process.readAllStandardError());
    return m_strErrors;
}

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

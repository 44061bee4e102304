// The fixtures of the command-line tests: `norvane` as a real process inside
// the private segment, against a peer socket on port 8400 that checks each
// request's bytes and scripts the replies (CliTest), or against norvane-sim
// (CliSimTest).
#pragma once

#include "msgbytes.h"
#include "simprocess.h"
#include "testfiles.h"
#include "waitfor.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <functional>
#include <map>
#include <memory>

inline const QHostAddress kAppliance(QStringLiteral("10.200.7.9"));

struct CliRun {
    int nExit = -1;
    QString strOut;
    QString strErr;
};

inline QByteArray Image(char cSeed)
{
    QByteArray image(FLASHINFO_SIZE, '\0');
    for (int i = 0; i < FLASHINFO_SIZE; ++i)
        image[i] = char(cSeed + i * 7);
    return image;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariable("NORVANE_CLI").isEmpty());
        ASSERT_TRUE(m_peer.bind(QHostAddress::AnyIPv4, DEVICE_PORT, QUdpSocket::ShareAddress));
        ASSERT_TRUE(m_dir.isValid());
    }

    // A socket that sends from this address and port (Qt cannot pick a
    // datagram's source); it also hears unicasts to the address.
    QUdpSocket& SocketAt(const QHostAddress& addr, quint16 nPort)
    {
        const QString strKey = QStringLiteral("%1:%2").arg(addr.toString()).arg(nPort);
        auto& pSocket = m_senders[strKey];
        if (!pSocket) {
            pSocket = std::make_unique<QUdpSocket>();
            EXPECT_TRUE(pSocket->bind(addr, nPort, QUdpSocket::ShareAddress)) << strKey.toStdString();
        }
        return *pSocket;
    }

    // Runs norvane; each request that reaches the appliance meanwhile goes to
    // answer, which returns the datagrams to send back (from the appliance's
    // address unless the reply names another sender).
    CliRun Run(const QStringList& args, const std::function<QList<QNetworkDatagram>(const QNetworkDatagram&)>& answer = {},
               const QString& strPassword = QStringLiteral("abcde"))
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NORVANE_PASSWORD"), strPassword);
        process.setProcessEnvironment(env);
        if (m_prepare)
            m_prepare(process);
        process.start(qEnvironmentVariable("NORVANE_CLI"), args);
        process.closeWriteChannel();
        if (m_started)
            m_started(process);
        while (!process.waitForFinished(5)) {
            for (QUdpSocket* pSocket : {&m_peer, &SocketAt(kAppliance, DEVICE_PORT)}) {
                while (pSocket->hasPendingDatagrams()) {
                    const QNetworkDatagram request = pSocket->receiveDatagram();
                    m_requests << request;
                    for (const QNetworkDatagram& reply : answer ? answer(request) : QList<QNetworkDatagram>{}) {
                        QUdpSocket& from = reply.senderAddress().isNull()
                                               ? SocketAt(kAppliance, DEVICE_PORT)
                                               : SocketAt(reply.senderAddress(), quint16(reply.senderPort()));
                        from.writeDatagram(reply.data(), request.senderAddress(), quint16(request.senderPort()));
                    }
                }
            }
        }
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // Answers each request of type nType with the reply bytes.
    static std::function<QList<QNetworkDatagram>(const QNetworkDatagram&)> Answer(int nType, const QByteArray& reply)
    {
        return [=](const QNetworkDatagram& request) {
            return request.data().startsWith(char(nType)) ? QList<QNetworkDatagram>{QNetworkDatagram(reply)}
                                                          : QList<QNetworkDatagram>{};
        };
    }

    QString Path(const char* pszName) const { return m_dir.filePath(QString::fromLatin1(pszName)); }

    // Called on the process before it starts (a test's redirections,
    // limits, umask) and once it has started.
    std::function<void(QProcess&)> m_prepare, m_started;
    QUdpSocket m_peer; // hears the broadcasts
    std::map<QString, std::unique_ptr<QUdpSocket>> m_senders;
    QList<QNetworkDatagram> m_requests;
    QTemporaryDir m_dir;
};

// Against the simulator: its --dump-dir holds what each appliance has.
class CliSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!CSimProcess::Available())
            GTEST_SKIP() << "needs norvane-sim, a Linux program";
        ASSERT_TRUE(m_dir.isValid());
    }
    CliRun Run(const QStringList& args)
    {
        QProcess process;
        process.start(qEnvironmentVariable("NORVANE_CLI"), args + QStringList{"--password", "pw"});
        process.closeWriteChannel();
        process.waitForFinished(120000);
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    QString Dump(const QString& strIp) const { return m_dir.filePath(QStringLiteral("dump/%1.img").arg(strIp)); }
    QTemporaryDir m_dir;
    CSimProcess m_sim;
};

// The simulator with a log of every request it receives, and plans.
class CliFleetTest : public CliSimTest {
protected:
    void SetUp() override
    {
        CliSimTest::SetUp();
        m_strLog = m_dir.filePath(QStringLiteral("sim.log"));
    }
    // Starts the simulator, logging every request it receives.
    bool StartSim(const QStringList& args) { return m_sim.Start(args + QStringList{"--log", m_strLog}); }
    // Requests of this type ("0x11") the simulator received since the log was last cleared.
    int Received(const char* pszType) const
    {
        return int(ReadText(m_strLog).count(QStringLiteral("type=%1 ").arg(QLatin1String(pszType))));
    }
    // The simulator appends: it goes on writing to the emptied file.
    void ClearLog() const { QFile::resize(m_strLog, 0); }
    QString Plan(const QByteArray& text)
    {
        const QString strPath = m_dir.filePath(QStringLiteral("plan.csv"));
        WriteFile(strPath, text);
        return strPath;
    }
    // MAC -> address, by a discovery.
    QMap<QString, QString> Where()
    {
        QMap<QString, QString> where;
        QProcess process;
        process.start(qEnvironmentVariable("NORVANE_CLI"), {"discover", "--format", "csv", "--timeout", "0.3"});
        process.waitForFinished(10000);
        for (const QString& strLine : QString::fromUtf8(process.readAllStandardOutput()).split('\n').mid(1))
            if (!strLine.isEmpty())
                where.insert(strLine.section(',', 0, 0), strLine.section(',', 1, 1));
        return where;
    }
    QString m_strLog;
};

inline const QStringList kQuick{"--discover-timeout", "0.3", "--timeout", "0.5"};

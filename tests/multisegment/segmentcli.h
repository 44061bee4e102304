// norvane run as a real process by the tests of several segments, and the
// addresses its JSON lists.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>

struct CliRun {
    int nExit = -1;
    QString strOut;
    QString strErr;
};

inline CliRun Cli(const QStringList& args)
{
    QProcess process;
    process.start(qEnvironmentVariable("NORVANE_CLI"), args);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

inline QSet<QString> Listed(const QString& strJson)
{
    QSet<QString> ips;
    for (const QJsonValue& entry : QJsonDocument::fromJson(strJson.toUtf8()).array())
        ips.insert(entry.toObject()["ip"].toString());
    return ips;
}

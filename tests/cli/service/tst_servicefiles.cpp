// What a service reads and keeps on disk: its options file, and its state
// across restarts, damaged ones included.
#include "optionsfile.h"
#include "statefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(OptionsFile, LinesBecomeOptionsAndTheRefusedOnesAreNamed)
{
    QStringList problems;
    const QStringList args = ParseOptionsFile("# staging\n\n  interface  staging0  \n--scan 10.9.7.0/24\ncorrect-drift\r\n"
                                              "plan /etc/norvane/a b.csv\n",
                                              QStringLiteral("f.conf"), problems);
    EXPECT_EQ(args, QStringList({"--interface", "staging0", "--scan", "10.9.7.0/24", "--correct-drift",
                                 "/etc/norvane/a b.csv"}));
    EXPECT_TRUE(problems.isEmpty());

    ParseOptionsFile("password secret\noptions-file other.conf\nplan -\n-v\ninterface=eth0\n", QStringLiteral("f.conf"),
                     problems);
    ASSERT_EQ(problems.size(), 5);
    EXPECT_TRUE(problems[0].startsWith("f.conf:1: no password here"));
    EXPECT_FALSE(problems.join(' ').contains("secret"));
    EXPECT_TRUE(problems[4].startsWith("f.conf:5: "));
}

TEST(StateFile, KeepsWhatWasBelievedAndDoneAndTakesNothingDamaged)
{
    QTemporaryDir dir;
    const QString strPath = dir.filePath(QStringLiteral("state.json"));
    Appliance a = Appliance::Heard(QStringLiteral("00-1a-2b-00-00-01"), QStringLiteral("10.200.1.1"),
                                   QStringLiteral("NV1"), 0);
    a.interfaces = {QStringLiteral("eth0")};
    a.foundBy = {QStringLiteral("broadcast:eth0")};
    const WatchState state{{a}, {{QStringLiteral("00:1A:2B:00:00:01"), QStringLiteral("10.200.1.101"), true, false,
                                   {1765000000000}}}};
    CStateFile(strPath, QStringLiteral("provision --watch")).Save(state);
    EXPECT_FALSE(QFile::permissions(strPath) & (QFileDevice::ReadGroup | QFileDevice::ReadOther));

    const WatchState read = CStateFile(strPath, QStringLiteral("provision --watch")).Load();
    ASSERT_EQ(read.believed.size(), 1);
    EXPECT_EQ(read.believed[0].strMacKey, "00:1A:2B:00:00:01");
    EXPECT_TRUE(read.believed[0].Proven());
    EXPECT_EQ(read.believed[0].foundBy, a.foundBy);
    ASSERT_EQ(read.done.size(), 1);
    EXPECT_TRUE(read.done[0].bMoved);
    EXPECT_EQ(read.done[0].corrections, QList<qint64>{1765000000000});

    // Another command's state, and damaged ones: a clean start each.
    EXPECT_TRUE(CStateFile(strPath, QStringLiteral("watch")).Load().done.isEmpty());
    const CStateFile file(strPath, QStringLiteral("provision --watch"));
    const QByteArray good = file.Text(state);
    for (const QByteArray& damaged : {good.left(good.size() / 2), QByteArray("[]"), QByteArray(),
                                      QByteArray(good).replace("00:1A:2B:00:00:01", "00:1A:2B:00:00:0X"),
                                      QByteArray(good).replace("10.200.1.1\"", "10.200.1.999\"")}) {
        WatchState parsed;
        QString strWhy;
        EXPECT_FALSE(file.Parse(damaged, parsed, strWhy)) << damaged.constData();
        EXPECT_FALSE(strWhy.isEmpty());
    }
    EXPECT_TRUE(CStateFile(dir.filePath(QStringLiteral("none")), QStringLiteral("watch")).Load().believed.isEmpty());
}

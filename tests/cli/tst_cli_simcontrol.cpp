// norvane-sim driven while it runs (--control -), seen through `norvane discover`.
#include "clifixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

class CliSimControlTest : public CliSimTest {
protected:
    // MAC -> "ip serial", as one discovery finds them.
    QMap<QString, QString> Found()
    {
        QProcess process;
        process.start(qEnvironmentVariable("NORVANE_CLI"), {"discover", "--format", "json", "--timeout", "0.3"});
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        QMap<QString, QString> found;
        for (const QJsonValue& value : QJsonDocument::fromJson(process.readAllStandardOutput()).array()) {
            const QJsonObject entry = value.toObject();
            found.insert(entry["mac"].toString(), entry["ip"].toString() + ' ' + entry["serial"].toString());
        }
        return found;
    }
};

TEST_F(CliSimControlTest, AppliancesAppearMoveChangeForgeAndLeaveOnCue)
{
    ASSERT_TRUE(m_sim.Start({"--count", "3", "--absent", "2", "--control", "-"}));
    EXPECT_EQ(Found().keys(), (QStringList{"00:1A:2B:00:00:01", "00:1A:2B:00:00:02"}));

    ASSERT_TRUE(m_sim.Control("appear 2"));
    ASSERT_TRUE(m_sim.Control("move 0 10.200.1.50"));
    ASSERT_TRUE(m_sim.Control("serial 1 NVCHANGED"));
    EXPECT_FALSE(m_sim.Control("move 1 10.200.1.50")); // appliance 0 holds it
    EXPECT_FALSE(m_sim.Control("leave 3"));
    const QMap<QString, QString> real{{"00:1A:2B:00:00:01", "10.200.1.50 NV10000001"},
                                      {"00:1A:2B:00:00:02", "10.200.1.2 NVCHANGED"},
                                      {"00:1A:2B:00:00:03", "10.200.1.3 NV10000003"}};
    EXPECT_EQ(Found(), real);

    ASSERT_TRUE(m_sim.Control("forge 20"));
    QMap<QString, QString> found = Found();
    int nForged = 0;
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (real.contains(it.key())) {
            EXPECT_EQ(it.value(), real[it.key()]);
        } else {
            EXPECT_TRUE(it.key().startsWith("02:00:00:")) << it.key().toStdString();
            EXPECT_TRUE(it.value().contains(" FORGED")) << it.value().toStdString();
            ++nForged;
        }
    }
    EXPECT_EQ(found.size() - nForged, 3);
    EXPECT_GT(nForged, 0);
    EXPECT_LE(nForged, 20);

    ASSERT_TRUE(m_sim.Control("forge 0"));
    ASSERT_TRUE(m_sim.Control("skip 1-2 1"));
    EXPECT_EQ(Found().keys(), QStringList{"00:1A:2B:00:00:01"});
    EXPECT_EQ(Found(), real); // one round missed, then back
    ASSERT_TRUE(m_sim.Control("leave 0-2"));
    EXPECT_TRUE(Found().isEmpty());
}

// New appliances arriving in batches at one factory address.
TEST_F(CliSimControlTest, SameAddressBatchesAppearInTurn)
{
    ASSERT_TRUE(m_sim.Start({"--count", "6", "--same-ip", "--absent", "0-5", "--control", "-"}));
    EXPECT_TRUE(Found().isEmpty());
    ASSERT_TRUE(m_sim.Control("appear 0-2"));
    EXPECT_EQ(Found().size(), 3);
    ASSERT_TRUE(m_sim.Control("appear 3-5"));
    EXPECT_EQ(Found().size(), 6);
}

} // namespace

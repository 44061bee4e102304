// The command line on a fleet: provision (a plan or --from) and restore-all, against the simulator.
#include "clifixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

TEST_F(CliFleetTest, ProvisionMovesAPlanChecksEachAndTouchesNothingWhenRunAgain)
{
    ASSERT_TRUE(StartSim({"--count", "4", "--mac-format", "dash", "--password", "pw"}));
    // Any column order, MACs in any form, spaces, blank lines, a quoted password; :04 stays out of the plan.
    const QString strPlan = Plan("ip , Password,mac\n"
                                 "10.200.5.1,pw, 001a2b000001\n\n"
                                 " 10.200.5.2 ,\"pw\",00:1a:2b:00:00:02\r\n"
                                 "10.200.1.3,,001A.2B00.0003\n");
    const CliRun dry = Run(QStringList{"provision", strPlan, "--dry-run", "--format", "csv"} + kQuick);
    EXPECT_EQ(dry.nExit, 0) << dry.strErr.toStdString();
    EXPECT_EQ(dry.strOut, "mac,ip,new_ip,action\n"
                          "00:1A:2B:00:00:01,10.200.1.1,10.200.5.1,change\n"
                          "00:1A:2B:00:00:02,10.200.1.2,10.200.5.2,change\n"
                          "00:1A:2B:00:00:03,10.200.1.3,10.200.1.3,already there\n");
    EXPECT_EQ(Received("0x11"), 0);

    ClearLog();
    const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
    const CliRun run = Run(QStringList{"provision", strPlan, "--report", strReport} + kQuick);
    EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
    EXPECT_EQ(Received("0x11"), 2);
    EXPECT_EQ(Received("0x10"), 4); // the discovery, one at each new address, one where :03 is already
    const QJsonArray report = QJsonDocument::fromJson(ReadFile(strReport)).array();
    ASSERT_EQ(report.size(), 3);
    EXPECT_EQ(report[0].toObject(), (QJsonObject{{"mac", "00-1A-2B-00-00-01"}, {"old_ip", "10.200.1.1"},
                                                 {"new_ip", "10.200.5.1"}, {"outcome", "moved"}, {"attempts", 1},
                                                 {"error", QJsonValue()}}));
    EXPECT_EQ(report[2].toObject()["outcome"], "already there");
    EXPECT_EQ(report[2].toObject()["attempts"], 0);
    const QMap<QString, QString> where = Where();
    EXPECT_EQ(where.value("00-1A-2B-00-00-01"), "10.200.5.1");
    EXPECT_EQ(where.value("00-1A-2B-00-00-02"), "10.200.5.2");
    EXPECT_EQ(where.value("00-1A-2B-00-00-04"), "10.200.1.4");

    ClearLog();
    const CliRun again = Run(QStringList{"provision", strPlan} + kQuick);
    EXPECT_EQ(again.nExit, 0) << again.strErr.toStdString();
    EXPECT_TRUE(again.strErr.contains("(0 moved, 3 already there)")) << again.strErr.toStdString();
    EXPECT_EQ(Received("0x11"), 0);
}

// What each refusal says is the plan reader's (tst_plan); here, that a
// refused plan sends no change, and only an occupied address needs the
// discovery.
TEST_F(CliFleetTest, ProvisionRefusesABadPlanNamingEachRowAndSendsNoChange)
{
    ASSERT_TRUE(StartSim({"--count", "3"}));
    const struct {
        QByteArray plan;
        const char* pszWanted; // in standard error
        bool bDiscovered;
    } cases[] = {
        {"mac,ip\n00:1A:2B:00:00:01,10.200.6.1\n00:1A:2B:00:00:02,10.200.255.255\n",
         "plan.csv:3: Bad IP Address: 10.200.255.255", false},
        {"mac,ip\n00:1A:2B:00:00:01,10.200.6.1\n00:1A:2B:00:00:02,10.200.1.3\n",
         "plan.csv:3: 10.200.1.3 already answers for another appliance, 00:1A:2B:00:00:03", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plan.toStdString());
        const CliRun run = Run(QStringList{"provision", Plan(c.plan)} + kQuick);
        EXPECT_EQ(run.nExit, 2);
        EXPECT_TRUE(run.strErr.contains(QLatin1String(c.pszWanted))) << run.strErr.toStdString();
        EXPECT_EQ(Received("0x10") > 0, c.bDiscovered);
        EXPECT_EQ(Received("0x11"), 0);
        ClearLog();
    }
}

TEST_F(CliFleetTest, ProvisionRefusesAPlanTooLargeToBeOneBeforeReadingItWhole)
{
    // Once read whole: a stream such as /dev/zero ended only when memory ran out.
    const QString strPlan = Plan("mac,ip\n");
    ASSERT_TRUE(QFile::resize(strPlan, (16 << 20) + 1));
    const CliRun run = Run(QStringList{"provision", strPlan, "--dry-run"} + kQuick);
    EXPECT_EQ(run.nExit, 2);
    EXPECT_TRUE(run.strErr.contains("is larger than 16 MiB")) << run.strErr.toStdString();
}

TEST_F(CliFleetTest, ProvisionSkipsAndReportsWhoDoesNotAnswerAndNumbersByMac)
{
    // :03 sits below the others: numbered by address it would come first.
    ASSERT_TRUE(StartSim({"--count", "2", "--first-ip", "10.200.1.5", "--extra-ip", "10.200.1.1"}));
    const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
    const CliRun run = Run(QStringList{"provision", Plan("mac,ip\n00:1A:2B:00:00:09,10.200.7.9\n00:1A:2B:00:00:01,10.200.7.1\n"),
                                       "--report", strReport} + kQuick);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(run.strErr.contains("  00:1A:2B:00:00:09: no appliance answers for this MAC")) << run.strErr.toStdString();
    const QJsonArray report = QJsonDocument::fromJson(ReadFile(strReport)).array();
    ASSERT_EQ(report.size(), 2);
    EXPECT_EQ(report[0].toObject()["outcome"], "not found");
    EXPECT_EQ(report[0].toObject()["old_ip"], QJsonValue());
    EXPECT_EQ(report[1].toObject()["outcome"], "moved");

    const CliRun numbered = Run(QStringList{"provision", "--from", "10.200.8.1", "--match", "00:1A:2B:00:00:0[23]"} + kQuick);
    EXPECT_EQ(numbered.nExit, 0) << numbered.strErr.toStdString();
    const QMap<QString, QString> where = Where();
    EXPECT_EQ(where.value("00:1A:2B:00:00:01"), "10.200.7.1");
    EXPECT_EQ(where.value("00:1A:2B:00:00:02"), "10.200.8.1");
    EXPECT_EQ(where.value("00:1A:2B:00:00:03"), "10.200.8.2");

    // Past the end of the subnet: 10.200.255.255 is its broadcast address.
    ClearLog();
    const CliRun past = Run(QStringList{"provision", "--from", "10.200.255.253"} + kQuick);
    EXPECT_EQ(past.nExit, 2);
    EXPECT_TRUE(past.strErr.contains("2 of 3 appliances fit from 10.200.255.253")) << past.strErr.toStdString();
    EXPECT_EQ(Received("0x11"), 0);
}

TEST_F(CliFleetTest, ProvisionAsksAgainThenSaysWhereAnApplianceThatDidNotMoveAnswers)
{
    ASSERT_TRUE(StartSim({"--count", "1", "--setip-no-move"}));
    const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
    const CliRun run = Run(QStringList{"provision", "--from", "10.200.9.1", "--retries", "1", "--report", strReport} + kQuick);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(Received("0x11"), 2);
    const QJsonObject entry = QJsonDocument::fromJson(ReadFile(strReport)).array().at(0).toObject();
    EXPECT_EQ(entry["outcome"], "failed");
    EXPECT_EQ(entry["attempts"], 2);
    EXPECT_EQ(entry["error"], "acknowledged, but 00:1A:2B:00:00:01 still answers from 10.200.1.1, not 10.200.9.1");
}

// New appliances arrive at one factory address: the change names each by its
// MAC, and their acknowledgements all come from that one address.
TEST_F(CliFleetTest, ProvisionTellsAppliancesAtOneFactoryAddressApartByMac)
{
    for (const char* pszAckFrom : {"old", "new"}) {
        SCOPED_TRACE(pszAckFrom);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--count", "6", "--same-ip", "--first-ip", "10.200.1.1", "--setip-ack-from", pszAckFrom}));
        const CliRun run = Run(QStringList{"provision", "--from", "10.200.9.1", "--parallel", "4"} + kQuick);
        EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
        const QMap<QString, QString> where = Where();
        ASSERT_EQ(where.size(), 6);
        for (int i = 1; i <= 6; ++i)
            EXPECT_EQ(where.value(QStringLiteral("00:1A:2B:00:00:0%1").arg(i)), QStringLiteral("10.200.9.%1").arg(i));
    }
}

TEST_F(CliFleetTest, RestoreAllLoadsEachFileIntoItsApplianceAndListsTheRest)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("dump"));
    QDir(m_dir.path()).mkdir(QStringLiteral("images"));
    ASSERT_TRUE(StartSim({"--count", "3", "--dump-dir", m_dir.filePath("dump")}));
    const auto image = [&](const char* pszName) { return m_dir.filePath(QStringLiteral("images/") + pszName); };
    WriteFile(image("00-1A-2B-00-00-01.cfg"), Image(1));
    WriteFile(image("00-1a-2b-00-00-02.cfg"), Image(2) + "tail");
    WriteFile(image("00-1A-2B-00-00-09.cfg"), Image(9));

    const CliRun noTerminal = Run({"restore-all", m_dir.filePath("images")});
    EXPECT_EQ(noTerminal.nExit, 2);
    EXPECT_TRUE(noTerminal.strErr.contains("without --yes")) << noTerminal.strErr.toStdString();

    WriteFile(image("00-1A-2B-00-00-03.cfg"), Image(3).left(FLASHINFO_SIZE - 1));
    const CliRun shortFile = Run(QStringList{"restore-all", m_dir.filePath("images"), "--yes"} + kQuick);
    EXPECT_EQ(shortFile.nExit, 2);
    EXPECT_TRUE(shortFile.strErr.contains("00-1A-2B-00-00-03.cfg holds fewer than 8192 bytes")) << shortFile.strErr.toStdString();
    EXPECT_EQ(Received("0x10") + Received("0x15"), 0);

    QFile::remove(image("00-1A-2B-00-00-03.cfg"));
    const QString strReport = m_dir.filePath(QStringLiteral("r.json"));
    const CliRun run = Run(QStringList{"restore-all", m_dir.filePath("images"), "--yes", "--report", strReport} + kQuick);
    EXPECT_EQ(run.nExit, 1); // the file for :09 found no appliance
    EXPECT_TRUE(run.strErr.contains("1 appliances have no file in " + m_dir.filePath("images") +
                                    " and are left as they are: 00:1A:2B:00:00:03 (10.200.1.3)\n"))
        << run.strErr.toStdString();
    EXPECT_TRUE(run.strErr.contains("00-1A-2B-00-00-09.cfg: no appliance answers for 00:1A:2B:00:00:09"));
    EXPECT_EQ(ReadFile(Dump("10.200.1.1")), Image(1));
    EXPECT_EQ(ReadFile(Dump("10.200.1.2")), Image(2));
    const QJsonArray report = QJsonDocument::fromJson(ReadFile(strReport)).array();
    ASSERT_EQ(report.size(), 4);
    EXPECT_EQ(report[1].toObject()["outcome"], "ok");
    EXPECT_EQ(report[2].toObject()["outcome"], "not found");
    EXPECT_EQ(report[3].toObject()["outcome"], "no file");
}

// The dry run writes its plan row by row: the text is still that of the
// whole table, and of QJsonDocument.
TEST_F(CliFleetTest, ProvisionDryRunPrintsAlignedColumnsAndTheJsonOfAWholeDocument)
{
    ASSERT_TRUE(StartSim({"--count", "2"}));
    const QString strPlan =
        Plan("mac,ip\n00:1A:2B:00:00:01,10.200.5.1\n00:1A:2B:00:00:02,10.200.1.2\n00:1A:2B:00:00:09,10.200.5.9\n");
    EXPECT_EQ(Run(QStringList{"provision", strPlan, "--dry-run"} + kQuick).strOut,
              "MAC                IP          NEW IP      ACTION\n"
              "00:1A:2B:00:00:01  10.200.1.1  10.200.5.1  change\n"
              "00:1A:2B:00:00:02  10.200.1.2  10.200.1.2  already there\n"
              "00:1A:2B:00:00:09              10.200.5.9  not found\n");
    const QString strJson = Run(QStringList{"provision", strPlan, "--dry-run", "--format", "json"} + kQuick).strOut;
    const QJsonDocument json = QJsonDocument::fromJson(strJson.toUtf8());
    EXPECT_EQ(strJson, QString::fromUtf8(json.toJson(QJsonDocument::Indented)));
    ASSERT_EQ(json.array().size(), 3);
    EXPECT_EQ(json[0].toObject(), (QJsonObject{{"mac", "00:1A:2B:00:00:01"}, {"ip", "10.200.1.1"},
                                               {"new_ip", "10.200.5.1"}, {"action", "change"}}));
    EXPECT_EQ(json[2].toObject()["ip"], QJsonValue());
    EXPECT_EQ(Run(QStringList{"provision", Plan("mac,ip\n"), "--dry-run", "--format", "json"} + kQuick).strOut, "[\n]\n");
}

// "-" is standard input, as for restore; a file of that name is ./-.
TEST_F(CliFleetTest, ProvisionReadsAPlanPipedIntoStandardInput)
{
    WriteFile(m_dir.filePath(QStringLiteral("-")), "mac,ip\n00:1A:2B:00:00:01,10.200.6.1\n");
    const QString strPiped = Plan("mac,ip\n00:1A:2B:00:00:02,10.200.6.2\n00:1A:2B:00:00:03,10.200.06.3\n");
    const auto run = [&](const char* pszPlan, const QString& strStdin) {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.setStandardInputFile(strStdin);
        process.start(qEnvironmentVariable("NORVANE_CLI"),
                      QStringList{"provision", pszPlan, "--dry-run", "--format", "csv"} + kQuick);
        process.waitForFinished(20000);
        return CliRun{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                      QString::fromUtf8(process.readAllStandardError())};
    };
    const CliRun piped = run("-", strPiped);
    EXPECT_EQ(piped.nExit, 2);
    EXPECT_TRUE(piped.strErr.contains("norvane: standard input:3: Invalid IP Address: 10.200.06.3"))
        << piped.strErr.toStdString();
    EXPECT_EQ(run("./-", strPiped).strOut, "mac,ip,new_ip,action\n00:1A:2B:00:00:01,,10.200.6.1,not found\n");
}

// Numbering from an address in no local subnet would run on into whatever
// segment follows: refused before even the discovery, with the way out.
TEST_F(CliFleetTest, ProvisionFromAnAddressInNoKnownRangeIsRefusedBeforeAnythingIsSent)
{
    ASSERT_TRUE(StartSim({"--count", "1"}));
    const CliRun run = Run(QStringList{"provision", "--from", "10.210.1.252"} + kQuick);
    EXPECT_EQ(run.nExit, 2);
    EXPECT_TRUE(run.strErr.contains("name its range with --scan, e.g. --scan 10.210.1.0/24"))
        << run.strErr.toStdString();
    EXPECT_EQ(Received("0x10"), 0);
}

} // namespace

// The plan of norvane provision as read from its CSV file, numbered from a
// first address, and checked against what answers. Run in a private
// segment, so that the only local subnet is the segment's own.
#include "coremain.h"
#include "plan.h"
#include "testfiles.h"

#include <QTemporaryDir>

namespace {

QString Rows(const QList<PlanRow>& rows)
{
    QStringList out;
    for (const PlanRow& row : rows)
        out << row.strMac + ' ' + row.strIp + (row.HasPassword() ? ' ' + row.strPassword : QString());
    return out.join(QStringLiteral("; "));
}

TEST(Plan, FilesFromSpreadsheetsAndEditorsReadAlikeAndFaultsAreNamedByLine)
{
    QTemporaryDir dir;
    const QString strPath = dir.filePath(QStringLiteral("p.csv"));
    const struct {
        QByteArray text;
        const char* pszRows;
        const char* pszProblem; // in one of the problems; none wanted when null
    } cases[] = {
        // A spreadsheet's export: byte-order mark, CR LF, upper-case header.
        {"\xEF\xBB\xBFMAC,IP\r\n00-1a-2b-00-00-01,10.77.0.1\r\n", "00:1A:2B:00:00:01 10.77.0.1", nullptr},
        // Nothing strips a CR but the splitter, after a closing quote too.
        {"mac,ip,password\r\n00:1A:2B:00:00:01,10.77.0.1,\"p w\"\r\n", "00:1A:2B:00:00:01 10.77.0.1 p w", nullptr},
        {"ip,mac,password\n10.77.0.1 , 001a2b000001, \"a,\"\"b\"\n", "00:1A:2B:00:00:01 10.77.0.1 a,\"b", nullptr},
        // An empty password cell takes the password given as usual.
        {"mac,ip,password\n001a.2b00.0001,10.77.0.1,\n", "00:1A:2B:00:00:01 10.77.0.1", nullptr},
        {"mac,ip,password\n00:1A:2B:00:00:01,10.77.0.1,\xE9t\xE9\n", "00:1A:2B:00:00:01 10.77.0.1 \xC3\xA9t\xC3\xA9",
         nullptr},
        {"mac,ip\n00:1A:2B:00:00:01,\"10.77.0.1\n", "", "p.csv:2: a quote is not closed"},
        {"ip,password\n10.77.0.1,x\n", "", "p.csv:1: the header must name the columns mac and ip"},
        {"mac,ip,mac\n", "", "p.csv:1: column mac named twice"},
        {"\n\n", "", "empty: a header line"},
        {"mac,ip\n00:1A:2B:00:00:01,10.77.0.1.5\n", "00:1A:2B:00:00:01 ", "p.csv:2: "},
        {"mac,ip\n00:1A:2B:00:00:01,10.77.0.1\n001a2b000001,10.77.0.2\n", "00:1A:2B:00:00:01 10.77.0.1; 00:1A:2B:00:00:01 10.77.0.2",
         "p.csv:3: MAC 00:1A:2B:00:00:01 is planned already, at "},
        {"mac,ip\n00:1A:2B:00:00:01,10.77.0.1\n00:1A:2B:00:00:02,10.77.0.1\n", "00:1A:2B:00:00:01 10.77.0.1; 00:1A:2B:00:00:02 10.77.0.1",
         "p.csv:3: address 10.77.0.1 is planned already, at "},
        {"mac,ip\n00:1A:2B:00:00:01,127.0.0.5\n", "00:1A:2B:00:00:01 ", "p.csv:2: Bad IP Address: 127.0.0.5"},
        {"mac,ip\n00:1A:2B:00:00:01,10.200.06.1\n", "00:1A:2B:00:00:01 ", "p.csv:2: Invalid IP Address: 10.200.06.1 has a leading zero"},
        {"mac,ip\n00:1A:2B:00:00:01\n", "", "p.csv:2: 1 fields where the header has 2"},
        {"mac,ip\n00:1A:2B:00:00,10.77.0.1\n", "", "p.csv:2: not a MAC address"},
        {"mac,address\n", "", "p.csv:1: unknown column 'address'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        WriteFile(strPath, c.text);
        QStringList problems;
        const QList<PlanRow> rows = ReadPlan(strPath, {}, problems);
        EXPECT_EQ(Rows(rows), QString::fromUtf8(c.pszRows));
        if (!c.pszProblem)
            EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
        else
            EXPECT_EQ(problems.filter(QString::fromUtf8(c.pszProblem)).size(), 1) << problems.join('\n').toStdString();
    }
}

// The reader takes a plan a piece at a time; its encoding is still that of
// the whole file, however late the byte that decides it.
TEST(Plan, APlanReadInPiecesReadsAsOneWholeFile)
{
    QTemporaryDir dir;
    const QString strPath = dir.filePath(QStringLiteral("p.csv"));
    QByteArray ascii("mac,ip,password\n");
    for (int i = 0; ascii.size() <= (1 << 20); ++i)
        ascii += QStringLiteral("00:1A:2B:00:%1:%2,10.77.%3.%4,\n")
                     .arg(i >> 8, 2, 16, QLatin1Char('0'))
                     .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                     .arg(i / 250)
                     .arg(i % 250 + 1)
                     .toLatin1();
    const struct {
        QByteArray tail;
        QString strPassword; // of 00:1B:00:00:00:01
        const char* pszProblem;
    } cases[] = {
        {"00:1B:00:00:00:01,10.78.0.1,\xC3\xA9\n", QStringLiteral("\u00E9"), nullptr},
        // One byte that is no UTF-8 makes the whole file Latin-1.
        {"00:1B:00:00:00:01,10.78.0.1,\xC3\xA9\n00:1B:00:00:00:02,10.78.0.2,\xE9\n", QStringLiteral("\u00C3\u00A9"),
         nullptr},
        // Only at the file's start is a byte-order mark one.
        {"\xEF\xBB\xBF" "00:1B:00:00:00:01,10.78.0.1,x\n", {},
         ": not a MAC address: '\xEF\xBB\xBF" "00:1B:00:00:00:01'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail.toStdString());
        WriteFile(strPath, ascii + c.tail);
        QStringList problems;
        const QList<PlanRow> rows = ReadPlan(strPath, {}, problems);
        if (c.pszProblem) {
            EXPECT_EQ(problems, QStringList{strPath + QStringLiteral(":%1").arg(ascii.count('\n') + 1) +
                                            QString::fromUtf8(c.pszProblem)});
            continue;
        }
        ASSERT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
        ASSERT_EQ(rows.size(), ascii.count('\n') - 1 + c.tail.count('\n'));
        EXPECT_EQ(rows[ascii.count('\n') - 1].strPassword, c.strPassword);
    }
}

TEST(Plan, NumberingStopsBeforeAnAddressNoApplianceMayHaveAndOccupiedAddressesAreNamed)
{
    // The segment's subnet is 10.200.0.0/16: its broadcast address ends the run.
    const QList<Appliance> found{Appliance::Heard("00:1A:2B:00:00:01", "10.200.255.253", "NV1", 0),
                                 Appliance::Heard("00-1A-2B-00-00-02", "10.200.1.2", "NV2", 0),
                                 Appliance::Heard("00:1A:2B:00:00:03", "10.200.1.3", "NV3", 0)};
    QStringList problems;
    const QList<PlanRow> rows = NumberedPlan(found, QStringLiteral("10.200.255.253"), {}, problems);
    EXPECT_EQ(Rows(rows), "00:1A:2B:00:00:01 10.200.255.253; 00:1A:2B:00:00:02 10.200.255.254");
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].startsWith("00:1A:2B:00:00:03: 2 of 3 appliances fit from 10.200.255.253"))
        << problems[0].toStdString();

    // An appliance already where the plan puts it is no conflict; another one there is.
    problems.clear();
    CheckOccupied(rows, found, problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
    CheckOccupied({{"plan.csv:2", "00:1A:2B:00:00:09", "10.200.1.2", {}, false}}, found, problems);
    EXPECT_EQ(problems, QStringList{"plan.csv:2: 10.200.1.2 already answers for another appliance, 00:1A:2B:00:00:02"});
}

// Behind a router only the --scan range tells where a segment ends: the
// numbering stops there, and neither --from nor a plan row may take the
// range's network or broadcast address.
TEST(Plan, NumberingEndsWithTheSubnetOrScanRangeOfTheFirstAddress)
{
    QList<Appliance> four;
    for (int i = 1; i <= 4; ++i)
        four.append(Appliance::Heard(QStringLiteral("00:1A:2B:00:00:0%1").arg(i), QStringLiteral("10.200.1.%1").arg(i), {}, 0));
    const struct {
        const char* pszScan;
        const char* pszFirst;
        const char* pszRows;
        const char* pszProblem;
    } cases[] = {
        {"10.210.1.0/24", "10.210.1.253", "00:1A:2B:00:00:01 10.210.1.253; 00:1A:2B:00:00:02 10.210.1.254",
         "00:1A:2B:00:00:03: 2 of 4 appliances fit from 10.210.1.253: Bad IP Address: 10.210.1.255: the broadcast "
         "address of the --scan range 10.210.1.0/24"},
        {"10.210.2.8/31", "10.210.2.9", "00:1A:2B:00:00:01 10.210.2.9",
         "00:1A:2B:00:00:02: 1 of 4 appliances fit from 10.210.2.9: the --scan range 10.210.2.8/31 ends at 10.210.2.9"},
        // Inside the segment's 10.200.0.0/16 the smaller range ends first.
        {"10.200.5.0/24", "10.200.5.254", "00:1A:2B:00:00:01 10.200.5.254",
         "00:1A:2B:00:00:02: 1 of 4 appliances fit from 10.200.5.254: Bad IP Address: 10.200.5.255: the broadcast "
         "address of the --scan range 10.200.5.0/24"},
        {"", "10.210.1.252", "",
         "10.210.1.252 is in no subnet of this host: name its range with --scan, e.g. --scan 10.210.1.0/24"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszFirst);
        CAddressRanges scan;
        QString strError;
        ASSERT_TRUE(!*c.pszScan || scan.Add(QString::fromLatin1(c.pszScan), strError));
        QStringList problems;
        EXPECT_EQ(Rows(NumberedPlan(four, QString::fromLatin1(c.pszFirst), scan, problems)), c.pszRows);
        EXPECT_EQ(problems, QStringList{c.pszProblem});
        // With no appliance yet, before the discovery, only a first address in no range is refused.
        problems.clear();
        NumberedPlan({}, QString::fromLatin1(c.pszFirst), scan, problems);
        EXPECT_EQ(problems.size(), *c.pszRows ? 0 : 1);
    }

    QTemporaryDir dir;
    const QString strPath = dir.filePath(QStringLiteral("p.csv"));
    WriteFile(strPath,
              "mac,ip\n00:1A:2B:00:00:01,10.210.1.255\n00:1A:2B:00:00:02,10.210.1.0\n00:1A:2B:00:00:03,10.210.1.9\n"
              "00:1A:2B:00:00:04,10.200.0.1\n"); // the segment's address of this host
    CAddressRanges scan;
    QString strError;
    ASSERT_TRUE(scan.Add(QStringLiteral("10.210.1.0/24"), strError));
    QStringList problems;
    EXPECT_EQ(Rows(ReadPlan(strPath, scan, problems)),
              "00:1A:2B:00:00:01 ; 00:1A:2B:00:00:02 ; 00:1A:2B:00:00:03 10.210.1.9; 00:1A:2B:00:00:04 ");
    EXPECT_EQ(problems,
              (QStringList{strPath + ":2: Bad IP Address: 10.210.1.255: the broadcast address of the --scan range "
                                     "10.210.1.0/24",
                           strPath + ":3: Bad IP Address: 10.210.1.0: the network address of the --scan range "
                                     "10.210.1.0/24",
                           strPath + ":5: Bad IP Address: 10.200.0.1: an address of this host, on interface lo"}));
}

// provision --from --watch numbers one appliance at a time, around the
// addresses taken, and stops at the end of the range as NumberedPlan does.
TEST(Plan, NumberingAsAppliancesTurnUpSkipsTakenAddressesUpToTheRangesEnd)
{
    CAddressRanges scan;
    QString strError;
    ASSERT_TRUE(scan.Add(QStringLiteral("10.210.1.248/29"), strError));
    const QString strFirst = QStringLiteral("10.210.1.250");
    const QSet<QString> taken{QStringLiteral("10.210.1.251")};
    quint32 nNext = 0;
    QStringList given;
    for (int i = 1; i <= 5; ++i) {
        const Appliance a = Appliance::Heard(QStringLiteral("00:1A:2B:00:00:0%1").arg(i), "10.200.9.9", {}, 0);
        QString strWhy;
        const PlanRow row = NextNumberedRow(a, strFirst, scan, taken, nNext, strWhy);
        given << (row.strIp.isEmpty() ? strWhy : row.strIp);
    }
    EXPECT_EQ(given, QStringList({"10.210.1.250", "10.210.1.252", "10.210.1.253", "10.210.1.254",
                                  "no address is left from 10.210.1.250: the --scan range 10.210.1.248/29 ends at "
                                  "10.210.1.255"}));
    EXPECT_TRUE(InNumberingRange(QStringLiteral("10.210.1.254"), strFirst, scan));
    EXPECT_FALSE(InNumberingRange(QStringLiteral("10.210.1.249"), strFirst, scan));
}

} // namespace

int main(int argc, char** argv)
{
    return RunCoreSegmentTests(argc, argv);
}

// What discover and watch print, as a person or a script reads it.
#include "output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

// The one place this test makes an appliance.
Appliance Shown(const QString& strMac, const QString& strIp, const QString& strSerial)
{
    Appliance a = Appliance::Heard(strMac, strIp, strSerial, 0);
    a.interfaces = QStringList{"eth0"};
    a.foundBy = QStringList{"broadcast:eth0", "scan"};
    return a;
}

const QDateTime kWhen(QDate(2024, 3, 1), QTime(12, 30, 0, 250), Qt::OffsetFromUTC, 3600);

WatchEvent Moved()
{
    return {WatchEvent::EKind::Moved, Shown("00:1A:2B:00:00:01", "10.200.1.5", "NV\x1b[2J"), "10.200.1.4", {},
            QJsonObject{{"outcome", "done\n"}}};
}

TEST(Output, JsonEventsCarryTheApplianceWhatChangedAndTheTimeInUtc)
{
    const QByteArray line = FormatEvent(Moved(), kWhen, true);
    ASSERT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    EXPECT_EQ(object.keys(), QStringList({"event", "found_by", "interfaces", "ip", "mac", "outcome", "previous_ip",
                                          "serial", "time"}));
    EXPECT_EQ(object["event"], "moved");
    EXPECT_EQ(object["time"], "2024-03-01T11:30:00.250Z");
    EXPECT_EQ(object["serial"], "NV\x1b[2J");
    EXPECT_EQ(object["found_by"].toArray(), QJsonArray({"broadcast:eth0", "scan"}));

    WatchEvent changed = Moved();
    changed.eKind = WatchEvent::EKind::Changed;
    changed.strPreviousIp.clear();
    changed.strPreviousSerial = "NV0";
    const QJsonObject other = QJsonDocument::fromJson(FormatEvent(changed, kWhen, true)).object();
    EXPECT_FALSE(other.contains("previous_ip"));
    EXPECT_EQ(other["previous_serial"], "NV0");
}

TEST(Output, TextEventsShowLocalTimeWithItsOffsetAndNoControlCharacter)
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "XST-05:30");
    EXPECT_EQ(FormatEvent(Moved(), kWhen, false),
              "2024-03-01 17:00:00 +05:30  moved     00:1A:2B:00:00:01  10.200.1.5       NV\\x1b[2J  (was 10.200.1.4)"
              "  outcome: done\\x0a  broadcast:eth0 scan\n");
    qputenv("TZ", "XST+03");
    EXPECT_TRUE(FormatEvent(Moved(), kWhen, false).startsWith("2024-03-01 08:30:00 -03:00  moved "));
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
}

TEST(Output, TableColumnsLineUpEvenAroundEscapedText)
{
    const QStringList lines = QString::fromUtf8(FormatTable({Shown("00:1A:2B:00:00:01", "10.200.100.200", "A\tB"),
                                                              Shown("00:1a:2b:00:00:02", "10.2.0.1", "NV2")}))
                                  .split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "MAC                IP              SERIAL  INTERFACE  FOUND BY");
    EXPECT_EQ(lines[1], "00:1A:2B:00:00:01  10.200.100.200  A\\x09B  eth0       broadcast:eth0 scan");
    EXPECT_EQ(lines[2], "00:1a:2b:00:00:02  10.2.0.1        NV2     eth0       broadcast:eth0 scan");

    // Measured a row at a time, for a list too long to be held as text.
    const QList<QStringList> rows{{"A", "B", "C"}, {"wide", "x"}};
    QList<qsizetype> widths;
    for (const QStringList& row : rows)
        MeasureColumns(row, widths);
    EXPECT_EQ(ColumnsLine(rows[0], widths) + ColumnsLine(rows[1], widths), "A     B  C\nwide  x\n");
}

TEST(Output, CsvQuotesEveryFieldThatWouldSplitOrShiftARow)
{
    EXPECT_EQ(FormatCsv({Shown("00:1A:2B:00:00:01", "10.200.1.1", "a,b"), Shown("x\"y", " 10.2.0.1", "line\nbreak")}),
              "mac,ip,serial,interfaces,found_by\n"
              "00:1A:2B:00:00:01,10.200.1.1,\"a,b\",eth0,broadcast:eth0 scan\n"
              "\"x\"\"y\",\" 10.2.0.1\",\"line\nbreak\",eth0,broadcast:eth0 scan\n");
    EXPECT_EQ(CsvLine({"tab\there", "plain", ""}), "\"tab\there\",plain,\n");
    const QJsonArray array = QJsonDocument::fromJson(FormatJson({Shown("x\"y", "10.2.0.1", "a,b\n")})).array();
    ASSERT_EQ(array.size(), 1);
    EXPECT_EQ(array[0]["mac"], "x\"y");
    EXPECT_EQ(array[0]["serial"], "a,b\n");
    EXPECT_EQ(array[0]["interfaces"].toArray(), QJsonArray({"eth0"}));
}

} // namespace

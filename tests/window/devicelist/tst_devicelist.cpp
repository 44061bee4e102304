// The sorted device list model, across the block splits and merges of a
// list far longer than one block, checked against a plain sorted reference.
#include "devicelist.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

QString Mac(unsigned n, bool bLower)
{
    const QString strMac = QStringLiteral("00:1A:2B:%1:%2:%3")
                               .arg((n >> 16) & 255, 2, 16, QChar('0'))
                               .arg((n >> 8) & 255, 2, 16, QChar('0'))
                               .arg(n & 255, 2, 16, QChar('0'));
    return bLower ? strMac.toLower() : strMac.toUpper();
}

void ExpectSameAs(const CDeviceListModel& model, const std::map<QString, QString>& reference)
{
    ASSERT_EQ(model.rowCount(), int(reference.size()));
    int nRow = 0;
    for (const auto& [strKey, strIp] : reference) {
        EXPECT_EQ(model.GetItemText(nRow, 0).toCaseFolded(), strKey) << nRow;
        EXPECT_EQ(model.GetItemText(nRow, 1), strIp) << nRow;
        EXPECT_EQ(model.FindItem(strKey.toUpper()), nRow);
        ++nRow;
    }
}

TEST(DeviceListModel, StaysSortedAndUniqueThroughThousandsOfInsertsAndDeletes)
{
    CDeviceListModel model;
    std::map<QString, QString> reference;
    std::mt19937 random(7);
    // Replies in random order, repeats with the MAC in either case, as
    // AddDevice makes them: find, delete the old row, insert the new one.
    for (int i = 0; i < 6000; ++i) {
        const unsigned n = random() % 3000;
        const QString strMac = Mac(n, random() & 1);
        const QString strIp = QStringLiteral("10.200.%1.%2").arg(i / 250).arg(i % 250 + 1);
        const int nOld = model.FindItem(strMac);
        if (nOld >= 0)
            model.DeleteItem(nOld);
        const int nRow = model.InsertItem(strMac);
        model.SetItemText(nRow, 1, strIp);
        EXPECT_EQ(model.GetItemText(nRow, 0), strMac);
        reference[strMac.toCaseFolded()] = strIp;
    }
    ExpectSameAs(model, reference);

    // Thin it out from both ends and the middle, emptying whole blocks.
    for (int i = 0; i < 1500 && model.rowCount() > 0; ++i) {
        const int nRow = i % 3 == 0 ? 0 : i % 3 == 1 ? model.rowCount() - 1 : model.rowCount() / 2;
        reference.erase(model.GetItemText(nRow, 0).toCaseFolded());
        model.DeleteItem(nRow);
    }
    ExpectSameAs(model, reference);
    EXPECT_EQ(model.FindItem(QStringLiteral("not listed")), -1);

    model.DeleteAllItems();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.FindItem(Mac(1, false)), -1);
    EXPECT_EQ(model.InsertItem(Mac(1, false)), 0);
}

TEST(DeviceListModel, OutOfRangeRowsAreIgnored)
{
    CDeviceListModel model;
    model.InsertItem(QStringLiteral("b"));
    model.DeleteItem(-1);
    model.DeleteItem(1);
    model.SetItemText(1, 1, QStringLiteral("x"));
    model.SetItemText(0, 0, QStringLiteral("relabelled")); // the label fixes the row's place
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.GetItemText(0, 0), QStringLiteral("b"));
    EXPECT_EQ(model.GetItemText(-1, 0), QString());
    EXPECT_EQ(model.InsertItem(QStringLiteral("A")), 0);
    EXPECT_EQ(model.InsertItem(QStringLiteral("c")), 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// CDeviceListModel: the rows of the device list (devicelist.h), always in
// ascending order of their label, the MAC text, compared without regard to
// case, with the operations of a sorted list-view control on them, and the
// mark of the commands' target.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

class CDeviceListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

    int FindItem(const QString& strLabel) const;
    // The first row whose label is not less than strLabel; rowCount() when none.
    int LowerBound(const QString& strLabel) const;
    int InsertItem(const QString& strLabel);
    void SetItemText(int nRow, int nColumn, const QString& strText);
    QString GetItemText(int nRow, int nColumn) const;
    void DeleteItem(int nRow);
    void DeleteAllItems();

    // Marks the rows whose label matches strLabel (without regard to case)
    // as the target; they keep the mark through deletes and inserts.
    void SetTargetLabel(const QString& strLabel);
    // The target's row; -1 when it is not listed or nothing was picked.
    int TargetRow() const;
    bool IsTarget(int nRow) const;

private:
    struct Row {
        QString strKey; // the label case-folded: the sort and match key
        QString strText[3];
    };
    using RowPtr = std::unique_ptr<Row>;

    // Row number of the first row whose key is not less (bUpper: greater)
    // than strKey.
    int Bound(const QString& strKey, bool bUpper) const;
    // Block holding row nRow, and the row's place in it.
    std::pair<int, int> Locate(int nRow) const;
    const Row& At(int nRow) const;
    void RenumberFrom(std::size_t nBlock);

    // Rows in label order, in blocks of a few hundred: an insert or delete
    // shifts one block, not the whole list, so filling the list with
    // thousands of appliances stays far from quadratic.
    std::vector<std::vector<RowPtr>> m_blocks;
    std::vector<int> m_blockStarts; // row number of each block's first row
    int m_nRows = 0;
    bool m_bHasTarget = false;
    QString m_strTargetKey; // case-folded, as the rows' keys
};

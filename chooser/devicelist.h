// CDeviceList: the device list of the chooser page, a report view of three
// columns (MAC address, IP address, serial number) whose rows are always in
// ascending order of their label, the MAC text, compared without regard to
// case. Its operations are those of a sorted list-view control: find a row
// by label, insert a label (landing at its sorted place), set a column's
// text, delete rows, select a row and scroll it into view.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <vector>

class QTableView;

class CDeviceListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

    int FindItem(const QString& strLabel) const;
    int InsertItem(const QString& strLabel);
    void SetItemText(int nRow, int nColumn, const QString& strText);
    QString GetItemText(int nRow, int nColumn) const;
    void DeleteItem(int nRow);
    void DeleteAllItems();

private:
    struct Row {
        QString strKey; // the label case-folded: the sort and match key
        QString strText[3];
    };
    // First row whose key is not less than strKey.
    int LowerBound(const QString& strKey) const;

    std::vector<Row> m_rows;
};

class CDeviceList {
public:
    // Takes over the view from the page's layout and gives it a model.
    explicit CDeviceList(QTableView* pView);

    // Grid lines, full-row selection, several rows selectable, selection
    // shown without focus, fixed header whose clicks change nothing.
    void InitStyle();
    void InsertColumns(int nColumnWidth);

    int FindItem(const QString& strLabel) const { return m_model.FindItem(strLabel); }
    int InsertItem(const QString& strLabel) { return m_model.InsertItem(strLabel); }
    void SetItemText(int nRow, int nColumn, const QString& strText) { m_model.SetItemText(nRow, nColumn, strText); }
    QString GetItemText(int nRow, int nColumn) const { return m_model.GetItemText(nRow, nColumn); }
    void DeleteItem(int nRow) { m_model.DeleteItem(nRow); }
    void DeleteAllItems() { m_model.DeleteAllItems(); }
    int GetItemCount() const { return m_model.rowCount(); }

    // Adds the row to the selection; focus and the other rows are left alone.
    void SelectItem(int nRow);
    bool IsSelected(int nRow) const;
    void EnsureVisible(int nRow);

    QTableView* View() const { return m_pView; }

private:
    QTableView* m_pView;
    CDeviceListModel m_model;
};

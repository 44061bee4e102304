// CDeviceList: the device list of the chooser page, a report view of three
// columns (MAC address, IP address, serial number) whose rows are always in
// ascending order of their label, the MAC text, compared without regard to
// case. Its operations are those of a sorted list-view control: find a row
// by label, insert a label (landing at its sorted place), set a column's
// text, delete rows, select a row and scroll it into view.
//
// Emptied and refilled by every refresh, the list still holds still for the
// reader: the rows in view (those from the top row's label on) and the
// current row come back as their appliances answer again, until the user
// scrolls or moves in the list.
//
// The target of the commands, the row last picked, is marked: drawn in bold,
// and each of its cells says so after its column's name. The keyboard may
// move the selection elsewhere; the mark stays with the target.
#pragma once

#include "devicelistmodel.h"

#include <QString>
#include <QTableView>

// The list's view. Besides a mouse click, two acts pick a row, for those
// who hold no mouse: Space on the current row, and a row selected over the
// accessibility bus (a reader's Toggle on a cell, the table's row
// selection), told from the keyboard's and the mouse's selections by coming
// outside any event of the view and outside the program's own changes. Each
// makes the row current and alone selected, as a click does, and emits
// rowPicked. The current row is told to a reader as focused only while the
// list has the focus.
class CDeviceView : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;

    // While one lives, selection changes are the program's, never a pick.
    class CProgramChange {
    public:
        explicit CProgramChange(CDeviceView& view) : m_view(view) { ++m_view.m_nProgramChanges; }
        ~CProgramChange() { --m_view.m_nProgramChanges; }
        CProgramChange(const CProgramChange&) = delete;
        CProgramChange& operator=(const CProgramChange&) = delete;

    private:
        CDeviceView& m_view;
    };

signals:
    void rowPicked(int nRow);

protected:
    bool event(QEvent* pEvent) override;
    bool viewportEvent(QEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    void PickRow(int nRow);

    int m_nInEvent = 0;
    int m_nProgramChanges = 0;
};

class CDeviceList {
public:
    // Takes over the view from the page's layout and gives it a model.
    explicit CDeviceList(CDeviceView* pView);

    // Grid lines, full-row selection, several rows selectable, selection
    // shown without focus, fixed header whose clicks change nothing.
    void InitStyle();
    void InsertColumns(int nColumnWidth);
    // A third of the width that rows get beside a vertical scroll bar.
    int FittingColumnWidth() const;

    int FindItem(const QString& strLabel) const { return m_model.FindItem(strLabel); }
    int InsertItem(const QString& strLabel);
    void SetItemText(int nRow, int nColumn, const QString& strText) { m_model.SetItemText(nRow, nColumn, strText); }
    QString GetItemText(int nRow, int nColumn) const { return m_model.GetItemText(nRow, nColumn); }
    void DeleteItem(int nRow);
    // Remembers the top row in view and the current row, then empties the list.
    void DeleteAllItems();
    int GetItemCount() const { return m_model.rowCount(); }

    // Adds the row to the selection; focus and the other rows are left alone.
    void SelectItem(int nRow);
    bool IsSelected(int nRow) const;
    void EnsureVisible(int nRow);

    // Marks the target's row (see CDeviceListModel::SetTargetLabel) and has
    // a reader told of the cells whose description changed.
    void SetTarget(const QString& strLabel);
    bool IsTarget(int nRow) const { return m_model.IsTarget(nRow); }

    CDeviceView* View() const { return m_pView; }

private:
    // Puts the remembered top row back at the top, once the view knows its new extent.
    void HoldView();
    void SetCurrent(int nRow);

    CDeviceView* m_pView;
    CDeviceListModel m_model;
    // Case-folded labels; empty when nothing is held.
    QString m_strTopKey;
    QString m_strCurrentKey;
    bool m_bMovingView = false;
};

#include "devicelist.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPalette>
#include <QTableView>

#include <algorithm>

namespace {
const char* const kColumnTitles[3] = {"MAC Address", "IP Address", "Serial Number"};
}

int CDeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CDeviceListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant CDeviceListModel::data(const QModelIndex& index, int nRole) const
{
    if (nRole != Qt::DisplayRole || !index.isValid())
        return {};
    return m_rows[std::size_t(index.row())].strText[index.column()];
}

QVariant CDeviceListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation == Qt::Horizontal && nRole == Qt::DisplayRole && nSection >= 0 && nSection < 3)
        return QString::fromLatin1(kColumnTitles[nSection]);
    if (orientation == Qt::Horizontal && nRole == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

int CDeviceListModel::LowerBound(const QString& strKey) const
{
    const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), strKey,
                                     [](const Row& row, const QString& key) { return row.strKey < key; });
    return int(it - m_rows.begin());
}

int CDeviceListModel::FindItem(const QString& strLabel) const
{
    const QString strKey = strLabel.toCaseFolded();
    const int nRow = LowerBound(strKey);
    return nRow < int(m_rows.size()) && m_rows[std::size_t(nRow)].strKey == strKey ? nRow : -1;
}

int CDeviceListModel::InsertItem(const QString& strLabel)
{
    QString strKey = strLabel.toCaseFolded();
    // After any row with the same key, as a sorted list control places it.
    const auto it = std::upper_bound(m_rows.begin(), m_rows.end(), strKey,
                                     [](const QString& key, const Row& row) { return key < row.strKey; });
    const int nRow = int(it - m_rows.begin());
    beginInsertRows({}, nRow, nRow);
    m_rows.insert(it, Row{std::move(strKey), {strLabel, QString(), QString()}});
    endInsertRows();
    return nRow;
}

void CDeviceListModel::SetItemText(int nRow, int nColumn, const QString& strText)
{
    // Column 0 is the label, which fixes the row's place: it is set only on insert.
    if (nRow < 0 || nRow >= int(m_rows.size()) || nColumn < 1 || nColumn > 2)
        return;
    m_rows[std::size_t(nRow)].strText[nColumn] = strText;
    const QModelIndex cell = index(nRow, nColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

QString CDeviceListModel::GetItemText(int nRow, int nColumn) const
{
    if (nRow < 0 || nRow >= int(m_rows.size()) || nColumn < 0 || nColumn > 2)
        return {};
    return m_rows[std::size_t(nRow)].strText[nColumn];
}

void CDeviceListModel::DeleteItem(int nRow)
{
    if (nRow < 0 || nRow >= int(m_rows.size()))
        return;
    beginRemoveRows({}, nRow, nRow);
    m_rows.erase(m_rows.begin() + nRow);
    endRemoveRows();
}

void CDeviceListModel::DeleteAllItems()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

CDeviceList::CDeviceList(QTableView* pView) : m_pView(pView)
{
    m_pView->setModel(&m_model);
}

void CDeviceList::InitStyle()
{
    m_pView->setShowGrid(true);
    m_pView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pView->setSortingEnabled(false);
    m_pView->setWordWrap(false);
    m_pView->verticalHeader()->hide();
    m_pView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pView->verticalHeader()->setDefaultSectionSize(m_pView->fontMetrics().height() + 4);
    m_pView->horizontalHeader()->setSectionsClickable(false);
    m_pView->horizontalHeader()->setSortIndicatorShown(false);
    m_pView->horizontalHeader()->setStretchLastSection(false);
    m_pView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pView->horizontalHeader()->setHighlightSections(false);

    // The selection stays visible in its full colour when the list loses focus.
    QPalette palette = m_pView->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    m_pView->setPalette(palette);
}

void CDeviceList::InsertColumns(int nColumnWidth)
{
    for (int i = 0; i < 3; ++i)
        m_pView->setColumnWidth(i, nColumnWidth);
}

void CDeviceList::SelectItem(int nRow)
{
    m_pView->selectionModel()->select(m_model.index(nRow, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

bool CDeviceList::IsSelected(int nRow) const
{
    return m_pView->selectionModel()->isRowSelected(nRow, {});
}

void CDeviceList::EnsureVisible(int nRow)
{
    m_pView->scrollTo(m_model.index(nRow, 0), QAbstractItemView::EnsureVisible);
}

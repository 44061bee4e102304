#include "devicelistmodel.h"

#include <QFont>

#include <algorithm>

namespace {
const char* const kColumnTitles[3] = {"MAC Address", "IP Address", "Serial Number"};
constexpr std::size_t BLOCK_ROWS = 256;
const char* const kTargetMark = " of the appliance the commands act on";
} // namespace

int CDeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_nRows;
}

int CDeviceListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant CDeviceListModel::data(const QModelIndex& index, int nRole) const
{
    if (!index.isValid())
        return {};
    if (nRole == Qt::DisplayRole)
        return At(index.row()).strText[index.column()];
    const bool bTarget = IsTarget(index.row());
    // A reader says each cell with its column's name, and of the target's row, that it is the target.
    if (nRole == Qt::AccessibleDescriptionRole)
        return QString::fromLatin1(kColumnTitles[index.column()]) + (bTarget ? kTargetMark : "");
    if (nRole == Qt::FontRole && bTarget) {
        QFont font;
        font.setBold(true);
        return font;
    }
    return {};
}

QVariant CDeviceListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation == Qt::Horizontal && nRole == Qt::DisplayRole && nSection >= 0 && nSection < 3)
        return QString::fromLatin1(kColumnTitles[nSection]);
    if (orientation == Qt::Horizontal && nRole == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

std::pair<int, int> CDeviceListModel::Locate(int nRow) const
{
    const auto it = std::upper_bound(m_blockStarts.begin(), m_blockStarts.end(), nRow);
    const int nBlock = int(it - m_blockStarts.begin()) - 1;
    return {nBlock, nRow - m_blockStarts[std::size_t(nBlock)]};
}

const CDeviceListModel::Row& CDeviceListModel::At(int nRow) const
{
    const auto [nBlock, nIndex] = Locate(nRow);
    return *m_blocks[std::size_t(nBlock)][std::size_t(nIndex)];
}

void CDeviceListModel::RenumberFrom(std::size_t nBlock)
{
    m_blockStarts.resize(m_blocks.size());
    for (std::size_t i = nBlock; i < m_blocks.size(); ++i)
        m_blockStarts[i] = i == 0 ? 0 : m_blockStarts[i - 1] + int(m_blocks[i - 1].size());
}

int CDeviceListModel::Bound(const QString& strKey, bool bUpper) const
{
    // "Row comes after the key": greater for an upper bound, not less for a lower one.
    const auto after = [bUpper](const QString& rowKey, const QString& key) {
        return bUpper ? key < rowKey : !(rowKey < key);
    };
    // The first block whose last row comes after the key holds the bound.
    const auto block = std::partition_point(m_blocks.begin(), m_blocks.end(), [&](const std::vector<RowPtr>& rows) {
        return !after(rows.back()->strKey, strKey);
    });
    if (block == m_blocks.end())
        return m_nRows;
    const auto row = std::partition_point(block->begin(), block->end(),
                                          [&](const RowPtr& pRow) { return !after(pRow->strKey, strKey); });
    return m_blockStarts[std::size_t(block - m_blocks.begin())] + int(row - block->begin());
}

int CDeviceListModel::FindItem(const QString& strLabel) const
{
    const QString strKey = strLabel.toCaseFolded();
    const int nRow = Bound(strKey, false);
    return nRow < m_nRows && At(nRow).strKey == strKey ? nRow : -1;
}

int CDeviceListModel::LowerBound(const QString& strLabel) const
{
    return Bound(strLabel.toCaseFolded(), false);
}

int CDeviceListModel::InsertItem(const QString& strLabel)
{
    QString strKey = strLabel.toCaseFolded();
    // After any row with the same key, as a sorted list control places it.
    const int nRow = Bound(strKey, true);
    beginInsertRows({}, nRow, nRow);
    auto pRow = std::make_unique<Row>(Row{std::move(strKey), {strLabel, QString(), QString()}});
    if (m_blocks.empty()) {
        m_blocks.emplace_back();
        m_blocks.back().push_back(std::move(pRow));
    } else {
        // A row past the end goes into the last block.
        auto [nBlock, nIndex] = nRow < m_nRows ? Locate(nRow) : std::pair<int, int>(int(m_blocks.size()) - 1, 0);
        std::vector<RowPtr>& rows = m_blocks[std::size_t(nBlock)];
        if (nRow >= m_nRows)
            nIndex = int(rows.size());
        rows.insert(rows.begin() + nIndex, std::move(pRow));
        if (rows.size() > 2 * BLOCK_ROWS) {
            std::vector<RowPtr> upper(std::make_move_iterator(rows.begin() + BLOCK_ROWS),
                                      std::make_move_iterator(rows.end()));
            rows.resize(BLOCK_ROWS);
            m_blocks.insert(m_blocks.begin() + nBlock + 1, std::move(upper));
        }
    }
    ++m_nRows;
    RenumberFrom(0);
    endInsertRows();
    return nRow;
}

void CDeviceListModel::SetItemText(int nRow, int nColumn, const QString& strText)
{
    // Column 0 is the label, which fixes the row's place: it is set only on insert.
    if (nRow < 0 || nRow >= m_nRows || nColumn < 1 || nColumn > 2)
        return;
    const auto [nBlock, nIndex] = Locate(nRow);
    m_blocks[std::size_t(nBlock)][std::size_t(nIndex)]->strText[nColumn] = strText;
    const QModelIndex cell = index(nRow, nColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

QString CDeviceListModel::GetItemText(int nRow, int nColumn) const
{
    if (nRow < 0 || nRow >= m_nRows || nColumn < 0 || nColumn > 2)
        return {};
    return At(nRow).strText[nColumn];
}

void CDeviceListModel::DeleteItem(int nRow)
{
    if (nRow < 0 || nRow >= m_nRows)
        return;
    beginRemoveRows({}, nRow, nRow);
    const auto [nBlock, nIndex] = Locate(nRow);
    std::vector<RowPtr>& rows = m_blocks[std::size_t(nBlock)];
    rows.erase(rows.begin() + nIndex);
    if (rows.empty())
        m_blocks.erase(m_blocks.begin() + nBlock);
    --m_nRows;
    RenumberFrom(0);
    endRemoveRows();
}

void CDeviceListModel::DeleteAllItems()
{
    beginResetModel();
    m_blocks.clear();
    m_blockStarts.clear();
    m_nRows = 0;
    endResetModel();
}

void CDeviceListModel::SetTargetLabel(const QString& strLabel)
{
    const auto changed = [this](int nRow) {
        if (nRow >= 0)
            emit dataChanged(index(nRow, 0), index(nRow, 2), {Qt::FontRole, Qt::AccessibleDescriptionRole});
    };
    const int nOld = TargetRow();
    m_bHasTarget = true;
    m_strTargetKey = strLabel.toCaseFolded();
    changed(nOld);
    changed(TargetRow());
}

int CDeviceListModel::TargetRow() const
{
    return m_bHasTarget ? FindItem(m_strTargetKey) : -1;
}

bool CDeviceListModel::IsTarget(int nRow) const
{
    return m_bHasTarget && nRow >= 0 && nRow < m_nRows && At(nRow).strKey == m_strTargetKey;
}

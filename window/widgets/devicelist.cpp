#include "devicelist.h"

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPalette>
#include <QScrollBar>

#include <algorithm>

bool CDeviceView::event(QEvent* pEvent)
{
    ++m_nInEvent;
    const bool bHandled = QTableView::event(pEvent);
    --m_nInEvent;
    return bHandled;
}

bool CDeviceView::viewportEvent(QEvent* pEvent)
{
    ++m_nInEvent;
    const bool bHandled = QTableView::viewportEvent(pEvent);
    --m_nInEvent;
    return bHandled;
}

void CDeviceView::keyPressEvent(QKeyEvent* pEvent)
{
    // Enter is left to the sheet, where it presses the default button; Ctrl+Space still toggles a row.
    const bool bPick = pEvent->key() == Qt::Key_Space || pEvent->key() == Qt::Key_Select;
    if (bPick && pEvent->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        PickRow(currentIndex().row());
        pEvent->accept();
        return;
    }
    QTableView::keyPressEvent(pEvent);
}

void CDeviceView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // QTableView tells a reader that the new current cell has the focus even
    // while the focus is elsewhere (the password field, an open box): skip it
    // then, and only it.
    if (hasFocus())
        QTableView::currentChanged(current, previous);
    else
        QAbstractItemView::currentChanged(current, previous);
}

void CDeviceView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QTableView::selectionChanged(selected, deselected);
    if (m_nInEvent > 0 || m_nProgramChanges > 0)
        return;
    // While a box or dialog is open over the list, a click could not reach
    // it either: the command that opened it must not find a new target.
    if (const QWidget* pModal = QApplication::activeModalWidget(); pModal && pModal != window())
        return;
    // Neither a key, nor the mouse, nor the program: the accessibility bus,
    // a reader's act. Its Toggle on a row already selected deselects it;
    // that picks the row too.
    const QItemSelection& rows = selected.isEmpty() ? deselected : selected;
    if (!rows.isEmpty())
        PickRow(rows.first().top());
}

void CDeviceView::PickRow(int nRow)
{
    const QModelIndex current = currentIndex();
    const int nColumn = current.isValid() && current.row() == nRow ? current.column() : 0;
    {
        const CProgramChange change(*this);
        selectionModel()->setCurrentIndex(model()->index(nRow, nColumn),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    emit rowPicked(nRow);
}

CDeviceList::CDeviceList(CDeviceView* pView) : m_pView(pView)
{
    m_pView->setModel(&m_model);
    // Rows come back over many layouts; each new extent of the scroll bar
    // is one at which the top row can be put back.
    QScrollBar* pBar = m_pView->verticalScrollBar();
    // The model is the context: the view outlives this list.
    QObject::connect(pBar, &QScrollBar::rangeChanged, &m_model, [this] { HoldView(); });
    // Once the user scrolls or moves, the view is theirs.
    QObject::connect(pBar, &QScrollBar::actionTriggered, &m_model, [this] { m_strTopKey.clear(); });
    QObject::connect(m_pView->selectionModel(), &QItemSelectionModel::currentChanged, &m_model,
                     [this](const QModelIndex& current) {
                         if (m_bMovingView || !current.isValid())
                             return;
                         m_strTopKey.clear();
                         m_strCurrentKey.clear();
                     });
}

int CDeviceList::InsertItem(const QString& strLabel)
{
    const CDeviceView::CProgramChange change(*m_pView);
    const int nRow = m_model.InsertItem(strLabel);
    if (!m_strCurrentKey.isEmpty() && strLabel.toCaseFolded() == m_strCurrentKey)
        SetCurrent(nRow);
    return nRow;
}

void CDeviceList::DeleteItem(int nRow)
{
    const CDeviceView::CProgramChange change(*m_pView);
    m_model.DeleteItem(nRow);
}

void CDeviceList::DeleteAllItems()
{
    const CDeviceView::CProgramChange change(*m_pView);
    // A round that nobody answered keeps what the one before it held.
    if (m_model.rowCount() > 0) {
        const QScrollBar* pBar = m_pView->verticalScrollBar();
        const int nTop = m_pView->rowAt(0);
        // A list at its top stays there, where newly found appliances show.
        m_strTopKey = nTop >= 0 && pBar->value() > pBar->minimum() ? GetItemText(nTop, 0).toCaseFolded() : QString();
        const QModelIndex current = m_pView->currentIndex();
        m_strCurrentKey = current.isValid() ? GetItemText(current.row(), 0).toCaseFolded() : QString();
    }
    m_model.DeleteAllItems();
}

void CDeviceList::HoldView()
{
    if (m_strTopKey.isEmpty() || m_bMovingView || m_model.rowCount() == 0)
        return;
    // The top row itself, or while it has not answered, the row that follows it.
    const int nRow = std::min(m_model.LowerBound(m_strTopKey), m_model.rowCount() - 1);
    m_bMovingView = true;
    m_pView->scrollTo(m_model.index(nRow, 0), QAbstractItemView::PositionAtTop);
    m_bMovingView = false;
}

void CDeviceList::SetCurrent(int nRow)
{
    // Made current without selecting it or scrolling to it; a focused list
    // tells a reader the row it is on again.
    const CDeviceView::CProgramChange change(*m_pView);
    m_bMovingView = true;
    const bool bAutoScroll = m_pView->hasAutoScroll();
    m_pView->setAutoScroll(false);
    m_pView->selectionModel()->setCurrentIndex(m_model.index(nRow, 0), QItemSelectionModel::NoUpdate);
    m_pView->setAutoScroll(bAutoScroll);
    m_bMovingView = false;
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
    // The last column takes what the thirds leave, so no gap shows at the
    // right whether or not the vertical scroll bar is there.
    m_pView->horizontalHeader()->setStretchLastSection(true);
    m_pView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pView->horizontalHeader()->setHighlightSections(false);

    // The selection stays visible in its full colour when the list loses focus.
    QPalette palette = m_pView->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    m_pView->setPalette(palette);
}

int CDeviceList::FittingColumnWidth() const
{
    // Room is kept for the vertical scroll bar that a long list brings, so
    // the three columns never need a horizontal one.
    const int nWidth = m_pView->maximumViewportSize().width() - m_pView->verticalScrollBar()->sizeHint().width();
    return std::max(nWidth, 0) / 3;
}

void CDeviceList::InsertColumns(int nColumnWidth)
{
    for (int i = 0; i < 3; ++i)
        m_pView->setColumnWidth(i, nColumnWidth);
}

void CDeviceList::SelectItem(int nRow)
{
    const CDeviceView::CProgramChange change(*m_pView);
    m_pView->selectionModel()->select(m_model.index(nRow, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

bool CDeviceList::IsSelected(int nRow) const
{
    return m_pView->selectionModel()->isRowSelected(nRow, {});
}

void CDeviceList::EnsureVisible(int nRow)
{
    // The view lays out inserted rows later; its scroll range would still be
    // that of the list before them (0 right after a refresh), and the scroll
    // fall short.
    m_pView->doItemsLayout();
    m_pView->scrollTo(m_model.index(nRow, 0), QAbstractItemView::EnsureVisible);
}

void CDeviceList::SetTarget(const QString& strLabel)
{
    const int nOld = m_model.TargetRow();
    m_model.SetTargetLabel(strLabel);
    if (!QAccessible::isActive())
        return;
    // Qt tells a reader of changed data only as a change of the table;
    // name the cells whose descriptions changed, so that the one a reader
    // is on is read again.
    QAccessibleInterface* pList = QAccessible::queryAccessibleInterface(m_pView);
    QAccessibleTableInterface* pTable = pList ? pList->tableInterface() : nullptr;
    for (const int nRow : {nOld, m_model.TargetRow()}) {
        for (int nColumn = 0; pTable && nRow >= 0 && nColumn < 3; ++nColumn) {
            if (QAccessibleInterface* pCell = pTable->cellAt(nRow, nColumn)) {
                QAccessibleEvent event(pCell, QAccessible::DescriptionChanged);
                QAccessible::updateAccessibility(&event);
            }
        }
    }
}

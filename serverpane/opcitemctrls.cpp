#include "serverpane/opcitemctrls.h"

#include <QMouseEvent>

#include "resources/uikit.h"
#include "serverpane/commandids.h"
#include "serverpane/serverpane.h"

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
}

// ---- COPCItemTreeCtrl ----

COPCItemTreeCtrl::COPCItemTreeCtrl(QWidget* pParent) : QTreeWidget(pParent) {
    setObjectName(QStringLiteral("ServerTree"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);  // sunken client edge
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);  // expand buttons and lines at the root
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    setUniformRowHeights(true);
    setAccessibleName(QStringLiteral("HDA servers"));
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* pCurrent, QTreeWidgetItem*) { OnCurrentChanged(pCurrent); });
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (m_pOwnerPane) m_pOwnerPane->OnServerSelChanged();
    });
}

int COPCItemTreeCtrl::GetItemImage(const QTreeWidgetItem* pNode) {
    if (!pNode) return -1;
    const QVariant v = pNode->data(0, kImageRole);
    return v.isValid() ? v.toInt() : -1;
}

QTreeWidgetItem* COPCItemTreeCtrl::InsertNode(QTreeWidgetItem* pParent, const QString& strText, int nImage,
                                              const QList<QIcon>& images) {
    auto* pNode = new QTreeWidgetItem(QStringList{strText});
    pNode->setData(0, kImageRole, nImage);
    if (nImage >= 0 && nImage < images.size()) pNode->setIcon(0, images[nImage]);
    if (pParent)
        pParent->addChild(pNode);
    else
        addTopLevelItem(pNode);
    return pNode;
}

QTreeWidgetItem* COPCItemTreeCtrl::GetSelectedItem() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

void COPCItemTreeCtrl::OnCurrentChanged(QTreeWidgetItem* pCurrent) {
    // When the selected node goes away the view moves only its current node; the selection follows
    // it, as a tree control moves its selection to a neighbour.
    if (pCurrent && !pCurrent->isSelected()) {
        // Clear first: the node on its way out may still be selected. Reported through
        // itemSelectionChanged.
        selectionModel()->select(indexFromItem(pCurrent), QItemSelectionModel::ClearAndSelect);
        return;
    }
    if (!pCurrent && m_pOwnerPane) m_pOwnerPane->OnServerSelChanged();
}

void COPCItemTreeCtrl::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::RightButton) {
        // The press does not move the selection: the menu acts on the node that is selected.
        pEvent->accept();
        if (m_pOwnerPane) m_pOwnerPane->ShowServerMenu();
        return;
    }
    QTreeWidget::mousePressEvent(pEvent);
}

// ---- COPCItemListCtrl ----

COPCItemListCtrl::COPCItemListCtrl(QWidget* pParent) : QListWidget(pParent) {
    setObjectName(QStringLiteral("ItemList"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    // List mode: rows flow down, then into the next column.
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setIconSize(QSize(16, 16));
    setSortingEnabled(true);
    sortItems(Qt::AscendingOrder);
    setAccessibleName(QStringLiteral("List of HDA items"));
}

int COPCItemListCtrl::GetItemCount() const {
    return count();
}

void COPCItemListCtrl::DeleteAllItems() {
    clear();
}

void COPCItemListCtrl::InsertItem(int nIndex, const std::u16string& strText, int nImage) {
    auto* pRow = new QListWidgetItem(ui::ToQString(strText));
    if (nImage == IMAGE_ITEM) pRow->setIcon(m_itemIcon);
    // With sorting on, the list places the row by its text whatever index is offered.
    insertItem(nIndex, pRow);
}

void COPCItemListCtrl::DeleteItem(int nIndex) {
    delete takeItem(nIndex);
}

std::u16string COPCItemListCtrl::GetItemText(int nIndex) const {
    const QListWidgetItem* pRow = item(nIndex);
    return pRow ? ui::ToU16(pRow->text()) : std::u16string();
}

int COPCItemListCtrl::GetSelectedCount() const {
    // One column: a selected index is a selected row. Counted from the selection ranges, not by
    // visiting every row, since the commands are re-evaluated on every selection change.
    return static_cast<int>(selectionModel()->selectedIndexes().size());
}

int COPCItemListCtrl::GetNextSelectedItem(int nAfter) const {
    for (int i = nAfter < 0 ? 0 : nAfter + 1, c = count(); i < c; ++i)
        if (item(i)->isSelected()) return i;
    return -1;
}

void COPCItemListCtrl::mousePressEvent(QMouseEvent* pEvent) {
    // Default handling first: the row under the pointer becomes selected (a selected row keeps the
    // selection as it is).
    QListWidget::mousePressEvent(pEvent);
    if (pEvent->button() == Qt::RightButton && m_pOwnerPane) m_pOwnerPane->ShowItemMenu();
}

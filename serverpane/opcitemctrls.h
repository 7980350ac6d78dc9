// The server pane's two controls: the tree of computers and connected servers, and the list of the
// items registered with the server selected in the tree.
#pragma once

#include <QListWidget>
#include <QTreeWidget>
#include <string>

#include "hda/serverowner.h"

class CServerPane;

// Two levels: computers at the root, their connected servers below. Each node carries its image index.
class COPCItemTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit COPCItemTreeCtrl(QWidget* pParent);

    static int GetItemImage(const QTreeWidgetItem* pNode);
    QTreeWidgetItem* InsertNode(QTreeWidgetItem* pParent, const QString& strText, int nImage,
                                const QList<QIcon>& images);
    // The selected node (single selection), or null.
    QTreeWidgetItem* GetSelectedItem() const;

    CServerPane* m_pOwnerPane = nullptr;  // not owned

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;

private:
    void OnCurrentChanged(QTreeWidgetItem* pCurrent);
};

// One row per registered item, the item ID as text; sorted ascending, several rows selectable.
class COPCItemListCtrl : public QListWidget, public IItemListView {
    Q_OBJECT
public:
    explicit COPCItemListCtrl(QWidget* pParent);

    void SetImage(const QIcon& icon) { m_itemIcon = icon; }

    // IItemListView
    int GetItemCount() const override;
    void DeleteAllItems() override;
    void InsertItem(int nIndex, const std::u16string& strText, int nImage) override;
    void DeleteItem(int nIndex) override;
    std::u16string GetItemText(int nIndex) const override;
    int GetSelectedCount() const override;
    int GetNextSelectedItem(int nAfter) const override;

    CServerPane* m_pOwnerPane = nullptr;  // not owned

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;

private:
    QIcon m_itemIcon;
};

// What a connection needs of the window that owns it: the item list it keeps in step with its
// registry, the owner of its message boxes, and the connection the running dialog works on. The
// server pane implements it with widgets; tests and the command-line client implement it without.
#pragma once

#include <string>

class CHDAServer;

// The pane's list of registered items: one row per item, the item ID as text, sorted ascending by the
// list itself, several rows selectable.
class IItemListView {
public:
    virtual int GetItemCount() const = 0;
    virtual void DeleteAllItems() = 0;
    // The list sorts itself: the index is where the row is offered, not where it ends up.
    virtual void InsertItem(int nIndex, const std::u16string& strText, int nImage) = 0;
    virtual void DeleteItem(int nIndex) = 0;
    virtual std::u16string GetItemText(int nIndex) const = 0;
    virtual int GetSelectedCount() const = 0;
    // The first selected row after nAfter (-1: from the top), or -1 when there is none.
    virtual int GetNextSelectedItem(int nAfter) const = 0;

protected:
    ~IItemListView() = default;
};

class IHDAServerOwner {
public:
    virtual IItemListView* GetItemListView() = 0;
    // The window every message box of a connection belongs to (a QWidget*), or null.
    virtual const void* GetMessageOwner() const = 0;
    // The connection registered under the owner's current server key (m_strCurrentServer), or null.
    virtual CHDAServer* GetCurrentServer() = 0;

protected:
    ~IHDAServerOwner() = default;
};

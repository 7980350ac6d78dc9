// The Add Items dialog: collects item IDs into a tag list, typed or picked from the server's address
// space (a lazily filled tree of branches and the list of the selected branch's leaves), validates
// them on request, and on OK asks the server for handles and registers every item it accepted.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <string>
#include <vector>

#include "client/browse.h"
#include "com/types.h"
#include "dialogs/additemhost.h"
#include "hda/opchda.h"

class QAction;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QMenuBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Asks the host's server for the server handles of item IDs, registers each accepted one with the
// host and lists the refused ones in the errors dialog: the Add Items dialog's OK, also used to load
// a saved item list. False when memory ran out before the server was asked (the message is shown).
bool RegisterItemIds(QWidget* pOwner, IAddItemHost* pHost, const std::vector<std::u16string>& texts);

class CAddItem : public QDialog {
    Q_OBJECT
public:
    // Controls.
    static constexpr int IDC_BROWSE_TREE = 1002;
    static constexpr int IDC_TAG_LIST = 1003;
    static constexpr int IDC_LEAVES_LIST = 1004;
    static constexpr int IDC_ITEMID = 1006;
    static constexpr int IDC_ADD_ITEMID = 1007;
    // Commands of the dialog's menu bar and context menus.
    static constexpr int ID_ITEM_VALIDATE = 32781;
    static constexpr int ID_BROWSE_ADDALLITEMS = 32782;
    static constexpr int ID_BROWSE_ADDTOTAGLIST = 32783;
    static constexpr int ID_BROWSE_EDITITEMID = 32784;
    static constexpr int ID_DELETE_SELECTED = 32786;

    // Images of the tag list.
    static constexpr int TAG_IMAGE_ENTERED = 0;
    static constexpr int TAG_IMAGE_VALID = 1;
    static constexpr int TAG_IMAGE_REJECTED = 2;

    // Names and item IDs longer than this are shown cut, with an ellipsis; the whole text stays with
    // the entry and is what goes to the server.
    static constexpr int kMaxShownChars = 256;
    // How many names one browse list takes from the server before it stops asking.
    static constexpr DWORD kDefaultMaxBrowseNames = 100000;

    static constexpr char16_t kAppTitle[] = u"BrindlexOPC HDA Vistrel";

    explicit CAddItem(QWidget* pParent = nullptr);
    ~CAddItem() override;

    // Set by the pane before exec(); not owned.
    IAddItemHost* m_pServerPane = nullptr;
    // How many names one enumeration may deliver (kDefaultMaxBrowseNames unless a test lowers it).
    DWORD m_nMaxBrowseNames = kDefaultMaxBrowseNames;

    // Initialises the dialog (images, item ID text, browser) and runs it.
    int exec() override;
    // Runs once: the images, the "Item ID" text and the browser with the root branches. exec() calls
    // it; tests that drive the dialog without running it call it themselves.
    void OnInitDialog();

    // The browser: a new one over the whole address space, the root branches in the tree. TRUE when
    // a browser is held.
    BOOL CreateBrowser();
    // Adds the branches at the browser's position under pParent (the root level when null).
    void FillBranches(OPCHDA_BROWSETYPE dwBrowseType, QTreeWidgetItem* pParent);
    // Shows the leaves at the browser's position.
    void FillLeaves();
    // Moves the browser to the branch of a tree node, walking down from the root. S_OK when every step
    // that names a branch was taken; else the code of the refused step, and its name in *pFailedAt.
    HRESULT MoveBrowserTo(QTreeWidgetItem* pNode, std::u16string* pFailedAt = nullptr);

    // Handlers.
    void OnSelChangedTree();
    void OnEditItemId();
    void OnAddToTagList();
    void OnAddAllItems();
    void OnAddItemId();
    void OnValidate();
    void OnDeleteSelected();
    void OnOK();

    // Controls and commands, for the pane and the tests.
    QLineEdit* GetItemIdEdit() const { return m_pItemIdEdit; }
    QPushButton* GetAddButton() const { return m_pAddButton; }
    QTreeWidget* GetBrowseTree() const { return m_pBrowseTree; }
    QListWidget* GetLeavesList() const { return m_pLeavesList; }
    QListWidget* GetTagList() const { return m_pTagList; }
    QMenuBar* GetMenuBar() const { return m_pMenuBar; }
    // The popups of the menu bar: 0 "&Browse", 1 "&Item", 2 the one captioned with two blanks.
    QMenu* GetPopup(int nIndex) const;
    QAction* GetCommand(int nId) const;
    bool HasBrowser() const { return m_browser.Held(); }

    // The whole text of a tree node or a list entry (what the server gets), and an entry's image.
    static std::u16string EntryText(const QTreeWidgetItem* pNode);
    static std::u16string EntryText(const QListWidgetItem* pEntry);
    static int EntryImage(const QListWidgetItem* pEntry);
    // The tag list's texts in list order.
    std::vector<std::u16string> TagListTexts() const;

    // The item ID text (the edit box's, as last read or set).
    std::u16string m_strItemId;

    // Image lists: the tree's (0 branch, 1 selected branch), the leaves' (0 leaf), the tag list's
    // (TAG_IMAGE_*), and the add button's bitmap.
    QList<QIcon> m_TreeImages;
    QList<QIcon> m_LeafImages;
    QList<QIcon> m_TagImages;
    QIcon m_bmpAddButton;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void BuildMenus();
    void UpdateCommands();
    void ShowContextMenu(QWidget* pList, QMenu* pMenu, const QPoint& pos);
    // Reads one browse list (GetEnum of the given type) into pNames, at most m_nMaxBrowseNames names.
    // False when the server gave no answer to go by (no browser, a failure, no enumerator). What went
    // wrong, if anything, goes to *pProblem, to be said once the names are shown.
    bool EnumerateNames(OPCHDA_BROWSETYPE dwBrowseType, std::vector<std::u16string>* pNames,
                        std::u16string* pProblem);
    // GetItemID of a leaf name; false (after the failure message) when the server gave no item ID.
    bool ResolveItemId(const std::u16string& strLeaf, std::u16string* pItemId);
    void InsertTag(const std::u16string& strItemId, int nImage);
    void SetTagImage(QListWidgetItem* pEntry, int nImage);
    void ReleaseBrowser();

    client::Browser m_browser;
    QIcon m_branchIcon;  // tree images 0 and 1 as one icon (normal, selected)
    bool m_bInitialised = false;

    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pBrowseMenu = nullptr;
    QMenu* m_pItemMenu = nullptr;
    QMenu* m_pDeleteMenu = nullptr;
    QLineEdit* m_pItemIdEdit = nullptr;
    QPushButton* m_pAddButton = nullptr;
    QTreeWidget* m_pBrowseTree = nullptr;
    QListWidget* m_pLeavesList = nullptr;
    QListWidget* m_pTagList = nullptr;
    QPushButton* m_pOk = nullptr;
};

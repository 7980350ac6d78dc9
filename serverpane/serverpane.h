// The left pane of the main window and the controller of the client: the tree of connected servers,
// the list of the selected server's items, every connection, and every command on them.
#pragma once

#include <QFont>
#include <QIcon>
#include <QList>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/calltrace.h"
#include "client/readmodified.h"
#include "client/readnext.h"
#include "client/results.h"
#include "dialogs/additemhost.h"
#include "dialogs/addremotehost.h"
#include "dialogs/dialoghost.h"
#include "hda/hdaserver.h"
#include "hda/opchda.h"
#include "hda/serverowner.h"
#include "outputpane/outputhost.h"
#include "serverpane/mainframelink.h"

class COPCItemTreeCtrl;
class COutputPane;
class COPCItemListCtrl;
class CReadRawDlg;
class QTreeWidgetItem;

class CServerPane : public QWidget,
                    public IOutputPaneHost,
                    public IDialogHost,
                    public IHDAServerOwner,
                    public IAddItemHost,
                    public IAddRemoteServerHost {
    Q_OBJECT
public:
    explicit CServerPane(QWidget* pParent = nullptr);
    ~CServerPane() override;

    // Links made by the main frame.
    void SetOutputPane(COutputPane* pOutputPane) { m_pOutputPane = pOutputPane; }
    COutputPane* GetOutputPane() const { return m_pOutputPane; }
    // Joins COM, fixes security and fills the toolbar's server box (once, from the frame's creation).
    void InitComAndDiscoverServers();

    // Command handlers (the command table names them).
    void OnConnect();
    void OnConnectRemote();
    void OnDisconnect();
    void OnAddItems();
    void OnDeleteItems();
    void OnServerStatus();
    void OnOptions();
    void OnReadRaw();
    void OnReadProcessed();
    void OnReadAttribute();
    void OnReadAtTime();
    // Read Modified: a time range as Read Raw's, one tab per item with what updates superseded.
    void OnReadModified();
    // Read Raw once its dialog was confirmed: the call with the dialog's arguments and the output.
    void ReadRawAfterDialog(const CReadRawDlg& dlg);
    // The history updates: Insert, Replace and Insert/Replace are one routine with a mode.
    void OnInsert() { UpdateHistory(OPCHDA_INSERT); }
    void OnReplace() { UpdateHistory(OPCHDA_REPLACE); }
    void OnInsertReplace() { UpdateHistory(OPCHDA_INSERTREPLACE); }
    void UpdateHistory(OPCHDA_EDITTYPE mode);
    void OnDeleteRaw();
    void OnDeleteAtTime();
    // A trend window of the selected value tab, or of every tab overlaid.
    void OnTrend();
    void OnTrendAll();
    // Export writes the result set as CSV; Copy puts the selected rows of the output pane on the
    // clipboard; Read Next continues the items of the last read that have more; Save Items and
    // Load Items keep the selected server's item IDs in a file and register them again.
    void OnExport();
    void OnEditCopy();
    void OnReadNext();
    void OnSaveItems();
    void OnLoadItems();
    // Export to a file: the rows in parts, `progress` told after each (rows written, rows in all) and
    // answering false to stop. Nothing is left at the path unless every row was written. False when
    // stopped or failed (a failure is reported).
    bool ExportResults(const QString& strPath, const std::function<bool(std::size_t, std::size_t)>& progress);

    // Asks for a file name (save or open); empty when cancelled. Tests put their own in its place.
    std::function<QString(bool bSave, const QString& strCaption, const QString& strFilter)> m_fnAskFileName;
    QString AskFileName(bool bSave, const QString& strCaption, const QString& strFilter);
    // IOutputPaneHost: where Read Next continues item i.
    std::u16string GetResultNote(DWORD i) const override;

    // The one connection routine: remote takes m_strRemoteComputer and m_strRemoteProgId, local the
    // toolbar box's selection. Reports its own failures.
    void ConnectServer(BOOL bRemote);
    void AddServerToTree(const std::u16string& strComputer, const std::u16string& strProgId);
    static BOOL IsBrindlexServer(const std::u16string& strProgId);
    // The IOPCHDA_Server of the server the Add Items dialog is open for; borrowed, no reference added.
    IOPCHDA_Server* GetAddItemsServer() const override;
    // Registers an item the server accepted in the Add Items dialog with the connection of
    // m_strCurrentServer, and adds its row to the item list.
    BOOL AddItemToServer(const std::u16string& strItemId, OPCHANDLE hServer) override;

    // IAddRemoteServerHost. A remote connection that is made is noted in the reached-hosts file, so
    // that the computer is offered the next time.
    std::vector<std::u16string> GetServerBoxEntries() const override;
    void ConnectRemoteServer(const std::u16string& strComputer, const std::u16string& strProgId) override;

    // Called by the controls.
    void OnServerSelChanged();
    void ShowServerMenu();
    void ShowItemMenu();

    // The key of the server selected in the tree ("" when no server node is selected).
    std::u16string GetSelectedServerKey() const;
    // The server handles of the selected items in list order, repeated n times one after the other;
    // empty when there is nothing to give (no server, no selection, n 0, or more than a DWORD counts).
    std::vector<OPCHANDLE> GetSelectedItemHandles(DWORD n) const;

    // The connection registered under a key, or null.
    CHDAServer* FindServer(const std::u16string& strKey) const;
    // The key of a server node: its computer's text ("Localhost" standing for "") and its own text.
    static std::u16string KeyFromNode(const QTreeWidgetItem* pNode);
    static bool IsServerNode(const QTreeWidgetItem* pNode);

    // The result set of the last history operation (the server's arrays, owned by it). Set takes it
    // over; Release frees it.
    void SetLastResults(client::ResultSet results);
    void ReleaseLastResults();
    // The item IDs of the result set's records (the tabs' captions) and, after a read that may
    // continue, what Read Next needs.
    std::vector<std::u16string> m_lastItemIds;
    std::optional<client::CReadNext> m_readNext;
    std::u16string m_strReadNextServer;
    const client::ResultSet& GetLastResults() const { return m_lastResults; }

    // IOutputPaneHost. The pane carries the commands whose handler in the command table is one of its
    // own: enabled by the table's rule, carried out by that handler. Any other id is disabled here.
    void OnCommand(int nId) override;
    bool IsCommandEnabled(int nId) const override;
    DWORD GetMaxDisplayItems() const override { return m_nMaxDisplayItems; }
    void SetMaxDisplayItems(DWORD n) override { m_nMaxDisplayItems = n; }
    std::vector<std::u16string> GetSelectedItemIds() const override;
    const OPCHDA_ITEM* GetLastItemValues() const override { return m_lastResults.Values(); }
    const HRESULT* GetLastErrors() const override { return m_lastResults.Errors(); }
    DWORD GetLastResultCount() const override { return m_lastResults.Count(); }
    const client::ModifiedSet* GetLastModified() const override { return &m_lastModified; }
    // The main window's basis; local time with the offset in force now without one.
    client::TimeBasis GetTimeBasis() const override;

    // IDialogHost (GetSelectedItemIds above serves both)
    IOPCHDA_Server* GetCurrentHdaServer() const override;
    IOPCHDA_Server* GetHdaServer(const std::u16string& strKey) const override;

    // IHDAServerOwner
    IItemListView* GetItemListView() override;
    const void* GetMessageOwner() const override { return static_cast<const QWidget*>(this); }
    CHDAServer* GetCurrentServer() override { return FindServer(m_strCurrentServer); }

    // The switch of the call trace: every connection made here passes a tracing stand-in that records
    // into whatever recorder is set (none until View > Call Trace is turned on).
    client::CallTrace& GetCallTrace() const { return *m_pCallTrace; }

    COPCItemTreeCtrl* GetServerTree() const { return m_pServerTree; }
    COPCItemListCtrl* GetItemList() const { return m_pItemList; }
    const QList<QIcon>& GetTreeImages() const { return *m_pTreeImages; }
    const QFont& GetPaneFont() const { return m_fontPane; }
    bool IsComInitialized() const { return m_bComInitialized; }

    IMainFrameLink* m_pMainFrame = nullptr;  // not owned
    std::u16string m_strRemoteProgId;
    QTreeWidgetItem* m_hAddItemsServer = nullptr;
    COutputPane* m_pOutputPane = nullptr;  // not owned
    std::u16string m_strCurrentServer;

private:
    // Hooks for the dialogs of other windows; each returns after its dialog closed.
    void RunAddItemsDialog();

protected:
    void resizeEvent(QResizeEvent* pEvent) override;

public:
    std::unique_ptr<QList<QIcon>> m_pTreeImages;
    COPCItemTreeCtrl* m_pServerTree = nullptr;  // owned (child window)
    COPCItemListCtrl* m_pItemList = nullptr;    // owned (child window)
    std::u16string m_strRemoteComputer;
    QFont m_fontPane;
    std::map<std::u16string, std::unique_ptr<CHDAServer>> m_mapServers;
    DWORD m_nMaxDisplayItems = 1000;

private:
    // LastItemValues and LastErrors of the last history operation.
    client::ResultSet m_lastResults;
    client::ModifiedSet m_lastModified;  // of a Read Modified, released with the result set
    std::shared_ptr<client::CallTrace> m_pCallTrace = std::make_shared<client::CallTrace>();
    bool m_bComInitialized = false;
    bool m_bDiscoveryDone = false;
};

#include "serverpane/serverpane.h"

#include <QComboBox>
#include <QCursor>
#include <QMenu>
#include <QResizeEvent>
#include <algorithm>
#include <chrono>
#include <limits>
#include <new>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "hda/discovery.h"
#include "hda/messages.h"
#include "outputpane/options.h"
#include "outputpane/outputpane.h"
#include "resources/icons_main.h"
#include "resources/uikit.h"
#include "serverpane/commandids.h"
#include "serverpane/commands.h"
#include "serverpane/opcitemctrls.h"
#include "trend/trendwindow.h"

namespace {
constexpr char16_t kLocalhost[] = u"Localhost";
constexpr char16_t kErrorCaption[] = u"Error";
}  // namespace

CServerPane::CServerPane(QWidget* pParent) : QWidget(pParent) {
    setObjectName(QStringLiteral("ServerPane"));
    m_fontPane = ui::PaneFont();
    setFont(m_fontPane);

    m_pTreeImages = std::make_unique<QList<QIcon>>(ui::PaneImages());

    m_pServerTree = new COPCItemTreeCtrl(this);
    m_pItemList = new COPCItemListCtrl(this);
    m_pServerTree->setFont(m_fontPane);
    m_pItemList->setFont(m_fontPane);
    m_pItemList->SetImage(m_pTreeImages->value(IMAGE_ITEM));
    m_pServerTree->m_pOwnerPane = this;
    m_pItemList->m_pOwnerPane = this;

    connect(m_pItemList, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_pMainFrame) m_pMainFrame->UpdateCommandUI();
    });
}

CServerPane::~CServerPane() {
    // No control reports back into a pane that is going away, nor the pane to the frame.
    m_pMainFrame = nullptr;
    m_pServerTree->m_pOwnerPane = nullptr;
    m_pItemList->m_pOwnerPane = nullptr;

    // Every connection, in key order: its server interface, then the record (items and the optional
    // interfaces).
    for (auto& [strKey, pServer] : m_mapServers) {
        if (pServer->m_pServer) pServer->m_pServer->Release();
        pServer->m_pServer = nullptr;
        pServer.reset();
    }
    m_mapServers.clear();
    m_hAddItemsServer = nullptr;

    delete m_pServerTree;
    m_pServerTree = nullptr;
    delete m_pItemList;
    m_pItemList = nullptr;
    m_pTreeImages.reset();

    ReleaseLastResults();

    // The one call that ends COM for this thread, and only if this pane began it.
    if (m_bComInitialized) CoUninitialize();
    m_bComInitialized = false;
}

// ---- Discovery ----

void CServerPane::InitComAndDiscoverServers() {
    if (m_bDiscoveryDone) return;  // once per pane
    m_bDiscoveryDone = true;
    QComboBox* pCombo = m_pMainFrame ? m_pMainFrame->GetServerCombo() : nullptr;
    if (pCombo) {
        pCombo->setFont(m_fontPane);
        pCombo->update();
    }
    m_bComInitialized = hda::InitComAndDiscoverServers(static_cast<const QWidget*>(this),
                                                       [pCombo](const std::u16string& strProgId) {
                                                           if (pCombo)
                                                               pCombo->addItem(ui::ToQString(strProgId));
                                                       });
    if (pCombo && pCombo->count() > 0) pCombo->setCurrentIndex(0);
}

// ---- Keys and selection ----

bool CServerPane::IsServerNode(const QTreeWidgetItem* pNode) {
    const int nImage = COPCItemTreeCtrl::GetItemImage(pNode);
    return pNode && pNode->parent() && (nImage == IMAGE_SERVER || nImage == IMAGE_BRINDLEX_SERVER);
}

std::u16string CServerPane::KeyFromNode(const QTreeWidgetItem* pNode) {
    if (!pNode || !pNode->parent()) return {};
    std::u16string strComputer = ui::ToU16(pNode->parent()->text(0));
    if (strComputer == kLocalhost) strComputer.clear();
    return strComputer + ui::ToU16(pNode->text(0));
}

std::u16string CServerPane::GetSelectedServerKey() const {
    const QTreeWidgetItem* pNode = m_pServerTree ? m_pServerTree->GetSelectedItem() : nullptr;
    return IsServerNode(pNode) ? KeyFromNode(pNode) : std::u16string();
}

CHDAServer* CServerPane::FindServer(const std::u16string& strKey) const {
    auto it = m_mapServers.find(strKey);
    return it == m_mapServers.end() ? nullptr : it->second.get();
}

std::vector<std::u16string> CServerPane::GetSelectedItemIds() const {
    std::vector<std::u16string> ids;
    if (!m_pItemList) return ids;
    for (int nRow = m_pItemList->GetNextSelectedItem(-1); nRow >= 0;
         nRow = m_pItemList->GetNextSelectedItem(nRow))
        ids.push_back(m_pItemList->GetItemText(nRow));
    return ids;
}

std::vector<OPCHANDLE> CServerPane::GetSelectedItemHandles(DWORD n) const {
    const CHDAServer* pServer = FindServer(GetSelectedServerKey());
    if (!pServer || n == 0) return {};
    std::vector<OPCHANDLE> handles;
    for (const std::u16string& strId : GetSelectedItemIds())
        handles.push_back(pServer->GetItemServerHandle(strId));
    if (handles.empty()) return {};

    // Every count of a call is a DWORD.
    const std::uint64_t total = static_cast<std::uint64_t>(n) * handles.size();
    if (total > std::numeric_limits<DWORD>::max() / sizeof(OPCHANDLE)) return {};
    std::vector<OPCHANDLE> repeated;
    repeated.reserve(static_cast<std::size_t>(total));
    for (DWORD r = 0; r < n; ++r) repeated.insert(repeated.end(), handles.begin(), handles.end());
    return repeated;
}

IOPCHDA_Server* CServerPane::GetAddItemsServer() const {
    const CHDAServer* pServer = FindServer(KeyFromNode(m_hAddItemsServer));
    return pServer ? pServer->m_pServer : nullptr;
}

IOPCHDA_Server* CServerPane::GetCurrentHdaServer() const {
    const CHDAServer* pServer = FindServer(m_strCurrentServer);
    return pServer ? pServer->m_pServer : nullptr;
}

IOPCHDA_Server* CServerPane::GetHdaServer(const std::u16string& strKey) const {
    const CHDAServer* pServer = FindServer(strKey);
    return pServer ? pServer->m_pServer : nullptr;
}

IItemListView* CServerPane::GetItemListView() {
    return m_pItemList;
}

// ---- Connections ----

BOOL CServerPane::IsBrindlexServer(const std::u16string& strProgId) {
    return strProgId.find(u"Brindlex") != std::u16string::npos;
}

void CServerPane::OnConnect() {
    ConnectServer(FALSE);
}

void CServerPane::ConnectServer(BOOL bRemote) {
    // The remote computer is handed over for one connection only.
    struct ForgetRemote {
        std::u16string& str;
        ~ForgetRemote() { str.clear(); }
    } forget{m_strRemoteComputer};

    std::u16string strComputer;
    std::u16string strProgId;
    if (bRemote) {
        strComputer = m_strRemoteComputer;
        strProgId = m_strRemoteProgId;
        // "Localhost" is what the tree calls this computer, and its key part is empty: a remote
        // connection under that name would be filed under one key and found under another. It is
        // this computer, so it is connected as a local server.
        if (strComputer == kLocalhost) strComputer.clear();
    } else {
        QComboBox* pCombo = m_pMainFrame ? m_pMainFrame->GetServerCombo() : nullptr;
        if (!pCombo || pCombo->currentIndex() < 0) return;
        strProgId = ui::ToU16(pCombo->currentText());
    }

    for (const auto& [strKey, pServer] : m_mapServers) {
        if (pServer->m_strComputer == strComputer && pServer->m_strProgId == strProgId) {
            hda::ShowMessage(static_cast<const QWidget*>(this), u"Server is already connected",
                             kErrorCaption);
            return;
        }
    }
    // Computer and ProgID are joined without a separator, so two different pairs can meet in one key.
    const std::u16string strKey = strComputer + strProgId;
    if (m_mapServers.count(strKey)) {
        hda::ShowMessage(
            static_cast<const QWidget*>(this),
            com::FormatW(u"Cannot connect to '%s' on '%s': another connection is filed under the same "
                         u"name '%s'.",
                         {strProgId, strComputer, strKey}),
            kErrorCaption, hda::MsgIcon::Stop);
        return;
    }

    std::unique_ptr<CHDAServer> pServer(new (std::nothrow) CHDAServer(this));
    if (!pServer) {
        hda::ShowMessage(static_cast<const QWidget*>(this), u"Program Error.",
                         u"Error allocating memory for server object");
        return;
    }
    BOOL bConnected;
    {
        ui::WaitCursor wait;
        const auto t0 = std::chrono::steady_clock::now();
        bConnected = pServer->Connect(strComputer, strProgId);
        if (client::ICallRecorder* pRecorder = m_pCallTrace->Recorder()) {
            client::CallRecord call;
            GetSystemTimeAsFileTime(&call.ftStart);
            call.server = client::ConnectionLabel(strComputer, strProgId);
            call.method = "connect";
            call.hr = bConnected ? S_OK : E_FAIL;
            call.micros =
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
                    .count();
            pRecorder->Record(call);
        }
    }
    if (!bConnected) return;  // the record goes; Connect has told the user
    client::TraceConnection(*pServer, m_pCallTrace, true);

    m_mapServers.emplace(strKey, std::move(pServer));
    AddServerToTree(strComputer, strProgId);
}

void CServerPane::AddServerToTree(const std::u16string& strComputer, const std::u16string& strProgId) {
    const QString strNode = ui::ToQString(strComputer.empty() ? std::u16string(kLocalhost) : strComputer);
    QTreeWidgetItem* pComputer = nullptr;
    for (int i = 0, n = m_pServerTree->topLevelItemCount(); i < n && !pComputer; ++i) {
        QTreeWidgetItem* pRoot = m_pServerTree->topLevelItem(i);
        if (pRoot->text(0) == strNode) pComputer = pRoot;
    }
    if (!pComputer) pComputer = m_pServerTree->InsertNode(nullptr, strNode, IMAGE_COMPUTER, *m_pTreeImages);
    QTreeWidgetItem* pNode = m_pServerTree->InsertNode(
        pComputer, ui::ToQString(strProgId),
        IsBrindlexServer(strProgId) ? IMAGE_BRINDLEX_SERVER : IMAGE_SERVER, *m_pTreeImages);
    pComputer->setExpanded(true);
    m_pServerTree->setCurrentItem(pNode);  // the selection change shows its (empty) item list
}

void CServerPane::OnDisconnect() {
    QTreeWidgetItem* pNode = m_pServerTree->GetSelectedItem();
    if (!IsServerNode(pNode)) return;
    QTreeWidgetItem* pComputer = pNode->parent();
    const std::u16string strKey = KeyFromNode(pNode);
    const bool bLastOnComputer = pComputer->childCount() == 1;
    if (m_hAddItemsServer == pNode) m_hAddItemsServer = nullptr;

    // Deleting the selected node moves the selection, which refills or empties the item list.
    delete pNode;
    if (bLastOnComputer) delete pComputer;

    // Read Next asks with this connection's handles: it ends with the connection.
    if (strKey == m_strReadNextServer) m_readNext.reset();

    auto it = m_mapServers.find(strKey);
    if (it == m_mapServers.end()) return;
    CHDAServer* pServer = it->second.get();
    pServer->RemoveAllItems();
    if (pServer->m_pServer) pServer->m_pServer->Release();
    pServer->m_pServer = nullptr;
    m_mapServers.erase(it);  // the record releases its optional interfaces
}

// ---- Options ----

void CServerPane::OnOptions() {
    RunOptionsDialog(this);
}

// ---- Trends ----

void CServerPane::OnTrend() {
    if (m_pOutputPane) CTrendWindow::Open(window(), *m_pOutputPane, false);
}

void CServerPane::OnTrendAll() {
    if (m_pOutputPane) CTrendWindow::Open(window(), *m_pOutputPane, true);
}

// ---- Items ----

void CServerPane::OnAddItems() {
    QTreeWidgetItem* pNode = m_pServerTree->GetSelectedItem();
    if (!IsServerNode(pNode)) return;
    m_hAddItemsServer = pNode;
    m_strCurrentServer = KeyFromNode(pNode);
    RunAddItemsDialog();
}

void CServerPane::OnDeleteItems() {
    if (m_pItemList->GetSelectedCount() == 0) return;
    if (hda::ShowMessage(static_cast<const QWidget*>(this), u"Delete Selected Items?", kAppTitle,
                         hda::MsgIcon::Question, hda::MsgButtons::YesNoCancel) != hda::MsgResult::Yes)
        return;
    if (CHDAServer* pServer = FindServer(GetSelectedServerKey())) pServer->RemoveSelectedItems();
}

void CServerPane::OnServerSelChanged() {
    if (!m_pServerTree || !m_pItemList) return;
    const QTreeWidgetItem* pNode = m_pServerTree->GetSelectedItem();
    CHDAServer* pServer = IsServerNode(pNode) ? FindServer(KeyFromNode(pNode)) : nullptr;
    if (pServer)
        pServer->ShowServerItems();
    else
        m_pItemList->DeleteAllItems();
    if (m_pMainFrame) m_pMainFrame->UpdateCommandUI();
}

// ---- Context menus ----

void CServerPane::ShowServerMenu() {
    QWidget* pOwner = m_pMainFrame ? m_pMainFrame->GetMainWindow() : this;
    QMenu menu(pOwner);
    menu.setObjectName(QStringLiteral("ServerPopup"));
    if (m_pMainFrame) m_pMainFrame->UpdateCommandUI();
    for (const cmd::Command& c : cmd::Commands()) {
        if (!c.pszPopup) continue;
        QAction* pAction = menu.addAction(QString::fromLatin1(c.pszPopup));
        pAction->setData(c.nId);
        pAction->setEnabled(m_pMainFrame ? m_pMainFrame->IsCommandEnabled(c.nId) : IsCommandEnabled(c.nId));
        pAction->setStatusTip(QString::fromLatin1(c.pszPrompt));
    }
    QAction* pChosen = menu.exec(QCursor::pos());
    if (!pChosen || !pChosen->isEnabled()) return;
    const int nId = pChosen->data().toInt();
    if (m_pMainFrame)
        m_pMainFrame->RouteCommand(nId);
    else
        OnCommand(nId);
}

void CServerPane::ShowItemMenu() {
    QMenu* pFunction = m_pMainFrame ? m_pMainFrame->GetFunctionMenu() : nullptr;
    if (!pFunction) return;
    // The Function menu's own actions: they route and enable as from the menu bar.
    pFunction->exec(QCursor::pos());
}

// ---- Geometry ----

void CServerPane::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    const int w = width();
    const int h2 = height() / 2;
    m_pServerTree->setGeometry(3, 3, std::max(0, w - 6), std::max(0, h2 - 6));
    m_pItemList->setGeometry(3, h2 + 3, std::max(0, w - 6), std::max(0, h2 - 6));
}

// ---- Result set ----

void CServerPane::SetLastResults(client::ResultSet results) {
    m_lastModified.Release();
    m_lastResults = std::move(results);
}

void CServerPane::ReleaseLastResults() {
    m_lastResults.Release();
    m_lastModified.Release();
    m_lastItemIds.clear();
    m_readNext.reset();
}

client::TimeBasis CServerPane::GetTimeBasis() const {
    return m_pMainFrame ? m_pMainFrame->GetTimeBasis() : client::TimeBasis::LocalCurrentBias;
}

// ---- Commands ----

bool CServerPane::IsCommandEnabled(int nId) const {
    const cmd::Command* pCommand = cmd::FindCommand(nId);
    if (!pCommand || !pCommand->handler.pfnPane) return false;
    const QTreeWidgetItem* pNode = m_pServerTree ? m_pServerTree->GetSelectedItem() : nullptr;
    const int nItems = m_pItemList ? m_pItemList->GetSelectedCount() : 0;
    switch (pCommand->rule) {
        case cmd::Rule::Always:
            return true;
        case cmd::Rule::NodeNotMachine:
            return pNode && COPCItemTreeCtrl::GetItemImage(pNode) != IMAGE_COMPUTER;
        case cmd::Rule::ServerNode:
            return IsServerNode(pNode);
        case cmd::Rule::AnyItem:
            return nItems >= 1;
        case cmd::Rule::OneItem:
            return nItems == 1;
        case cmd::Rule::ValueTabs:
            return m_pOutputPane && m_pOutputPane->GetTabCtrl() && m_lastResults.Values();
        case cmd::Rule::ValueResults:
            return !m_lastResults.Empty() && m_pOutputPane && m_pOutputPane->GetTabCtrl();
        case cmd::Rule::MoreData:
            return !m_lastResults.Empty() && m_readNext && m_readNext->HasMore() &&
                   FindServer(m_strReadNextServer);
        case cmd::Rule::OutputRows:
            return m_pOutputPane && m_pOutputPane->HasSelectedRows();
    }
    return false;
}

void CServerPane::OnCommand(int nId) {
    // A disabled command does nothing, whichever road it came by.
    if (!IsCommandEnabled(nId)) return;
    (this->*cmd::FindCommand(nId)->handler.pfnPane)();
    if (m_pMainFrame) m_pMainFrame->UpdateCommandUI();
}

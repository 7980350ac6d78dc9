#include "dialogs/additem.h"

#include <QAction>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "client/browse.h"
#include "client/items.h"
#include "com/text.h"
#include "dialogs/dlgkit.h"
#include "hda/messages.h"
#include "outputpane/errorsdlg.h"
#include "resources/uikit.h"

namespace {
#include "resources/icons/additem_add_arrow.xpm"
#include "resources/icons/additem_folder_closed.xpm"
#include "resources/icons/additem_folder_open.xpm"
#include "resources/icons/additem_leaf_tag.xpm"
#include "resources/icons/additem_tag_rejected.xpm"
#include "resources/icons/additem_tag_unvalidated.xpm"
#include "resources/icons/additem_tag_valid.xpm"

// What an entry keeps besides its shown text.
constexpr int kTextRole = Qt::UserRole;        // the whole name or item ID
constexpr int kImageRole = Qt::UserRole + 1;   // tag list: the image index
constexpr int kFilledRole = Qt::UserRole + 2;  // tree: the sub-branches were asked for

constexpr char16_t kErrorCaption[] = u"Error";

// A text as it can be shown: cut after kMaxShownChars characters (never inside a surrogate pair),
// an ellipsis marking the cut.
std::u16string ShownText(const std::u16string& s) {
    if (s.size() <= static_cast<std::size_t>(CAddItem::kMaxShownChars)) return s;
    std::size_t n = CAddItem::kMaxShownChars;
    if (s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
    return s.substr(0, n) + u'\u2026';
}

// Gives a list entry or tree node its whole text and the text shown.
template <class Entry>
void SetEntryText(Entry* pEntry, const std::u16string& strText) {
    const std::u16string shown = ShownText(strText);
    if constexpr (std::is_same_v<Entry, QTreeWidgetItem>) {
        pEntry->setText(0, ui::ToQString(shown));
        pEntry->setData(0, kTextRole, ui::ToQString(strText));
        if (shown.size() != strText.size())
            pEntry->setToolTip(0,
                               ui::ToQString(com::FormatW(u"%s (%u characters)", {shown, strText.size()})));
    } else {
        pEntry->setText(ui::ToQString(shown));
        pEntry->setData(kTextRole, ui::ToQString(strText));
        if (shown.size() != strText.size())
            pEntry->setToolTip(ui::ToQString(com::FormatW(u"%s (%u characters)", {shown, strText.size()})));
    }
}

DWORD ToDword(std::size_t n) {
    return static_cast<DWORD>(std::min<std::size_t>(n, 0xFFFFFFFFu));
}
}  // namespace

CAddItem::CAddItem(QWidget* pParent)
    : QDialog(pParent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Insert Item"));
    setFont(ui::DialogFont());

    // The menu bar sits above the client area, in which the controls are placed in dialog units.
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
    m_pMenuBar = new QMenuBar(this);
    pLayout->setMenuBar(m_pMenuBar);
    auto* pClient = new QWidget(this);
    pLayout->addWidget(pClient);
    const dlg::Placer at(font());
    pClient->setFixedSize(at.Size(401, 234));

    at.Place(dlg::MakeLabel(pClient, QStringLiteral("Item Id")), 7, 16, 22, 8);
    m_pItemIdEdit = new QLineEdit(pClient);
    dlg::SetCtrlId(m_pItemIdEdit, IDC_ITEMID);
    // Item IDs a server resolves can be far longer than an edit box takes by default.
    m_pItemIdEdit->setMaxLength(std::numeric_limits<int>::max());
    at.Place(m_pItemIdEdit, 32, 14, 97, 12);

    m_pAddButton = new QPushButton(pClient);
    dlg::SetCtrlId(m_pAddButton, IDC_ADD_ITEMID);
    m_pAddButton->setDefault(true);
    m_pAddButton->setIconSize(QSize(24, 24));
    m_pAddButton->setToolTip(QStringLiteral("Add the item ID to the tag list"));
    at.Place(m_pAddButton, 134, 7, 27, 25);

    at.Place(dlg::MakeGroup(pClient, QStringLiteral("Browse")), 7, 36, 154, 191);
    m_pBrowseTree = new QTreeWidget(pClient);
    dlg::SetCtrlId(m_pBrowseTree, IDC_BROWSE_TREE);
    m_pBrowseTree->setHeaderHidden(true);
    m_pBrowseTree->setRootIsDecorated(true);
    m_pBrowseTree->setUniformRowHeights(true);
    m_pBrowseTree->setIconSize(QSize(16, 16));
    m_pBrowseTree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pBrowseTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    at.Place(m_pBrowseTree, 14, 46, 140, 88);

    // Both lists are list views in list mode: entries flow down in columns, sorted by text.
    auto makeList = [&](int nId) {
        auto* p = new QListWidget(pClient);
        dlg::SetCtrlId(p, nId);
        p->setViewMode(QListView::ListMode);
        p->setFlow(QListView::TopToBottom);
        p->setWrapping(true);
        p->setResizeMode(QListView::Adjust);
        p->setMovement(QListView::Static);
        p->setIconSize(QSize(16, 16));
        p->setSelectionMode(QAbstractItemView::ExtendedSelection);
        p->setEditTriggers(QAbstractItemView::NoEditTriggers);
        p->setSortingEnabled(true);
        p->setContextMenuPolicy(Qt::CustomContextMenu);
        return p;
    };
    m_pLeavesList = makeList(IDC_LEAVES_LIST);
    at.Place(m_pLeavesList, 14, 137, 140, 82);
    m_pTagList = makeList(IDC_TAG_LIST);
    at.Place(m_pTagList, 166, 7, 228, 201);
    m_pTagList->installEventFilter(this);

    m_pOk = new QPushButton(QStringLiteral("OK"), pClient);
    dlg::SetCtrlId(m_pOk, IDOK);
    at.Place(m_pOk, 344, 212, 50, 14);

    BuildMenus();

    connect(m_pAddButton, &QPushButton::clicked, this, &CAddItem::OnAddItemId);
    connect(m_pOk, &QPushButton::clicked, this, &CAddItem::OnOK);
    connect(m_pBrowseTree, &QTreeWidget::itemSelectionChanged, this, &CAddItem::OnSelChangedTree);
    connect(m_pLeavesList, &QListWidget::itemDoubleClicked, this, [this] { OnEditItemId(); });
    connect(m_pLeavesList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowContextMenu(m_pLeavesList, m_pBrowseMenu, pos); });
    connect(m_pTagList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowContextMenu(m_pTagList, m_pDeleteMenu, pos); });
    QAbstractItemModel* pTags = m_pTagList->model();
    connect(pTags, &QAbstractItemModel::rowsInserted, this, &CAddItem::UpdateCommands);
    connect(pTags, &QAbstractItemModel::rowsRemoved, this, &CAddItem::UpdateCommands);
    connect(pTags, &QAbstractItemModel::modelReset, this, &CAddItem::UpdateCommands);
    UpdateCommands();
}

CAddItem::~CAddItem() {
    // The controls go after this object's own part is gone: nothing they signal on the way out (a
    // list clears its model, the tree its selection) may reach it.
    for (QObject* p :
         std::initializer_list<QObject*>{m_pTagList->model(), m_pTagList, m_pLeavesList, m_pBrowseTree})
        disconnect(p, nullptr, this, nullptr);
    ReleaseBrowser();
}

void CAddItem::BuildMenus() {
    auto add = [this](QMenu* pMenu, const QString& text, int nId, void (CAddItem::*handler)(),
                      const QString& prompt = {}) {
        QAction* a = pMenu->addAction(text);
        a->setObjectName(QString::number(nId));
        a->setData(nId);
        if (!prompt.isEmpty()) a->setStatusTip(prompt);
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    m_pBrowseMenu = m_pMenuBar->addMenu(QStringLiteral("&Browse"));
    add(m_pBrowseMenu, QStringLiteral("&Edit Item ID"), ID_BROWSE_EDITITEMID, &CAddItem::OnEditItemId,
        QStringLiteral("Edit the tag id"));
    add(m_pBrowseMenu, QStringLiteral("&Add To Tag List"), ID_BROWSE_ADDTOTAGLIST, &CAddItem::OnAddToTagList);
    add(m_pBrowseMenu, QStringLiteral("A&dd All Items To List"), ID_BROWSE_ADDALLITEMS,
        &CAddItem::OnAddAllItems);
    m_pItemMenu = m_pMenuBar->addMenu(QStringLiteral("&Item"));
    add(m_pItemMenu, QStringLiteral("&Validate"), ID_ITEM_VALIDATE, &CAddItem::OnValidate,
        QStringLiteral("Validate selected items"));
    m_pDeleteMenu = m_pMenuBar->addMenu(QStringLiteral("  "));
    add(m_pDeleteMenu, QStringLiteral("Delete Selected Items"), ID_DELETE_SELECTED,
        &CAddItem::OnDeleteSelected);
    for (QMenu* pMenu : {m_pBrowseMenu, m_pItemMenu, m_pDeleteMenu})
        connect(pMenu, &QMenu::aboutToShow, this, &CAddItem::UpdateCommands);
}

QMenu* CAddItem::GetPopup(int nIndex) const {
    switch (nIndex) {
        case 0:
            return m_pBrowseMenu;
        case 1:
            return m_pItemMenu;
        case 2:
            return m_pDeleteMenu;
        default:
            return nullptr;
    }
}

QAction* CAddItem::GetCommand(int nId) const {
    for (QMenu* pMenu : {m_pBrowseMenu, m_pItemMenu, m_pDeleteMenu})
        for (QAction* a : pMenu->actions())
            if (a->data().toInt() == nId) return a;
    return nullptr;
}

void CAddItem::UpdateCommands() {
    if (QAction* a = GetCommand(ID_ITEM_VALIDATE)) a->setEnabled(m_pTagList->count() > 0);
}

void CAddItem::ShowContextMenu(QWidget* pList, QMenu* pMenu, const QPoint& pos) {
    // Just below the pointer; the commands go to the dialog as from its menu bar.
    auto* pView = qobject_cast<QAbstractScrollArea*>(pList);
    const QPoint global = pView ? pView->viewport()->mapToGlobal(pos) : pList->mapToGlobal(pos);
    UpdateCommands();
    pMenu->exec(global);
}

bool CAddItem::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pTagList && pEvent->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Delete) {
        OnDeleteSelected();
        return true;
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

int CAddItem::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CAddItem::OnInitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;

    m_TreeImages = {QIcon(QPixmap(additem_folder_closed_xpm)), QIcon(QPixmap(additem_folder_open_xpm))};
    m_LeafImages = {QIcon(QPixmap(additem_leaf_tag_xpm))};
    m_TagImages = {QIcon(QPixmap(additem_tag_unvalidated_xpm)), QIcon(QPixmap(additem_tag_valid_xpm)),
                   QIcon(QPixmap(additem_tag_rejected_xpm))};
    m_bmpAddButton = QIcon(QPixmap(additem_add_arrow_xpm));
    m_pAddButton->setIcon(m_bmpAddButton);
    // A branch shows the closed folder, the selected branch the open one.
    m_branchIcon = QIcon();
    m_branchIcon.addPixmap(QPixmap(additem_folder_closed_xpm), QIcon::Normal);
    m_branchIcon.addPixmap(QPixmap(additem_folder_open_xpm), QIcon::Selected);

    m_strItemId = u"Item ID";
    m_pItemIdEdit->setText(ui::ToQString(m_strItemId));

    CreateBrowser();  // the dialog opens with or without a browser
}

// ---- The browser ----

void CAddItem::ReleaseBrowser() {
    m_browser.Release();
}

BOOL CAddItem::CreateBrowser() {
    ReleaseBrowser();
    if (std::optional<client::Message> failure =
            m_browser.Create(m_pServerPane ? m_pServerPane->GetAddItemsServer() : nullptr)) {
        client::Show(this, *failure);
        return FALSE;
    }
    FillBranches(OPCHDA_BRANCH, nullptr);
    return TRUE;
}

bool CAddItem::EnumerateNames(OPCHDA_BROWSETYPE dwBrowseType, std::vector<std::u16string>* pNames,
                              std::u16string* pProblem) {
    pNames->clear();
    pProblem->clear();
    if (!m_browser.Held()) return false;
    ui::WaitCursor wait;
    client::Browser::Names list = m_browser.Enumerate(dwBrowseType, m_nMaxBrowseNames);
    *pNames = std::move(list.names);
    *pProblem = std::move(list.problem);
    return list.answered;
}

void CAddItem::FillBranches(OPCHDA_BROWSETYPE dwBrowseType, QTreeWidgetItem* pParent) {
    std::vector<std::u16string> names;
    std::u16string problem;
    const bool bAnswered = EnumerateNames(dwBrowseType, &names, &problem);
    if (bAnswered && pParent) pParent->setData(0, kFilledRole, true);
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(static_cast<qsizetype>(names.size()));
    for (const std::u16string& name : names) {
        auto* pNode = new QTreeWidgetItem;
        SetEntryText(pNode, name);
        pNode->setIcon(0, m_branchIcon);
        nodes.append(pNode);
    }
    if (pParent)
        pParent->addChildren(nodes);
    else
        m_pBrowseTree->addTopLevelItems(nodes);
    if (!problem.empty()) hda::ShowMessage(this, problem, kErrorCaption, hda::MsgIcon::Exclamation);
}

void CAddItem::FillLeaves() {
    m_pLeavesList->clear();
    std::vector<std::u16string> names;
    std::u16string problem;
    EnumerateNames(OPCHDA_ITEMS, &names, &problem);
    // Sorted once, not on every insertion: a branch may hold very many items.
    m_pLeavesList->setSortingEnabled(false);
    const QIcon leaf = m_LeafImages.value(0);
    for (const std::u16string& name : names) {
        auto* pEntry = new QListWidgetItem(leaf, QString());
        SetEntryText(pEntry, name);
        m_pLeavesList->addItem(pEntry);
    }
    m_pLeavesList->sortItems(Qt::AscendingOrder);
    m_pLeavesList->setSortingEnabled(true);
    if (!problem.empty()) hda::ShowMessage(this, problem, kErrorCaption, hda::MsgIcon::Exclamation);
}

HRESULT CAddItem::MoveBrowserTo(QTreeWidgetItem* pNode, std::u16string* pFailedAt) {
    if (pFailedAt) pFailedAt->clear();
    if (!m_browser.Held() || !pNode) return E_FAIL;
    std::vector<std::u16string> path;
    for (QTreeWidgetItem* p = pNode; p; p = p->parent()) path.push_back(EntryText(p));
    std::reverse(path.begin(), path.end());
    return m_browser.MoveTo(path, pFailedAt);
}

void CAddItem::OnSelChangedTree() {
    const QList<QTreeWidgetItem*> selected = m_pBrowseTree->selectedItems();
    QTreeWidgetItem* pNode = selected.value(0);
    if (!pNode || !m_browser.Held()) return;

    std::u16string failedAt;
    const HRESULT hr = MoveBrowserTo(pNode, &failedAt);
    if (FAILED(hr)) {
        m_pLeavesList->clear();
        hda::ShowMessage(this,
                         com::FormatW(u"Unable to browse to '%s': ChangeBrowsePosition returns 0x%X",
                                      {ShownText(failedAt), hr}),
                         kErrorCaption, hda::MsgIcon::Exclamation);
        return;
    }
    FillLeaves();
    // Sub-branches are asked for once, on the first selection, and shown at once: a branch shows no
    // expand button before it was asked, so the user would not know to open it.
    if (!pNode->data(0, kFilledRole).toBool() && pNode->childCount() == 0) {
        FillBranches(OPCHDA_BRANCH, pNode);
        if (pNode->childCount() > 0) {
            pNode->setExpanded(true);
            // As many of them in view as fit, the branch itself kept in view.
            m_pBrowseTree->scrollToItem(pNode->child(pNode->childCount() - 1));
            m_pBrowseTree->scrollToItem(pNode);
        }
    }
}

// ---- Item IDs ----

bool CAddItem::ResolveItemId(const std::u16string& strLeaf, std::u16string* pItemId) {
    pItemId->clear();
    client::Browser::ItemId answer = m_browser.GetItemID(strLeaf);
    if (answer.message) {
        client::Show(this, *answer.message);
        return false;
    }
    if (!answer.resolved) {
        hda::ShowMessage(this, com::FormatW(u"%sError getting tagname", {ShownText(strLeaf)}), kAppTitle);
        return false;
    }
    *pItemId = std::move(answer.itemId);
    return true;
}

void CAddItem::OnEditItemId() {
    std::u16string leaf;  // with nothing selected the empty name is asked for
    for (int i = 0, n = m_pLeavesList->count(); i < n; ++i) {
        if (m_pLeavesList->item(i)->isSelected()) {
            leaf = EntryText(m_pLeavesList->item(i));
            break;
        }
    }
    std::u16string itemId;
    if (!ResolveItemId(leaf, &itemId)) return;
    m_strItemId = itemId;
    m_pItemIdEdit->setText(ui::ToQString(m_strItemId));
}

void CAddItem::OnAddToTagList() {
    std::vector<std::u16string> leaves;
    for (int i = 0, n = m_pLeavesList->count(); i < n; ++i)
        if (m_pLeavesList->item(i)->isSelected()) leaves.push_back(EntryText(m_pLeavesList->item(i)));
    for (const std::u16string& leaf : leaves) {
        std::u16string itemId;
        if (ResolveItemId(leaf, &itemId)) InsertTag(itemId, TAG_IMAGE_ENTERED);
    }
}

void CAddItem::OnAddAllItems() {
    std::vector<std::u16string> leaves;
    for (int i = 0, n = m_pLeavesList->count(); i < n; ++i)
        leaves.push_back(EntryText(m_pLeavesList->item(i)));
    for (const std::u16string& leaf : leaves) {
        std::u16string itemId;
        if (ResolveItemId(leaf, &itemId)) InsertTag(itemId, TAG_IMAGE_ENTERED);
    }
}

void CAddItem::OnAddItemId() {
    m_strItemId = ui::ToU16(m_pItemIdEdit->text());
    InsertTag(m_strItemId, TAG_IMAGE_ENTERED);
}

void CAddItem::InsertTag(const std::u16string& strItemId, int nImage) {
    auto* pEntry = new QListWidgetItem;
    SetEntryText(pEntry, strItemId);
    SetTagImage(pEntry, nImage);
    m_pTagList->addItem(pEntry);  // takes its sorted place
}

void CAddItem::SetTagImage(QListWidgetItem* pEntry, int nImage) {
    pEntry->setData(kImageRole, nImage);
    pEntry->setIcon(m_TagImages.value(nImage));
}

std::u16string CAddItem::EntryText(const QTreeWidgetItem* pNode) {
    if (!pNode) return {};
    const QVariant v = pNode->data(0, kTextRole);
    return ui::ToU16(v.isValid() ? v.toString() : pNode->text(0));
}

std::u16string CAddItem::EntryText(const QListWidgetItem* pEntry) {
    if (!pEntry) return {};
    const QVariant v = pEntry->data(kTextRole);
    return ui::ToU16(v.isValid() ? v.toString() : pEntry->text());
}

int CAddItem::EntryImage(const QListWidgetItem* pEntry) {
    return pEntry ? pEntry->data(kImageRole).toInt() : -1;
}

std::vector<std::u16string> CAddItem::TagListTexts() const {
    std::vector<std::u16string> texts;
    texts.reserve(static_cast<std::size_t>(m_pTagList->count()));
    for (int i = 0, n = m_pTagList->count(); i < n; ++i) texts.push_back(EntryText(m_pTagList->item(i)));
    return texts;
}

void CAddItem::OnValidate() {
    const std::vector<std::u16string> texts = TagListTexts();
    if (texts.empty()) return;
    const DWORD n = ToDword(texts.size());
    IOPCHDA_Server* pServer = m_pServerPane ? m_pServerPane->GetAddItemsServer() : nullptr;
    if (!pServer) {
        hda::ShowMessage(this, u"Can't validate Item IDs.", kErrorCaption);
        return;
    }
    client::ValidateOutcome outcome;
    {
        ui::WaitCursor wait;
        outcome = client::ValidateItemIDs(pServer, texts);
    }
    if (outcome.message) {
        client::Show(this, *outcome.message);
        return;
    }
    if (FAILED(outcome.hr)) {
        hda::ShowMessage(this, u"Can't validate Item IDs.", kErrorCaption);
        return;
    }
    // One code per entry, in list order; no further than the server's array reaches.
    const DWORD nAnswered = ToDword(outcome.codes.size());
    for (DWORD j = 0; j < n; ++j) {
        const int nImage = j < nAnswered ? (outcome.codes[j] == S_OK ? TAG_IMAGE_VALID : TAG_IMAGE_REJECTED)
                                         : TAG_IMAGE_ENTERED;
        SetTagImage(m_pTagList->item(static_cast<int>(j)), nImage);
    }
    if (nAnswered < n)
        hda::ShowMessage(
            this,
            com::FormatW(u"ValidateItemIDs returned 0x%X with results for %u of %u item IDs; the "
                         u"others are shown as not validated.",
                         {outcome.hr, nAnswered, n}),
            kErrorCaption, hda::MsgIcon::Exclamation);
}

void CAddItem::OnDeleteSelected() {
    if (m_pTagList->selectedItems().isEmpty()) return;
    if (hda::ShowMessage(this, u"Delete All Selected Items?", u"Confirm Delete", hda::MsgIcon::Question,
                         hda::MsgButtons::YesNoCancel) != hda::MsgResult::Yes)
        return;
    const QList<QListWidgetItem*> selected = m_pTagList->selectedItems();
    qDeleteAll(selected);
}

bool RegisterItemIds(QWidget* pOwner, IAddItemHost* pHost, const std::vector<std::u16string>& texts) {
    if (texts.empty()) return true;
    const DWORD n = ToDword(texts.size());
    IOPCHDA_Server* pServer = pHost ? pHost->GetAddItemsServer() : nullptr;
    if (!pServer) {
        hda::ShowMessage(pOwner, u"Error retrieving server handles", kErrorCaption);
        return true;
    }

    client::HandlesOutcome outcome;
    {
        ui::WaitCursor wait;
        outcome = client::GetItemHandles(pServer, texts);
    }
    if (outcome.message) {
        client::Show(pOwner, *outcome.message);
        return false;
    }
    if (FAILED(outcome.hr)) {
        hda::ShowMessage(pOwner, u"Error retrieving server handles", kErrorCaption);
        return true;
    }

    // An item is registered only when both arrays reach it and its code is exactly S_OK; one the
    // arrays do not reach is neither registered nor refused, and is counted to say so.
    const DWORD nErrors = ToDword(outcome.errors.size());
    const DWORD nHandles = ToDword(outcome.handles.size());
    bool bRefused = false;
    DWORD nUnanswered = n - nErrors;
    for (DWORD i = 0; i < nErrors; ++i) {
        if (outcome.errors[i] != S_OK)
            bRefused = true;
        else if (i >= nHandles)
            ++nUnanswered;
        else
            pHost->AddItemToServer(texts[i], outcome.handles[i]);
    }
    if (bRefused) {
        CErrorsEncounteredDlg dlg(pOwner);
        dlg.m_errors = outcome.errors;
        dlg.m_itemIds = texts;
        dlg.exec();
    }
    if (nUnanswered > 0)
        hda::ShowMessage(
            pOwner,
            com::FormatW(u"GetItemHandles returned 0x%X without a server handle or a result for %u of "
                         u"%u item IDs; those were not registered.",
                         {outcome.hr, nUnanswered, n}),
            kErrorCaption, hda::MsgIcon::Exclamation);
    return true;
}

void CAddItem::OnOK() {
    // Memory running out before the call keeps the dialog open.
    if (RegisterItemIds(this, m_pServerPane, TagListTexts())) accept();
}

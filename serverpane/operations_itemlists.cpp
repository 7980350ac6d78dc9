// Save Items and Load Items: the item IDs registered with the selected server, one a line in a UTF-8
// text file (client/itemlist.h), and registered again from such a file exactly as the Add Items
// dialog registers what it was given.
#include <QFile>
#include <QSaveFile>

#include "client/itemlist.h"
#include "dialogs/additem.h"
#include "resources/uikit.h"
#include "serverpane/opcitemctrls.h"
#include "serverpane/serverpane.h"

namespace {

constexpr char16_t kItemsCaption[] = u"Item list";
const QString kItemFilter = QStringLiteral("Item lists (*.txt);;All files (*)");
// A list file larger than this is not an item list.
constexpr qint64 kMaxListBytes = 64 << 20;

}  // namespace

void CServerPane::OnSaveItems() {
    QTreeWidgetItem* pNode = m_pServerTree->GetSelectedItem();
    CHDAServer* pServer = IsServerNode(pNode) ? FindServer(KeyFromNode(pNode)) : nullptr;
    if (!pServer) return;
    std::vector<std::u16string> ids;
    for (const auto& [strId, pItem] : pServer->m_mapItems) ids.push_back(strId);
    const void* pOwner = static_cast<const QWidget*>(this);
    std::u16string strBad;
    const std::optional<std::string> text = client::FormatItemList(ids, &strBad);
    if (!text) {
        hda::ShowMessage(pOwner,
                         u"The item ID \"" + strBad +
                             u"\" holds a line break and cannot be saved "
                             u"one a line; nothing was saved.",
                         kItemsCaption, hda::MsgIcon::Exclamation);
        return;
    }
    const QString strPath = AskFileName(true, QStringLiteral("Save Items"), kItemFilter);
    if (strPath.isEmpty()) return;
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text->data(), static_cast<qint64>(text->size())) != static_cast<qint64>(text->size()) ||
        !file.commit())
        hda::ShowMessage(pOwner,
                         ui::ToU16(QStringLiteral("Cannot write %1: %2").arg(strPath, file.errorString())),
                         kItemsCaption, hda::MsgIcon::Exclamation);
}

void CServerPane::OnLoadItems() {
    QTreeWidgetItem* pNode = m_pServerTree->GetSelectedItem();
    if (!IsServerNode(pNode) || !FindServer(KeyFromNode(pNode))) return;
    const QString strPath = AskFileName(false, QStringLiteral("Load Items"), kItemFilter);
    if (strPath.isEmpty()) return;
    const void* pOwner = static_cast<const QWidget*>(this);
    auto fail = [&](const QString& strWhy) {
        hda::ShowMessage(pOwner, ui::ToU16(QStringLiteral("Cannot read %1: %2").arg(strPath, strWhy)),
                         kItemsCaption, hda::MsgIcon::Exclamation);
    };
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    if (file.size() > kMaxListBytes) return fail(QStringLiteral("the file is too large for an item list"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return fail(file.errorString());
    const client::ItemListFile list =
        client::ParseItemList(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (list.badLine != 0)
        return fail(QStringLiteral("line %1 is not UTF-8 text; no item was added").arg(list.badLine));
    if (list.ids.empty()) return fail(QStringLiteral("the file lists no item ID"));

    // The server the items go to, as the Add Items dialog has it.
    m_hAddItemsServer = pNode;
    m_strCurrentServer = KeyFromNode(pNode);
    ::RegisterItemIds(this, this, list.ids);
}

// The client's record of one connected HDA server: which server on which computer, the interfaces
// obtained from it, and the items registered with it.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "hda/hdaitem.h"
#include "hda/messages.h"
#include "hda/opchda.h"
#include "hda/serverowner.h"

// The longest computer name a connection accepts; longer names are refused before any call.
inline constexpr std::size_t kMaxComputerName = 79;

class CHDAServer {
public:
    explicit CHDAServer(IHDAServerOwner* pOwner);
    virtual ~CHDAServer();
    CHDAServer(const CHDAServer&) = delete;
    CHDAServer& operator=(const CHDAServer&) = delete;

    // Resolves the ProgID and creates the server with IUnknown and IOPCHDA_Server; an empty computer
    // is the local one. Reports its own failures; TRUE when m_pServer is set.
    BOOL Connect(const std::u16string& strComputer, const std::u16string& strProgId);
    // Local lookup first, then the server-list service on the computer; all zero when neither knows it.
    CLSID ResolveClsid(const std::u16string& strProgId, const std::u16string& strComputer);

    // Obtain the optional interfaces once and hold them; TRUE when held.
    BOOL EnsureSyncRead();
    BOOL EnsureSyncUpdate();
    BOOL EnsureAsyncRead();

    // Registers an accepted item with the owner's current connection and adds its row to the item
    // list. An ID already registered there keeps its first handle. TRUE when a record was stored.
    BOOL AddItemToServer(const std::u16string& strItemId, OPCHANDLE hServer);
    // Refills the owner's item list from the registry.
    void ShowServerItems();
    // Removes the rows selected in the owner's item list and their records; nothing is sent to the server.
    void RemoveSelectedItems();
    void RemoveAllItems();
    // The server handle registered for the ID; 0 and *pbFound false when it is not registered.
    OPCHANDLE GetItemServerHandle(const std::u16string& strItemId, bool* pbFound = nullptr) const;

    std::u16string m_strComputer;
    std::u16string m_strProgId;
    IHDAServerOwner* m_pOwner;
    // One reference each. The owner releases m_pServer just before destroying the record (the
    // destructor releases it too if it is still held); the destructor releases the other three.
    IOPCHDA_Server* m_pServer = nullptr;
    IOPCHDA_SyncRead* m_pSyncRead = nullptr;
    IOPCHDA_SyncUpdate* m_pSyncUpdate = nullptr;
    IOPCHDA_AsyncRead* m_pAsyncRead = nullptr;
    // Item ID to record, ordinal order of the UTF-16 texts.
    std::map<std::u16string, std::unique_ptr<CHDAItem>> m_mapItems;

private:
    template <class I>
    BOOL EnsureInterface(I*& pMember, const IID& iid, const char16_t* pszFormat, hda::MsgIcon icon);
    void Report(std::u16string strText, hda::MsgIcon icon) const;
};

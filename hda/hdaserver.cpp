#include "hda/hdaserver.h"

#include <algorithm>
#include <array>

#include "com/objbase.h"
#include "com/text.h"

namespace {

constexpr char16_t kErrorCaption[] = u"Error";

// A call that throws counts as E_FAIL, as a structured exception inside the call would.
template <class F>
HRESULT Guarded(F&& call) {
    try {
        return call();
    } catch (...) {
        return E_FAIL;
    }
}

// The value AddRef returns, read as a signed 32-bit number.
LONG AddRefSigned(IUnknown* p) {
    return static_cast<LONG>(p->AddRef());
}

}  // namespace

CHDAServer::CHDAServer(IHDAServerOwner* pOwner) : m_pOwner(pOwner) {}

CHDAServer::~CHDAServer() {
    RemoveAllItems();
    if (m_pSyncRead) m_pSyncRead->Release();
    if (m_pAsyncRead) m_pAsyncRead->Release();
    if (m_pSyncUpdate) m_pSyncUpdate->Release();
    m_pSyncRead = nullptr;
    m_pAsyncRead = nullptr;
    m_pSyncUpdate = nullptr;
    // The owner normally released it already; a record dropped on another road must not leak it.
    if (m_pServer) m_pServer->Release();
    m_pServer = nullptr;
}

void CHDAServer::Report(std::u16string strText, hda::MsgIcon icon) const {
    hda::ShowMessage(m_pOwner ? m_pOwner->GetMessageOwner() : nullptr, std::move(strText), kErrorCaption,
                     icon, hda::MsgButtons::Ok);
}

CLSID CHDAServer::ResolveClsid(const std::u16string& strProgId, const std::u16string& strComputer) {
    CLSID clsid = CLSID_NULL;
    HRESULT hr = Guarded([&] { return CLSIDFromProgID(strProgId.c_str(), &clsid); });
    if (hr == S_OK) return clsid;
    clsid = CLSID_NULL;  // whatever a failed lookup left there is no class ID

    // Ask the server-list service on the named computer (the local one when no name is given).
    std::array<char16_t, kMaxComputerName + 1> szComputer{};
    const std::size_t cch = std::min(strComputer.size(), kMaxComputerName);
    std::copy_n(strComputer.begin(), cch, szComputer.begin());
    COSERVERINFO si{0, szComputer.data(), nullptr, 0};
    MULTI_QI mqi{&IID_IOPCServerList, nullptr, S_OK};
    hr = Guarded([&] { return CoCreateInstanceEx(CLSID_OpcServerList, nullptr, CLSCTX_ALL, &si, 1, &mqi); });
    if (hr == S_OK && SUCCEEDED(mqi.hr) && mqi.pItf) {
        auto* pList = reinterpret_cast<IOPCServerList*>(mqi.pItf);
        if (FAILED(pList->CLSIDFromProgID(strProgId.c_str(), &clsid))) clsid = CLSID_NULL;
        pList->Release();
    } else if (mqi.pItf) {
        mqi.pItf->Release();
    }
    return clsid;
}

BOOL CHDAServer::Connect(const std::u16string& strComputer, const std::u16string& strProgId) {
    m_strProgId = strProgId;
    m_strComputer = strComputer;

    // The name travels in a buffer of kMaxComputerName characters and a terminator: refuse what does
    // not fit rather than connect somewhere else.
    if (strComputer.size() > kMaxComputerName) {
        std::u16string shown = strComputer.substr(0, kMaxComputerName) + u"...";
        Report(
            com::FormatW(
                u"The computer name '%s' is too long: it has %u characters, at most %u are allowed.",
                {shown, static_cast<unsigned>(strComputer.size()), static_cast<unsigned>(kMaxComputerName)}),
            hda::MsgIcon::Stop);
        return FALSE;
    }

    const CLSID clsid = ResolveClsid(strProgId, strComputer);

    std::array<char16_t, kMaxComputerName + 1> szComputer{};
    std::copy(strComputer.begin(), strComputer.end(), szComputer.begin());
    COSERVERINFO si{0, szComputer.data(), nullptr, 0};
    const bool bRemote = !strComputer.empty();
    const DWORD dwContext =
        bRemote ? CLSCTX_REMOTE_SERVER : (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER);

    MULTI_QI mqi[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_IOPCHDA_Server, nullptr, S_OK}};
    HRESULT hr = Guarded(
        [&] { return CoCreateInstanceEx(clsid, nullptr, dwContext, bRemote ? &si : nullptr, 2, mqi); });

    auto releaseAll = [&] {
        for (MULTI_QI& q : mqi) {
            if (q.pItf) q.pItf->Release();
            q.pItf = nullptr;
        }
    };

    if (FAILED(hr)) {
        releaseAll();
        if (bRemote)
            Report(com::FormatW(u"Connect to '%s - %s' failed : Return Code =  %X",
                                {strComputer, strProgId, hr}),
                   hda::MsgIcon::Stop);
        else
            Report(com::FormatW(u"Connect to '%s' failed Return Code = %X", {strProgId, hr}),
                   hda::MsgIcon::Stop);
        return FALSE;
    }

    // An entry that claims success without a pointer is as unusable as a failed one.
    for (MULTI_QI& q : mqi)
        if (SUCCEEDED(q.hr) && q.pItf == nullptr) q.hr = E_POINTER;

    if (FAILED(mqi[0].hr)) {
        releaseAll();
        Report(com::FormatW(u"Unable to get IUnknown pointer; CoCreateInstance returns %X", {mqi[0].hr}),
               hda::MsgIcon::Stop);
        return FALSE;
    }
    if (FAILED(mqi[1].hr)) {
        releaseAll();
        Report(
            com::FormatW(u"Unable to get IOPCHDA_Server pointer; CoCreateInstance returns %X", {mqi[1].hr}),
            hda::MsgIcon::Stop);
        return FALSE;
    }

    IUnknown* pUnknown = mqi[0].pItf;
    LONG lRef = AddRefSigned(pUnknown);
    if (lRef < 0) {
        pUnknown->Release();  // the AddRef just made
        releaseAll();
        Report(com::FormatW(u"Unable to use IUnknown pointer; AddRef returns %X", {lRef}),
               hda::MsgIcon::Stop);
        return FALSE;
    }
    // Neither the AddRef nor the creation's IUnknown reference is kept.
    pUnknown->Release();
    pUnknown->Release();
    mqi[0].pItf = nullptr;

    auto* pServer = reinterpret_cast<IOPCHDA_Server*>(mqi[1].pItf);
    lRef = AddRefSigned(pServer);
    if (lRef < 0) {
        pServer->Release();
        releaseAll();
        Report(com::FormatW(u"Unable to use IOPCHDA_Server pointer; AddRef returns %X", {lRef}),
               hda::MsgIcon::Stop);
        return FALSE;
    }
    pServer->Release();
    mqi[1].pItf = nullptr;
    m_pServer = pServer;  // the reference the creation delivered

    // Optional interfaces: a missing one is reported but the server stays connected.
    EnsureAsyncRead();
    EnsureSyncRead();
    EnsureSyncUpdate();
    return TRUE;
}

template <class I>
BOOL CHDAServer::EnsureInterface(I*& pMember, const IID& iid, const char16_t* pszFormat, hda::MsgIcon icon) {
    if (pMember) return TRUE;
    if (!m_pServer) return FALSE;
    void* pv = nullptr;
    HRESULT hr = m_pServer->QueryInterface(iid, &pv);
    if (SUCCEEDED(hr) && pv == nullptr) hr = E_POINTER;
    if (FAILED(hr)) {
        if (pv) static_cast<IUnknown*>(pv)->Release();
        pMember = nullptr;
        Report(com::FormatW(pszFormat, {hr}), icon);
        return FALSE;
    }
    pMember = static_cast<I*>(pv);
    return TRUE;
}

BOOL CHDAServer::EnsureSyncRead() {
    return EnsureInterface(m_pSyncRead, IID_IOPCHDA_SyncRead, u"Error getting IOPCHDA_SyncRead pointer: %X",
                           hda::MsgIcon::Exclamation);
}

BOOL CHDAServer::EnsureSyncUpdate() {
    return EnsureInterface(m_pSyncUpdate, IID_IOPCHDA_SyncUpdate,
                           u"Error getting IOPCHDA_SyncUpdate pointer: %X", hda::MsgIcon::Exclamation);
}

BOOL CHDAServer::EnsureAsyncRead() {
    return EnsureInterface(m_pAsyncRead, IID_IOPCHDA_AsyncRead,
                           u"Error getting IOPCHDA_AsyncRead pointer: %X", hda::MsgIcon::None);
}

BOOL CHDAServer::AddItemToServer(const std::u16string& strItemId, OPCHANDLE hServer) {
    auto pItem = std::make_unique<CHDAItem>(hServer, strItemId);
    CHDAServer* pConnection = m_pOwner ? m_pOwner->GetCurrentServer() : nullptr;
    if (!pConnection) return FALSE;
    // The first registration of an ID stays; the new handle is neither kept nor released.
    auto [it, inserted] = pConnection->m_mapItems.try_emplace(strItemId, nullptr);
    if (!inserted) return FALSE;
    it->second = std::move(pItem);
    if (IItemListView* pList = m_pOwner->GetItemListView()) pList->InsertItem(0, strItemId, kItemImage);
    return TRUE;
}

void CHDAServer::ShowServerItems() {
    IItemListView* pList = m_pOwner ? m_pOwner->GetItemListView() : nullptr;
    if (!pList) return;
    if (pList->GetItemCount() > 0) pList->DeleteAllItems();
    for (const auto& [id, pItem] : m_mapItems) pList->InsertItem(0, id, kItemImage);
}

void CHDAServer::RemoveSelectedItems() {
    IItemListView* pList = m_pOwner ? m_pOwner->GetItemListView() : nullptr;
    if (!pList) return;
    const int nSelected = pList->GetSelectedCount();
    for (int i = 0; i < nSelected; ++i) {
        const int nRow = pList->GetNextSelectedItem(-1);
        if (nRow < 0) break;
        const std::u16string strId = pList->GetItemText(nRow);
        pList->DeleteItem(nRow);
        m_mapItems.erase(strId);
    }
}

void CHDAServer::RemoveAllItems() {
    m_mapItems.clear();
}

OPCHANDLE CHDAServer::GetItemServerHandle(const std::u16string& strItemId, bool* pbFound) const {
    auto it = m_mapItems.find(strItemId);
    const bool bFound = it != m_mapItems.end();
    if (pbFound) *pbFound = bFound;
    return bFound ? it->second->m_hServer : 0;
}

#include "client/browse.h"

#include <algorithm>

#include "com/ownership.h"
#include "com/text.h"

namespace client {

std::optional<Message> Browser::Create(IOPCHDA_Server* pServer) {
    m_pBrowser.Reset();
    constexpr char16_t kOops[] = u"Oops!";
    if (!pServer)
        return Message{u"Unable to get browser: the server is no longer connected", kOops,
                       hda::MsgIcon::None};

    VARIANT vFilter;
    VariantInit(&vFilter);
    vFilter.bstrVal = SysAllocString(u"*");
    if (!vFilter.bstrVal) return Message{u"Out of Memory!", u"Error", hda::MsgIcon::None};
    vFilter.vt = VT_BSTR;
    DWORD dwAttrId = OPCHDA_ITEMID;
    OPCHDA_OPERATORCODES op = OPCHDA_EQUAL;
    IOPCHDA_Browser* pBrowser = nullptr;
    com::Received<HRESULT> errors;  // whether the filter was taken does not matter: "*" passes everything
    const HRESULT hr = pServer->CreateBrowse(1, &dwAttrId, &op, &vFilter, &pBrowser, errors.Out());
    VariantClear(&vFilter);
    // A failing server should give none; if it did, it is ours to release.
    com::ComPtr<IOPCHDA_Browser> browser = com::AdoptInterface(pBrowser);
    if (FAILED(hr))
        return Message{com::FormatW(u"Unable to get browser: GetBrowser returns %x", {hr}), kOops,
                       hda::MsgIcon::None};
    if (!browser)
        return Message{
            com::FormatW(u"Unable to get browser: CreateBrowse returned %x without a browser", {hr}), kOops,
            hda::MsgIcon::None};
    m_pBrowser = std::move(browser);
    return std::nullopt;
}

Browser::Names Browser::Enumerate(OPCHDA_BROWSETYPE dwBrowseType, DWORD maxNames) {
    Names out;
    if (!m_pBrowser) return out;
    const char16_t* what = dwBrowseType == OPCHDA_BRANCH ? u"branches" : u"items";

    IEnumString* pEnumRaw = nullptr;
    const HRESULT hr = m_pBrowser->GetEnum(dwBrowseType, &pEnumRaw);
    com::ComPtr<IEnumString> pEnum = com::AdoptInterface(pEnumRaw);
    if (hr != S_OK) {
        // S_FALSE (nothing here) and other success codes list nothing; a failure is said.
        if (FAILED(hr))
            out.problem = com::FormatW(u"Unable to list the %s here: GetEnum returns 0x%X", {what, hr});
        out.answered = !FAILED(hr);
        return out;
    }
    if (!pEnum) {
        out.problem =
            com::FormatW(u"Unable to list the %s here: GetEnum returned 0x%X without a list", {what, hr});
        return out;
    }
    out.answered = true;
    // One name per call until the list ends. A server that never ends it is stopped after maxNames
    // names, and one that claims a name without giving one ends it.
    for (;;) {
        const bool bFull = out.names.size() >= maxNames;
        LPOLESTR psz = nullptr;
        ULONG nFetched = 0;
        const HRESULT hrNext = pEnum->Next(1, &psz, &nFetched);
        if (psz) {
            com::ReceivedText name = com::TakeReceivedText(psz);
            if (bFull) {
                out.problem =
                    com::FormatW(u"The server lists more than %u %s here; only the first %u are shown.",
                                 {maxNames, what, maxNames});
                break;
            }
            out.names.push_back(std::move(name.text));
        } else if (hrNext == S_OK) {
            out.problem = com::FormatW(
                u"The server's list of %s ended early: Next returned S_OK without a name. The %u received "
                u"are "
                u"shown.",
                {what, static_cast<DWORD>(std::min<std::size_t>(out.names.size(), 0xFFFFFFFFu))});
            break;
        }
        if (FAILED(hrNext)) {
            // A failed Next is not the end of the list: what came is shown, and that it stopped short.
            out.problem = com::FormatW(
                u"The server's list of %s ended early: Next returned 0x%X. The %u received are shown.",
                {what, hrNext, static_cast<DWORD>(std::min<std::size_t>(out.names.size(), 0xFFFFFFFFu))});
            break;
        }
        if (hrNext != S_OK) break;
    }
    return out;
}

HRESULT Browser::ChangePosition(OPCHDA_BROWSEDIRECTION dwDirection, std::u16string_view name) {
    if (!m_pBrowser) return E_FAIL;
    com::TaskMem<WCHAR[]> pszName = com::TaskMemStrDup(name);
    if (!pszName) return E_OUTOFMEMORY;
    return m_pBrowser->ChangeBrowsePosition(dwDirection, pszName.get());
}

HRESULT Browser::MoveTo(const std::vector<std::u16string>& path, std::u16string* pFailedAt) {
    if (pFailedAt) pFailedAt->clear();
    if (!m_pBrowser || path.empty()) return E_FAIL;
    // A step the server refuses ends the walk: the browser is not where the path says, and what it
    // would list belongs to another branch.
    ChangePosition(OPCHDA_BROWSE_UP, u"");
    for (std::size_t i = 0; i < path.size(); ++i) {
        const HRESULT hr = ChangePosition(i == 0 ? OPCHDA_BROWSE_DIRECT : OPCHDA_BROWSE_DOWN, path[i]);
        if (FAILED(hr)) {
            if (pFailedAt) *pFailedAt = path[i];
            return hr;
        }
    }
    return S_OK;
}

Browser::ItemId Browser::GetItemID(std::u16string_view leaf) {
    ItemId out;
    if (!m_pBrowser) return out;
    com::TaskMem<WCHAR[]> pszLeaf = com::TaskMemStrDup(leaf);
    if (!pszLeaf) {
        out.message = Message{u"Out of Memory!", u"Error", hda::MsgIcon::None};
        return out;
    }
    LPWSTR pszItemId = nullptr;
    const HRESULT hr = m_pBrowser->GetItemID(pszLeaf.get(), &pszItemId);
    com::ReceivedText itemId = com::TakeReceivedText(pszItemId);
    // S_OK without a string resolves nothing.
    out.resolved = hr == S_OK && itemId.present;
    if (out.resolved) out.itemId = std::move(itemId.text);
    return out;
}

}  // namespace client

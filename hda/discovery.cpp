#include "hda/discovery.h"

#include "com/objbase.h"
#include "com/text.h"
#include "hda/messages.h"
#include "hda/opchda.h"

namespace hda {

namespace {
void Report(const void* pOwner, std::u16string text) {
    ShowMessage(pOwner, std::move(text), kSetupCaption, MsgIcon::None, MsgButtons::Ok);
}
}  // namespace

bool InitComAndDiscoverServers(const void* pOwner,
                               const std::function<void(const std::u16string&)>& addEntry) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        Report(pOwner, com::FormatW(u"Error from CoInitialize: 0x%X.", {hr}));
        return false;
    }

    // Process-wide: every later call to another computer uses these settings.
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                              RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) {
        Report(pOwner, com::FormatW(u"Error from CoInitializeSecurity: 0x%X.", {hr}));
        return true;
    }

    ICatInformation* pCatInfo = nullptr;
    hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                          reinterpret_cast<void**>(&pCatInfo));
    if (FAILED(hr) || pCatInfo == nullptr) {
        if (SUCCEEDED(hr)) hr = E_POINTER;
        Report(pOwner,
               com::FormatW(u"Error from CoCreateInstance for CLSID_StdComponentCategoriesMgr: 0x%X.", {hr}));
        return true;
    }

    const CATID implemented[1] = {CATID_OPCHDAServer10};
    IEnumCLSID* pEnum = nullptr;
    hr = pCatInfo->EnumClassesOfCategories(1, implemented, 0, nullptr, &pEnum);
    if (SUCCEEDED(hr) && pEnum) {
        CLSID clsid{};
        ULONG fetched = 0;
        // Exactly S_OK with one class delivered; S_FALSE ends the list, anything else too.
        while (pEnum->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
            LPOLESTR pszProgId = nullptr;
            hr = ProgIDFromCLSID(clsid, &pszProgId);
            if (SUCCEEDED(hr) && pszProgId == nullptr) hr = E_POINTER;
            if (FAILED(hr)) {
                CoTaskMemFree(pszProgId);
                Report(pOwner,
                       com::FormatW(u"Error from ProgIDFromCLSID : 0x%X (CLSID = 0x%X)", {hr, clsid.Data1}));
                continue;
            }
            addEntry(std::u16string(pszProgId));
            CoTaskMemFree(pszProgId);
            fetched = 0;
        }
        pEnum->Release();
    } else if (pEnum) {
        pEnum->Release();
    }
    pCatInfo->Release();
    return true;
}

}  // namespace hda

#include "hda/discovery.h"

#include "com/objbase.h"
#include "com/ownership.h"
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

    com::ComPtr<ICatInformation> pCatInfo;
    hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                          pCatInfo.ReleaseAndGetVoidAddress());
    if (FAILED(hr) || !pCatInfo) {
        if (SUCCEEDED(hr)) hr = E_POINTER;
        Report(pOwner,
               com::FormatW(u"Error from CoCreateInstance for CLSID_StdComponentCategoriesMgr: 0x%X.", {hr}));
        return true;
    }

    const CATID implemented[1] = {CATID_OPCHDAServer10};
    com::ComPtr<IEnumCLSID> pEnum;
    hr = pCatInfo->EnumClassesOfCategories(1, implemented, 0, nullptr, pEnum.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && pEnum) {
        CLSID clsid{};
        ULONG fetched = 0;
        // Exactly S_OK with one class delivered; S_FALSE ends the list, anything else too.
        while (pEnum->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
            LPOLESTR pszProgIdRaw = nullptr;
            hr = ProgIDFromCLSID(clsid, &pszProgIdRaw);
            const com::ReceivedText progId = com::TakeReceivedText(pszProgIdRaw);
            if (SUCCEEDED(hr) && !progId.present) hr = E_POINTER;
            if (FAILED(hr)) {
                Report(pOwner,
                       com::FormatW(u"Error from ProgIDFromCLSID : 0x%X (CLSID = 0x%X)", {hr, clsid.Data1}));
                continue;
            }
            addEntry(progId.text);
            fetched = 0;
        }
    }
    return true;
}

}  // namespace hda

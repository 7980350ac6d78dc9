#include "hda/serverlist.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "com/classstore.h"
#include "com/objbase.h"
#include "hda/opchda.h"

namespace {

HRESULT CopyToTaskString(std::u16string_view s, LPOLESTR* out) {
    static_assert(sizeof(OLECHAR) == sizeof(char16_t));
    auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
    if (p == nullptr) return E_OUTOFMEMORY;
    std::memcpy(p, s.data(), s.size() * sizeof(OLECHAR));
    p[s.size()] = 0;
    *out = p;
    return S_OK;
}

// Answers from the runtime's category manager and the class store; it keeps the category manager it
// was created with.
class ServerList final : public com::ComObject<IOPCServerList> {
public:
    explicit ServerList(com::ComPtr<ICatInformation> categories) : m_categories(std::move(categories)) {}

    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[],
                                                      ULONG cRequired, CATID rgcatidReq[],
                                                      IEnumGUID** ppenumClsid) override {
        if (ppenumClsid == nullptr) return E_INVALIDARG;
        *ppenumClsid = nullptr;
        return m_categories->EnumClassesOfCategories(cImplemented, rgcatidImpl, cRequired, rgcatidReq,
                                                     ppenumClsid);
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                              LPOLESTR* ppszUserType) override {
        if (ppszProgID) *ppszProgID = nullptr;
        if (ppszUserType) *ppszUserType = nullptr;
        if (ppszProgID == nullptr || ppszUserType == nullptr) return E_INVALIDARG;
        com::ClassRegistration reg;
        if (!com::FindComClass(clsid, &reg) || reg.progId.empty()) return REGDB_E_CLASSNOTREG;
        LPOLESTR p = nullptr, u = nullptr;
        if (FAILED(CopyToTaskString(reg.progId, &p))) return E_OUTOFMEMORY;
        if (FAILED(CopyToTaskString(reg.description, &u))) {
            CoTaskMemFree(p);
            return E_OUTOFMEMORY;
        }
        *ppszProgID = p;
        *ppszUserType = u;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) override {
        if (clsid == nullptr) return E_INVALIDARG;
        return ::CLSIDFromProgID(szProgId, clsid);
    }

private:
    com::ComPtr<ICatInformation> m_categories;
};

class ServerListFactory final : public com::ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
#ifdef _WIN32
        // Where OPC's own server-list service (a local server) is installed on this computer, it
        // answers: it also knows the servers its vendors registered by its own means. The class
        // object here is registered for in-process requests only, so asking for a local server does
        // not come back here; the flag stops it if a COM ever did.
        static thread_local bool asking = false;
        if (!asking) {
            asking = true;
            const HRESULT opc =
                CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_LOCAL_SERVER, riid, ppvObject);
            asking = false;
            if (SUCCEEDED(opc) && *ppvObject != nullptr) return opc;
            *ppvObject = nullptr;
        }
#endif
        com::ComPtr<ICatInformation> categories;
        HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICatInformation, categories.ReleaseAndGetVoidAddress());
        if (FAILED(hr)) return hr;
        auto* object = new (std::nothrow) ServerList(std::move(categories));
        if (object == nullptr) return E_OUTOFMEMORY;
        hr = object->QueryInterface(riid, ppvObject);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override {
        return S_OK;
    }
};

HRESULT GetServerListClassObject(REFIID riid, void** ppv) {
    auto* factory = new (std::nothrow) ServerListFactory;
    if (factory == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

}  // namespace

namespace hda {

void InstallServerList() {
    com::SetProcessClass(CLSID_OpcServerList, &GetServerListClassObject);
}

}  // namespace hda

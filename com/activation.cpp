// Activation: ProgID lookups, class objects, instance creation, and the runtime's own class (the
// component category manager), all answering from the class store.
//
// Where a request goes:
//   - a COSERVERINFO naming another computer (anything but an empty name, ".", "localhost", a loopback
//     address or this host's name; a name with ":port" always counts as another computer) together
//     with CLSCTX_REMOTE_SERVER goes to the remote activator; so does a context that allows only
//     CLSCTX_REMOTE_SERVER without any COSERVERINFO. Without an activator installed such a request
//     fails with CO_E_SERVER_EXEC_FAILURE;
//   - a COSERVERINFO naming this computer is served here: CLSCTX_REMOTE_SERVER then allows the
//     in-process server, which is how this computer serves its classes;
//   - otherwise the class is created in-process when the context allows CLSCTX_INPROC_SERVER: the
//     runtime's own classes first, then the classes installed with SetProcessClass, then the store's
//     entry, whose library is loaded with dlopen(RTLD_NOW | RTLD_LOCAL) and never closed. A context
//     allowing CLSCTX_LOCAL_SERVER asks the local activator first (when one is installed), which may
//     run the class in a process of its own; otherwise a class not found this way is
//     REGDB_E_CLASSNOTREG.
// Codes: a registered library that does not exist: CO_E_DLLNOTFOUND; one that cannot be loaded, lacks
// DllGetClassObject, or reports success without an object: CO_E_ERRORINDLL. Class objects are
// served in-process only (CoGetClassObject for another computer: CO_E_SERVER_EXEC_FAILURE).
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "com/runtime_state.h"
#include "com/text.h"

namespace {

using com::ClassRegistration;
using com::detail::ClassList;

// ---- Server libraries ----

thread_local std::string t_lastLibraryError;

struct LibraryCache {
    std::mutex mutex;
    std::map<std::string, void*> handles;  // by path; never closed
};

LibraryCache& Libraries() {
    static LibraryCache* cache = new LibraryCache;  // outlives every static destructor: libraries stay mapped
    return *cache;
}

// ---- Where a request goes ----

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool NamesOtherComputer(const COSERVERINFO* info) {
    if (info == nullptr || info->pwszName == nullptr) return false;
    std::string name = AsciiLower(com::Utf16ToUtf8(info->pwszName));
    std::size_t start = name.find_first_not_of('\\');
    name = start == std::string::npos ? std::string() : name.substr(start);
    if (name.empty() || name == "." || name == "localhost" || name == "localhost.localdomain" ||
        name == "127.0.0.1" || name == "::1" || name == "[::1]")
        return false;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0] != 0) {
        std::string own = AsciiLower(host);
        if (name == own || name == own.substr(0, own.find('.'))) return false;
    }
    return true;
}

constexpr DWORD kActivationContexts =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// True when the request goes to the remote activator; otherwise *localCtx is the context to
// serve it with here.
bool GoesRemote(DWORD ctx, const COSERVERINFO* info, DWORD* localCtx) {
    *localCtx = ctx;
    const bool remoteAllowed = (ctx & CLSCTX_REMOTE_SERVER) != 0;
    if (info == nullptr) return (ctx & kActivationContexts) == CLSCTX_REMOTE_SERVER;
    if (NamesOtherComputer(info)) return remoteAllowed;
    if (remoteAllowed) *localCtx |= CLSCTX_INPROC_SERVER;
    return false;
}

// The class object of a class served in this process.
HRESULT GetLocalClassObject(REFCLSID clsid, DWORD ctx, REFIID riid, void** ppv) {
    *ppv = nullptr;
    if ((ctx & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    if (auto builtin = com::detail::FindBuiltinClass(clsid)) return builtin(riid, ppv);

    std::string library;
    {
        auto store = com::detail::ClassStoreSnapshot();
        const ClassRegistration* reg = com::detail::FindByClsid(*store, clsid);
        if (reg == nullptr) return REGDB_E_CLASSNOTREG;
        library = reg->libraryPath;
    }
    void* handle = nullptr;
    HRESULT hr = com::detail::LoadServerLibrary(library, &handle);
    if (FAILED(hr)) return hr;
    void* address = nullptr;
    hr = com::detail::FindServerExport(handle, library, "DllGetClassObject", &address);
    if (FAILED(hr)) return hr;
    auto getClassObject = reinterpret_cast<PFN_DllGetClassObject>(address);
    try {
        hr = getClassObject(clsid, riid, ppv);
    } catch (...) {
        com::detail::SetLastServerLibraryError("DllGetClassObject in '" + library + "' threw an exception");
        *ppv = nullptr;
        return CO_E_ERRORINDLL;
    }
    if (SUCCEEDED(hr) && *ppv == nullptr) {
        com::detail::SetLastServerLibraryError("DllGetClassObject in '" + library + "' gave no object");
        return CO_E_ERRORINDLL;
    }
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

void FailAll(DWORD count, MULTI_QI* results, HRESULT hr) {
    for (DWORD i = 0; i < count; ++i) {
        results[i].pItf = nullptr;
        results[i].hr = hr;
    }
}

// ---- Category matching ----

constexpr ULONG kAnyCategory = static_cast<ULONG>(-1);

// The classes that implement at least one of the listed categories (all classes for -1). The store
// records no required categories, so every class satisfies any list of required ones.
HRESULT ClassesOfCategories(ULONG cImplemented, const CATID* rgcatidImpl, ULONG cRequired,
                            const CATID* rgcatidReq, std::vector<GUID>* out) {
    if (cImplemented != kAnyCategory && cImplemented > 0 && rgcatidImpl == nullptr) return E_INVALIDARG;
    if (cRequired != kAnyCategory && cRequired > 0 && rgcatidReq == nullptr) return E_INVALIDARG;
    auto store = com::detail::ClassStoreSnapshot();
    for (const ClassRegistration& reg : *store) {
        bool match = cImplemented == kAnyCategory;
        for (ULONG i = 0; !match && i < cImplemented; ++i)
            for (const CATID& cat : reg.categories)
                if (cat == rgcatidImpl[i]) {
                    match = true;
                    break;
                }
        if (match) out->push_back(reg.clsid);
    }
    return S_OK;
}

// ---- The runtime's own objects ----

class GuidEnumerator final : public com::ComObject<IEnumGUID> {
public:
    GuidEnumerator(std::shared_ptr<const std::vector<GUID>> items, std::size_t pos)
        : m_items(std::move(items)), m_pos(pos) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched) *pceltFetched = 0;
        if (celt == 0) return S_OK;
        if (rgelt == nullptr) return E_POINTER;
        if (celt > 1 && pceltFetched == nullptr) return E_INVALIDARG;
        ULONG n = 0;
        while (n < celt && m_pos < m_items->size()) rgelt[n++] = (*m_items)[m_pos++];
        if (pceltFetched) *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        std::size_t left = m_items->size() - m_pos;
        if (celt > left) {
            m_pos = m_items->size();
            return S_FALSE;
        }
        m_pos += celt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_pos = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumGUID** ppenum) override {
        if (ppenum == nullptr) return E_POINTER;
        *ppenum = new GuidEnumerator(m_items, m_pos);
        return S_OK;
    }

    static HRESULT Create(std::vector<GUID> items, IEnumGUID** ppenum) {
        *ppenum = new GuidEnumerator(std::make_shared<const std::vector<GUID>>(std::move(items)), 0);
        return S_OK;
    }

private:
    std::shared_ptr<const std::vector<GUID>> m_items;
    std::size_t m_pos;
};

class CategoryManager final : public com::ComObject<ICatInformation> {
public:
    HRESULT STDMETHODCALLTYPE EnumCategories(LCID, IEnumCATEGORYINFO** ppenumCategoryInfo) override {
        if (ppenumCategoryInfo) *ppenumCategoryInfo = nullptr;
        return E_NOTIMPL;  // the store keeps no category descriptions
    }
    HRESULT STDMETHODCALLTYPE GetCategoryDesc(REFCATID, LCID, LPWSTR* pszDesc) override {
        if (pszDesc) *pszDesc = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, const CATID rgcatidImpl[],
                                                      ULONG cRequired, const CATID rgcatidReq[],
                                                      IEnumCLSID** ppenumClsid) override {
        if (ppenumClsid == nullptr) return E_POINTER;
        *ppenumClsid = nullptr;
        std::vector<GUID> classes;
        HRESULT hr = ClassesOfCategories(cImplemented, rgcatidImpl, cRequired, rgcatidReq, &classes);
        if (FAILED(hr)) return hr;
        return GuidEnumerator::Create(std::move(classes), ppenumClsid);
    }
    HRESULT STDMETHODCALLTYPE IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented,
                                                  const CATID rgcatidImpl[], ULONG cRequired,
                                                  const CATID rgcatidReq[]) override {
        std::vector<GUID> classes;
        HRESULT hr = ClassesOfCategories(cImplemented, rgcatidImpl, cRequired, rgcatidReq, &classes);
        if (FAILED(hr)) return hr;
        for (const GUID& c : classes)
            if (c == rclsid) return S_OK;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE EnumImplCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) override {
        if (ppenumCatid == nullptr) return E_POINTER;
        *ppenumCatid = nullptr;
        auto store = com::detail::ClassStoreSnapshot();
        const ClassRegistration* reg = com::detail::FindByClsid(*store, rclsid);
        if (reg == nullptr) return REGDB_E_CLASSNOTREG;
        return GuidEnumerator::Create(reg->categories, ppenumCatid);
    }
    HRESULT STDMETHODCALLTYPE EnumReqCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) override {
        if (ppenumCatid == nullptr) return E_POINTER;
        *ppenumCatid = nullptr;
        auto store = com::detail::ClassStoreSnapshot();
        if (com::detail::FindByClsid(*store, rclsid) == nullptr) return REGDB_E_CLASSNOTREG;
        return GuidEnumerator::Create({}, ppenumCatid);
    }
};

HRESULT CopyToTaskString(std::u16string_view s, LPOLESTR* out) {
    auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
    if (p == nullptr) return E_OUTOFMEMORY;
    std::memcpy(p, s.data(), s.size() * sizeof(OLECHAR));
    p[s.size()] = 0;
    *out = p;
    return S_OK;
}

template <class Object>
class BuiltinFactory final : public com::ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new Object;
        HRESULT hr = object->QueryInterface(riid, ppvObject);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

template <class Object>
HRESULT GetBuiltinClassObject(REFIID riid, void** ppv) {
    auto* factory = new BuiltinFactory<Object>;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

}  // namespace

// ---- Lookups ----

extern "C" HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (lpclsid == nullptr) return E_POINTER;
    *lpclsid = CLSID_NULL;
    if (lpszProgID == nullptr) return E_INVALIDARG;
    auto store = com::detail::ClassStoreSnapshot();
    const ClassRegistration* reg = com::detail::FindByProgId(*store, lpszProgID);
    if (reg == nullptr) return CO_E_CLASSSTRING;
    *lpclsid = reg->clsid;
    return S_OK;
}

extern "C" HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (lplpszProgID == nullptr) return E_POINTER;
    *lplpszProgID = nullptr;
    auto store = com::detail::ClassStoreSnapshot();
    const ClassRegistration* reg = com::detail::FindByClsid(*store, clsid);
    if (reg == nullptr || reg->progId.empty()) return REGDB_E_CLASSNOTREG;
    return CopyToTaskString(reg->progId, lplpszProgID);
}

// ---- Activation ----

extern "C" HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                                    REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!com::detail::IsInitialized()) return CO_E_NOTINITIALIZED;
    if ((dwClsContext & kActivationContexts) == 0) return E_INVALIDARG;
    DWORD localCtx = 0;
    if (GoesRemote(dwClsContext, pServerInfo, &localCtx)) return CO_E_SERVER_EXEC_FAILURE;
    return GetLocalClassObject(rclsid, localCtx, riid, ppv);
}

extern "C" HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx,
                                      COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    if (dwCount == 0 || pResults == nullptr) return E_INVALIDARG;
    for (DWORD i = 0; i < dwCount; ++i) {
        if (pResults[i].pIID == nullptr) {
            FailAll(dwCount, pResults, E_INVALIDARG);
            return E_INVALIDARG;
        }
    }
    HRESULT hr = S_OK;
    if (!com::detail::IsInitialized())
        hr = CO_E_NOTINITIALIZED;
    else if (punkOuter != nullptr)
        hr = CLASS_E_NOAGGREGATION;
    else if ((dwClsCtx & kActivationContexts) == 0)
        hr = E_INVALIDARG;
    if (FAILED(hr)) {
        FailAll(dwCount, pResults, hr);
        return hr;
    }

    DWORD localCtx = 0;
    if (GoesRemote(dwClsCtx, pServerInfo, &localCtx)) {
        com::RemoteActivator remote = com::detail::CurrentRemoteActivator();
        if (remote == nullptr) {
            FailAll(dwCount, pResults, CO_E_SERVER_EXEC_FAILURE);
            return CO_E_SERVER_EXEC_FAILURE;
        }
        com::detail::FixDefaultSecurity();
        FailAll(dwCount, pResults, E_NOINTERFACE);
        return remote(rclsid, pServerInfo, dwCount, pResults);
    }

    if ((localCtx & CLSCTX_LOCAL_SERVER) != 0 && com::detail::FindBuiltinClass(rclsid) == nullptr) {
        if (com::LocalActivator local = com::detail::CurrentLocalActivator()) {
            HRESULT localHr = S_OK;
            if (local(rclsid, localCtx, dwCount, pResults, &localHr)) return localHr;
        }
    }

    IClassFactory* factory = nullptr;
    hr = GetLocalClassObject(rclsid, localCtx, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        FailAll(dwCount, pResults, hr);
        return hr;
    }
    IUnknown* object = nullptr;
    try {
        hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object));
    } catch (...) {
        object = nullptr;
        hr = E_UNEXPECTED;
    }
    factory->Release();
    if (SUCCEEDED(hr) && object == nullptr) hr = E_UNEXPECTED;
    if (FAILED(hr)) {
        FailAll(dwCount, pResults, hr);
        return hr;
    }
    DWORD obtained = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        void* itf = nullptr;
        HRESULT qhr = object->QueryInterface(*pResults[i].pIID, &itf);
        if (SUCCEEDED(qhr) && itf == nullptr) qhr = E_NOINTERFACE;
        if (FAILED(qhr)) itf = nullptr;
        pResults[i].pItf = static_cast<IUnknown*>(itf);
        pResults[i].hr = qhr;
        if (SUCCEEDED(qhr)) ++obtained;
    }
    object->Release();
    if (obtained == dwCount) return S_OK;
    return obtained > 0 ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

extern "C" HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                                    LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    MULTI_QI qi{&riid, nullptr, S_OK};
    HRESULT hr = CoCreateInstanceEx(rclsid, pUnkOuter, dwClsContext, nullptr, 1, &qi);
    if (FAILED(hr)) return hr;
    *ppv = qi.pItf;
    return qi.hr;
}

namespace com {

std::string LastServerLibraryError() {
    return t_lastLibraryError;
}

namespace detail {

void SetLastServerLibraryError(std::string text) {
    t_lastLibraryError = std::move(text);
}

HRESULT LoadServerLibrary(const std::string& path, void** handle) {
    *handle = nullptr;
    auto& cache = Libraries();
    {
        std::lock_guard lock(cache.mutex);
        auto it = cache.handles.find(path);
        if (it != cache.handles.end()) {
            *handle = it->second;
            t_lastLibraryError.clear();
            return S_OK;
        }
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        int err = errno;
        t_lastLibraryError = "'" + path + "': " + std::strerror(err);
        return err == ENOENT || err == ENOTDIR ? CO_E_DLLNOTFOUND : CO_E_ERRORINDLL;
    }
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        const char* why = dlerror();
        t_lastLibraryError = why ? why : "'" + path + "' could not be loaded";
        return CO_E_ERRORINDLL;
    }
    {
        std::lock_guard lock(cache.mutex);
        cache.handles.emplace(path, h);
    }
    *handle = h;
    t_lastLibraryError.clear();
    return S_OK;
}

HRESULT FindServerExport(void* handle, const std::string& path, const char* name, void** address) {
    dlerror();
    *address = dlsym(handle, name);
    if (*address == nullptr) {
        t_lastLibraryError = "'" + path + "' does not export " + name;
        return CO_E_ERRORINDLL;
    }
    return S_OK;
}

void RegisterBuiltinClasses(BuiltinClassTable& table) {
    table.Add(CLSID_StdComponentCategoriesMgr, &GetBuiltinClassObject<CategoryManager>);
}

}  // namespace detail
}  // namespace com

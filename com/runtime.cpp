// COM life cycle and process security.
//
// The runtime keeps one process-wide apartment: CoInitializeEx counts its calls in the process (not per
// thread), and the concurrency model of the first successful call holds until the count returns to
// zero. CoInitializeSecurity may succeed once per process; it needs an initialised runtime, as on
// Windows (CO_E_NOTINITIALIZED otherwise), and its settings survive CoUninitialize, because DCOM
// security is fixed for the life of the process.
#include <memory>
#include <mutex>
#include <vector>

#include "com/runtime_state.h"

namespace {

struct RuntimeState {
    std::mutex mutex;
    long initCount = 0;
    DWORD model = COINIT_MULTITHREADED;
    std::unique_ptr<com::detail::BuiltinClassTable> builtins;
    com::SecuritySettings security;
    com::RemoteActivator remoteActivator = nullptr;
    struct ProcessClass {
        CLSID clsid;
        com::ClassObjectGetter getter;
    };
    std::vector<ProcessClass> processClasses;  // installed by the layers above; survive CoUninitialize
    com::LocalActivator localActivator = nullptr;
};

RuntimeState& State() {
    static RuntimeState state;
    return state;
}

constexpr DWORD kKnownCoInitFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
constexpr DWORD kMaxAuthnLevel = RPC_C_AUTHN_LEVEL_PKT_PRIVACY;
constexpr DWORD kMaxImpLevel = 4;  // RPC_C_IMP_LEVEL_DELEGATE

}  // namespace

extern "C" HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    if (pvReserved != nullptr || (dwCoInit & ~kKnownCoInitFlags) != 0) return E_INVALIDARG;
    const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (s.initCount > 0) {
        // A refused call is not counted, so the caller must not balance it with CoUninitialize.
        if (model != s.model) return RPC_E_CHANGED_MODE;
        ++s.initCount;
        return S_FALSE;
    }
    auto table = std::make_unique<com::detail::BuiltinClassTable>();
    com::detail::RegisterBuiltinClasses(*table);
    s.builtins = std::move(table);
    s.model = model;
    s.initCount = 1;
    return S_OK;
}

extern "C" HRESULT CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

extern "C" void CoUninitialize() {
    auto& s = State();
    {
        std::lock_guard lock(s.mutex);
        if (s.initCount == 0) return;  // unbalanced: nothing to undo
        if (--s.initCount > 0) return;
        s.builtins.reset();
    }
    // Loaded server libraries stay mapped: objects a caller still holds keep their code.
    com::detail::DropClassStoreCache();
}

extern "C" HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR /*pSecDesc*/, LONG cAuthSvc,
                                        SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* /*pReserved1*/,
                                        DWORD dwAuthnLevel, DWORD dwImpLevel, void* /*pAuthList*/,
                                        DWORD dwCapabilities, void* /*pReserved3*/) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (s.initCount == 0) return CO_E_NOTINITIALIZED;
    if (s.security.fixed) return RPC_E_TOO_LATE;
    if (cAuthSvc < -1 || (cAuthSvc > 0 && asAuthSvc == nullptr)) return E_INVALIDARG;
    if (dwAuthnLevel > kMaxAuthnLevel || dwImpLevel > kMaxImpLevel) return E_INVALIDARG;
    // The security descriptor and the authentication lists have no counterpart here: the remote
    // layer decides whom to trust by certificate. Only the levels and capabilities are kept.
    s.security.fixed = true;
    s.security.authnLevel = dwAuthnLevel;
    s.security.impLevel = dwImpLevel;
    s.security.capabilities = dwCapabilities;
    return S_OK;
}

namespace com {

SecuritySettings CurrentSecurity() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.security;
}

void SetRemoteActivator(RemoteActivator activator) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.remoteActivator = activator;
}

void SetProcessClass(REFCLSID rclsid, ClassObjectGetter getter) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.processClasses, [&](const RuntimeState::ProcessClass& c) { return c.clsid == rclsid; });
    if (getter != nullptr) s.processClasses.push_back({rclsid, getter});
}

void SetLocalActivator(LocalActivator activator) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.localActivator = activator;
}

void ResetRuntimeForTests() {
    auto& s = State();
    {
        std::lock_guard lock(s.mutex);
        s.initCount = 0;
        s.model = COINIT_MULTITHREADED;
        s.builtins.reset();
        s.security = SecuritySettings{};
        s.remoteActivator = nullptr;
        s.processClasses.clear();
        s.localActivator = nullptr;
    }
    detail::DropClassStoreCache();
    ClearRegistrationContext();
    ResetTaskMemFailure();
}

namespace detail {

bool IsInitialized() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.initCount > 0;
}

ClassObjectGetter FindBuiltinClass(REFCLSID clsid) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (!s.builtins) return nullptr;
    if (ClassObjectGetter getter = s.builtins->Find(clsid)) return getter;
    for (const auto& c : s.processClasses)
        if (c.clsid == clsid) return c.getter;
    return nullptr;
}

RemoteActivator CurrentRemoteActivator() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.remoteActivator;
}

LocalActivator CurrentLocalActivator() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.localActivator;
}

void FixDefaultSecurity() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (s.security.fixed) return;
    s.security.fixed = true;
    s.security.authnLevel = RPC_C_AUTHN_LEVEL_CONNECT;
    s.security.impLevel = RPC_C_IMP_LEVEL_IDENTIFY;
    s.security.capabilities = EOAC_NONE;
}

}  // namespace detail
}  // namespace com

// The library's entry points: class object, unloading, registration.
#include <new>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/timeapi.h"
#include "servers/simulation/server.h"

#ifdef _WIN32
#define SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace sim {

std::atomic<long>& LiveObjects() {
    static std::atomic<long> count{0};
    return count;
}

std::atomic<long>& ServerLocks() {
    static std::atomic<long> count{0};
    return count;
}

namespace {

class ClassFactory : public com::ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (!ppvObject) return E_INVALIDARG;
        *ppvObject = nullptr;
        if (pUnkOuter) return CLASS_E_NOAGGREGATION;
        try {
            // Each server object has its own engine: its settings are read now, from the environment.
            auto engine = std::make_unique<Engine>(Config::FromEnvironment(), com::NowUtcTicks());
            auto* server = new SimServer(std::move(engine));
            HRESULT hr = server->QueryInterface(riid, ppvObject);
            server->Release();
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        if (fLock)
            ++ServerLocks();
        else
            --ServerLocks();
        return S_OK;
    }

private:
    ObjectCount m_count;
};

com::ClassRegistration Registration() {
    com::ClassRegistration reg;
    reg.clsid = CLSID_BrindlexSimulation;
    reg.progId = u"Brindlex.OPC.Simulation.1";
    reg.versionIndependentProgId = u"Brindlex.OPC.Simulation";
    reg.description = u"Brindlex OPC HDA Simulation Server";
    reg.categories = {CATID_OPCHDAServer10};
    // An empty library path: the registration command fills in the library being registered.
    return reg;
}

}  // namespace

}  // namespace sim

SIM_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (rclsid != sim::CLSID_BrindlexSimulation) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) sim::ClassFactory();
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

SIM_EXPORT HRESULT DllCanUnloadNow() {
    return sim::LiveObjects() == 0 && sim::ServerLocks() == 0 ? S_OK : S_FALSE;
}

SIM_EXPORT HRESULT DllRegisterServer() {
    try {
        return com::RegisterComClass(sim::Registration());
    } catch (...) {
        return E_FAIL;
    }
}

SIM_EXPORT HRESULT DllUnregisterServer() {
    return com::UnregisterComClass(sim::CLSID_BrindlexSimulation);
}

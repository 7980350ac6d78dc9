// Internal to the runtime library: what runtime.cpp, classstore.cpp and activation.cpp share.
// Not installed; server plugins and the client use the public headers only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"

namespace com::detail {

// Answers DllGetClassObject for one of the runtime's own classes.
using com::ClassObjectGetter;

// The classes the runtime serves itself. Built by the runtime's initialisation (first CoInitializeEx),
// dropped by the last CoUninitialize.
class BuiltinClassTable {
public:
    void Add(REFCLSID clsid, ClassObjectGetter getter) { m_classes.push_back({clsid, getter}); }
    ClassObjectGetter Find(REFCLSID clsid) const {
        for (const auto& c : m_classes)
            if (c.clsid == clsid) return c.getter;
        return nullptr;
    }

private:
    struct Entry {
        CLSID clsid;
        ClassObjectGetter getter;
    };
    std::vector<Entry> m_classes;
};

// activation.cpp: fills the table with the category manager.
void RegisterBuiltinClasses(BuiltinClassTable& table);

// runtime.cpp
bool IsInitialized();
// The runtime's own classes, then the installed process classes; nullptr when not initialised or none.
ClassObjectGetter FindBuiltinClass(REFCLSID clsid);
RemoteActivator CurrentRemoteActivator();
LocalActivator CurrentLocalActivator();
// The first remote call fixes the process's security with the defaults when CoInitializeSecurity
// was never called, as DCOM does; a later CoInitializeSecurity then gets RPC_E_TOO_LATE.
void FixDefaultSecurity();

// classstore.cpp
using ClassList = std::vector<ClassRegistration>;
// The merged store (every searched scope) in store order; re-read only where files changed.
std::shared_ptr<const ClassList> ClassStoreSnapshot();
void DropClassStoreCache();
const ClassRegistration* FindByClsid(const ClassList& list, REFCLSID clsid);
// Matches the ProgID or the version-independent ProgID, ASCII case-insensitively as the registry
// does; the first match in store order wins.
const ClassRegistration* FindByProgId(const ClassList& list, std::u16string_view progId);

// activation.cpp: dlopen(RTLD_NOW | RTLD_LOCAL), cached by path, never closed. CO_E_DLLNOTFOUND when
// the file does not exist, CO_E_ERRORINDLL when it cannot be loaded; the reason is kept for
// LastServerLibraryError().
HRESULT LoadServerLibrary(const std::string& path, void** handle);
// Looks up an export; CO_E_ERRORINDLL (with the reason kept) when absent.
HRESULT FindServerExport(void* handle, const std::string& path, const char* name, void** address);
void SetLastServerLibraryError(std::string text);

}  // namespace com::detail

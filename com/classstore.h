// The class store: the files that stand in for the registry's class entries.
//
// Scopes, searched in this order (an entry in an earlier scope hides the same CLSID in a later one):
//   1. the directory named by $VISTREL_CLASS_STORE, when that variable is set: then it is the ONLY
//      scope searched and written (tests and development builds stay isolated);
//   2. the per-user scope, $XDG_DATA_HOME/vistrel/classes (default ~/.local/share/vistrel/classes);
//   3. the system scope, $VISTREL_SYSTEM_CLASS_STORE or /etc/vistrel/classes.
// Each entry is one file; writing one is atomic (written beside, then renamed). A malformed entry is
// skipped with a diagnostic on stderr. Store order: the order in which classes were first registered
// (kept when a class is registered again), ties broken by CLSID text.
#pragma once

#include <string>
#include <vector>

#include "com/types.h"

namespace com {

struct ClassRegistration {
    CLSID clsid{};
    std::u16string progId;                    // e.g. "Brindlex.OPC.Simulation.1"
    std::u16string versionIndependentProgId;  // e.g. "Brindlex.OPC.Simulation"
    std::u16string description;
    std::string libraryPath;  // empty: the library whose DllRegisterServer is running
    std::vector<CATID> categories;
};

enum class StoreScope { Default, Environment, User, System };

// Writes (or rewrites) a class entry. Called by a server library's DllRegisterServer; the scope is the
// one the registration command chose, else the environment directory when set, else the user scope.
HRESULT RegisterComClass(const ClassRegistration& reg);
HRESULT UnregisterComClass(REFCLSID clsid);

// Every readable entry in store order.
std::vector<ClassRegistration> EnumerateComClasses();

// The path of the shared library (or executable) that holds the given address.
std::string ModulePathOf(const void* addressInModule);

// Directory of a scope ("" when the scope is unavailable).
std::string ClassStoreDirectory(StoreScope scope);

// For the registration command: the scope and library path that RegisterComClass uses while a
// library's DllRegisterServer/DllUnregisterServer runs.
void SetRegistrationContext(StoreScope scope, const std::string& libraryPath);
void ClearRegistrationContext();

// Calls a library's DllRegisterServer or DllUnregisterServer. Fails with CO_E_DLLNOTFOUND when the
// library cannot be loaded and CO_E_ERRORINDLL when it lacks the export.
HRESULT RegisterServerLibrary(const std::string& libraryPath, StoreScope scope = StoreScope::Default);
HRESULT UnregisterServerLibrary(const std::string& libraryPath, StoreScope scope = StoreScope::Default);

}  // namespace com

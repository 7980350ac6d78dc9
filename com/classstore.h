// The class store: the files that stand in for the registry's class entries.
//
// Scopes, searched in this order (an entry in an earlier scope hides the same CLSID in a later one):
//   1. the directory named by $VISTREL_CLASS_STORE, when that variable is set: then it is the ONLY
//      scope searched and written (tests and development builds stay isolated);
//   2. the per-user scope, $XDG_DATA_HOME/vistrel/classes (default ~/.local/share/vistrel/classes);
//   3. the system scope, $VISTREL_SYSTEM_CLASS_STORE or /etc/vistrel/classes.
// Each entry is one UTF-8 file "{CLSID}.class" of key=value lines (the format is described in
// classstore.cpp); writing one is atomic (written beside, fsynced, renamed, directory fsynced). A
// malformed entry is skipped with a diagnostic on stderr. Store order: the scopes in the order above;
// within a scope, the order in which classes were first registered there (kept when a class is
// registered again), ties broken by CLSID text.
// A ProgID may be empty: the class is then found by CLSID only, and ProgIDFromCLSID fails for it
// with REGDB_E_CLASSNOTREG. ProgIDs match ASCII case-insensitively, as registry keys do; when two
// classes claim one ProgID the first in store order wins.
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
// The library path is stored absolute. E_INVALIDARG for CLSID_NULL, text holding NUL or an unpaired
// surrogate, or no library path; E_ACCESSDENIED when the directory is not writable;
// REGDB_E_WRITEREGDB for other write failures or an unavailable scope.
HRESULT RegisterComClass(const ClassRegistration& reg);
// Removes the entry from the same scope RegisterComClass would write: S_OK when removed, S_FALSE when
// there was none.
HRESULT UnregisterComClass(REFCLSID clsid);

// Every readable entry in store order (the scopes searched, merged).
std::vector<ClassRegistration> EnumerateComClasses();
// The readable entries of one scope only, in that scope's order (Default: as above).
std::vector<ClassRegistration> EnumerateComClasses(StoreScope scope);
// The entry of one class (as the first in store order); false when none is readable. On Windows it
// is read from the registry's class key (description, ProgID, version-independent ProgID).
bool FindComClass(REFCLSID clsid, ClassRegistration* out);

// The path of the shared library (or executable) that holds the given address.
std::string ModulePathOf(const void* addressInModule);

// Directory of a scope ("" when the scope is unavailable).
std::string ClassStoreDirectory(StoreScope scope);

// For the registration command: the scope and library path that RegisterComClass uses while a
// library's DllRegisterServer/DllUnregisterServer runs.
void SetRegistrationContext(StoreScope scope, const std::string& libraryPath);
void ClearRegistrationContext();

// Calls a library's DllRegisterServer or DllUnregisterServer with the registration context set.
// Fails with CO_E_DLLNOTFOUND when the file does not exist, CO_E_ERRORINDLL when it cannot be loaded
// or lacks the export (LastServerLibraryError() says which); otherwise returns the export's result.
HRESULT RegisterServerLibrary(const std::string& libraryPath, StoreScope scope = StoreScope::Default);
HRESULT UnregisterServerLibrary(const std::string& libraryPath, StoreScope scope = StoreScope::Default);

// Why the last server library on this thread could not be loaded or lacked an export (the loader's
// message); empty when the last attempt succeeded.
std::string LastServerLibraryError();

}  // namespace com

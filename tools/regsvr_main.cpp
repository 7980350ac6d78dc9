// vistrel-regsvr: registers a server library's classes in the class store (it calls the library's
// DllRegisterServer), unregisters them (DllUnregisterServer), or lists the registered classes.
//
// Exit status: 0 success, 1 an operation failed, 2 a bad command line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/text.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: vistrel-regsvr [--user | --system | --store DIR] LIBRARY.so...\n"
    "       vistrel-regsvr [--user | --system | --store DIR] -u LIBRARY.so...\n"
    "       vistrel-regsvr [--user | --system | --store DIR] --list\n"
    "\n"
    "Registers the server classes of each LIBRARY.so (calls its DllRegisterServer) or, with -u,\n"
    "unregisters them (DllUnregisterServer). --list shows the registered classes: ProgID, CLSID,\n"
    "implemented categories and library path.\n"
    "\n"
    "Where:\n"
    "  --user        the per-user store ($XDG_DATA_HOME/vistrel/classes)\n"
    "  --system      the system-wide store (/etc/vistrel/classes, or $VISTREL_SYSTEM_CLASS_STORE)\n"
    "  --store DIR   the store in DIR (what VISTREL_CLASS_STORE=DIR selects for every program)\n"
    "  (none)        $VISTREL_CLASS_STORE when set, else the per-user store; --list shows every\n"
    "                store that programs search\n"
    "\n"
    "Exit status: 0 success, 1 an operation failed, 2 a bad command line.\n";

enum class Action { Register, Unregister, List };

struct Options {
    Action action = Action::Register;
    com::StoreScope scope = com::StoreScope::Default;
    bool scopeGiven = false;
    std::vector<std::string> libraries;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vistrel-regsvr: %s\n", message.c_str());
    std::fprintf(stderr, "Try 'vistrel-regsvr --help'.\n");
    return kExitUsage;
}

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::string Describe(HRESULT hr) {
    switch (hr) {
        case E_ACCESSDENIED:
            return Hex(hr) + " (access denied)";
        case E_INVALIDARG:
            return Hex(hr) + " (invalid argument)";
        case E_OUTOFMEMORY:
            return Hex(hr) + " (out of memory)";
        case E_FAIL:
            return Hex(hr) + " (E_FAIL)";
        case E_UNEXPECTED:
            return Hex(hr) + " (unexpected failure)";
        case REGDB_E_WRITEREGDB:
            return Hex(hr) + " (could not write the class store)";
        case REGDB_E_CLASSNOTREG:
            return Hex(hr) + " (class not registered)";
        default:
            return Hex(hr);
    }
}

const char* ScopeName(com::StoreScope scope) {
    switch (scope) {
        case com::StoreScope::Environment:
            return "VISTREL_CLASS_STORE";
        case com::StoreScope::User:
            return "user";
        case com::StoreScope::System:
            return "system";
        default:
            return "default";
    }
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

void PrintEntries(const std::vector<com::ClassRegistration>& classes, const std::string* onlyLibrary) {
    for (const auto& reg : classes) {
        if (onlyLibrary && reg.libraryPath != *onlyLibrary) continue;
        std::string categories;
        for (const CATID& cat : reg.categories) {
            if (!categories.empty()) categories += ',';
            categories += com::GuidToUtf8(cat);
        }
        std::printf("%s\t%s\t%s\t%s\n", reg.progId.empty() ? "(none)" : com::Utf16ToUtf8(reg.progId).c_str(),
                    com::GuidToUtf8(reg.clsid).c_str(), categories.empty() ? "-" : categories.c_str(),
                    reg.libraryPath.c_str());
    }
}

int List(const Options& opt) {
    std::vector<com::StoreScope> scopes;
    if (opt.scopeGiven)
        scopes.push_back(opt.scope);
    else if (!com::ClassStoreDirectory(com::StoreScope::Environment).empty())
        scopes.push_back(com::StoreScope::Environment);
    else
        scopes = {com::StoreScope::User, com::StoreScope::System};
    std::printf("ProgID\tCLSID\tCategories\tLibrary\n");
    for (com::StoreScope scope : scopes) {
        std::string dir = com::ClassStoreDirectory(scope);
        std::printf("# %s store: %s\n", ScopeName(scope), dir.empty() ? "(unavailable)" : dir.c_str());
        PrintEntries(com::EnumerateComClasses(scope), nullptr);
    }
    return 0;
}

int RegisterOne(const Options& opt, const std::string& library) {
    const bool registering = opt.action == Action::Register;
    const char* exportName = registering ? "DllRegisterServer" : "DllUnregisterServer";
    const std::string path = Absolute(library);
    HRESULT hr = registering ? com::RegisterServerLibrary(path, opt.scope)
                             : com::UnregisterServerLibrary(path, opt.scope);
    if (hr == CO_E_DLLNOTFOUND) {
        std::fprintf(stderr, "vistrel-regsvr: %s: no such library\n", library.c_str());
        return kExitFailed;
    }
    if (hr == CO_E_ERRORINDLL) {
        std::fprintf(stderr, "vistrel-regsvr: cannot use %s: %s\n", library.c_str(),
                     com::LastServerLibraryError().c_str());
        return kExitFailed;
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "vistrel-regsvr: %s in %s failed: %s\n", exportName, library.c_str(),
                     Describe(hr).c_str());
        return kExitFailed;
    }
    std::string dir = com::ClassStoreDirectory(opt.scope);
    std::printf("%s in %s succeeded (store: %s).\n", exportName, path.c_str(), dir.c_str());
    if (registering) PrintEntries(com::EnumerateComClasses(opt.scope), &path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    bool listGiven = false, unregisterGiven = false, optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsEnded || a.empty() || a[0] != '-') {
            opt.libraries.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "-u" || a == "--unregister") {
            unregisterGiven = true;
        } else if (a == "-l" || a == "--list") {
            listGiven = true;
        } else if (a == "--user" || a == "--system" || a == "--store" || a.rfind("--store=", 0) == 0) {
            if (opt.scopeGiven) return UsageError("give at most one of --user, --system and --store");
            opt.scopeGiven = true;
            if (a == "--user") {
                opt.scope = com::StoreScope::User;
            } else if (a == "--system") {
                opt.scope = com::StoreScope::System;
            } else {
                std::string dir = a == "--store" ? (i + 1 < argc ? argv[++i] : "") : a.substr(8);
                if (dir.empty()) return UsageError("--store needs a directory");
                // The library's DllRegisterServer writes where VISTREL_CLASS_STORE points.
                setenv("VISTREL_CLASS_STORE", Absolute(dir).c_str(), 1);
                opt.scope = com::StoreScope::Environment;
            }
        } else {
            return UsageError("unknown option '" + a + "'");
        }
    }
    if (listGiven && unregisterGiven) return UsageError("--list and -u cannot be combined");
    if (listGiven) {
        if (!opt.libraries.empty()) return UsageError("--list takes no library");
        opt.action = Action::List;
        return List(opt);
    }
    opt.action = unregisterGiven ? Action::Unregister : Action::Register;
    if (opt.libraries.empty()) return UsageError("no library given");
    if (opt.scopeGiven && opt.scope != com::StoreScope::Environment &&
        !com::ClassStoreDirectory(com::StoreScope::Environment).empty())
        std::fprintf(stderr,
                     "vistrel-regsvr: note: VISTREL_CLASS_STORE is set; programs started with it search only "
                     "that directory, not the %s store\n",
                     ScopeName(opt.scope));
    if (com::ClassStoreDirectory(opt.scope).empty()) {
        std::fprintf(stderr, "vistrel-regsvr: the %s store is unavailable (HOME is not set)\n",
                     ScopeName(opt.scope));
        return kExitFailed;
    }
    int status = 0;
    for (const auto& lib : opt.libraries)
        if (RegisterOne(opt, lib) != 0) status = kExitFailed;
    return status;
}

// COM life cycle, task memory, GUID text and activation, under their Win32 names.
#pragma once

#include <string>
#include <string_view>

#include "com/types.h"
#include "com/unknwn.h"

#ifdef _WIN32
#else
enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
};

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_ALL = 0x17,
    CLSCTX_SERVER = 0x15,
};

constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6;
constexpr DWORD RPC_C_IMP_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_IMP_LEVEL_ANONYMOUS = 1;
constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD EOAC_NONE = 0;

struct SOLE_AUTHENTICATION_SERVICE;
struct COAUTHINFO;
using PSECURITY_DESCRIPTOR = void*;

struct COSERVERINFO {
    DWORD dwReserved1;
    LPWSTR pwszName;
    COAUTHINFO* pAuthInfo;
    DWORD dwReserved2;
};

struct MULTI_QI {
    const IID* pIID;
    IUnknown* pItf;
    HRESULT hr;
};

extern "C" {
// Task memory: every block crossing an interface comes from here.
LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                             SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* pReserved1, DWORD dwAuthnLevel,
                             DWORD dwImpLevel, void* pAuthList, DWORD dwCapabilities, void* pReserved3);

// "{7DE5B060-E089-11D2-A5E6-000086339399}": 38 characters and the terminator; returns the characters
// written including the terminator, 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);  // CoTaskMemAlloc'd
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);  // CoTaskMemAlloc'd

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx, COSERVERINFO* pServerInfo,
                           DWORD dwCount, MULTI_QI* pResults);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid,
                         LPVOID* ppv);
}

// The exports a server library provides.
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();

namespace com {

// Blocks allocated by CoTaskMemAlloc/Realloc and not yet freed, process-wide.
long LiveTaskMemBlocks();

// Allocation failure injection, for the tests of out-of-memory branches: the nth CoTaskMemAlloc or
// CoTaskMemRealloc from now on (1: the next one) fails, and with bAndAllAfter every later one too.
// BSTRs come from the task allocator, so SysAllocString fails the same way. Process-wide; a new call
// replaces the previous setting, ResetTaskMemFailure ends it.
void FailTaskMemAlloc(unsigned long nth, bool bAndAllAfter = false);
void ResetTaskMemFailure();
// Allocations refused by the injection since it was last set or reset.
unsigned long InjectedTaskMemFailures();

// The size requested for a block from CoTaskMemAlloc/Realloc (0 for nullptr). Only for pointers that
// came from the task allocator: a client uses it to bound the arrays a server returned, whatever
// counts the server claims.
SIZE_T TaskMemSize(const void* pv);

// How many T a task-memory array can hold.
template <class T>
inline SIZE_T TaskMemCount(const T* p) {
    return TaskMemSize(p) / sizeof(T);
}

// Security settings fixed by the first successful CoInitializeSecurity; remote calls use them.
struct SecuritySettings {
    bool fixed = false;
    DWORD authnLevel = 0;
    DWORD impLevel = 0;
    DWORD capabilities = 0;
};
SecuritySettings CurrentSecurity();

// Activation of classes on another computer (CLSCTX_REMOTE_SERVER with a named computer). The remote
// layer installs one; without it such a request fails with CO_E_SERVER_EXEC_FAILURE.
using RemoteActivator = HRESULT (*)(REFCLSID rclsid, const COSERVERINFO* pServerInfo, DWORD dwCount,
                                    MULTI_QI* pResults);
void SetRemoteActivator(RemoteActivator activator);

// Classes a layer above the runtime serves in this process (the HDA layer's OPC server-list service).
// The program's start-up code installs them, as it installs the remote activator: main(), or a test's
// fixture. They are found before the class store, only while the runtime is initialised, and only for
// in-process requests or requests for this computer. Installing a class again replaces its getter; a
// null getter removes it. ResetRuntimeForTests removes them all.
using ClassObjectGetter = HRESULT (*)(REFIID riid, void** ppv);
void SetProcessClass(REFCLSID rclsid, ClassObjectGetter getter);

// Activation of a class in a process of its own on this computer (CLSCTX_LOCAL_SERVER). The remote
// layer installs one. It is asked first whenever a request served here allows CLSCTX_LOCAL_SERVER
// (the runtime's own classes excepted), and answers true when it took the request (*hr is then the
// result and the entries are filled), false to leave it to the in-process server.
using LocalActivator = bool (*)(REFCLSID rclsid, DWORD dwClsCtx, DWORD dwCount, MULTI_QI* pResults,
                                HRESULT* hr);
void SetLocalActivator(LocalActivator activator);

// GUID text helpers over the StringFromGUID2 form ("{...}", upper case).
std::u16string GuidToString(REFGUID guid);
std::string GuidToUtf8(REFGUID guid);
// Strict: exactly the braced 38-character form (either case of hex digits); false otherwise.
bool GuidFromUtf8(std::string_view text, GUID* guid);

// Returns the runtime to its state at process start: not initialised, no security fixed, class store
// cache dropped, remote and local activators and process classes removed, no allocation failure
// armed. Loaded server libraries stay mapped. For tests.
void ResetRuntimeForTests();

}  // namespace com
#endif  // _WIN32

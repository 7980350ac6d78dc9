// The names of ours that com/win32.h declares beside the platform's COM, over the real COM and the
// registry's class keys.
#include <cstring>
#include <mutex>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/text.h"
#include "com/timeapi.h"

namespace com {

SIZE_T TaskMemSize(const void* pv) {
    if (pv == nullptr) return 0;
    IMalloc* malloc = nullptr;
    if (FAILED(CoGetMalloc(1, &malloc)) || malloc == nullptr) return 0;
    // A block that did not come from the task allocator measures as -1: nothing of it is trusted.
    const SIZE_T size = malloc->GetSize(const_cast<void*>(pv));
    malloc->Release();
    return size == static_cast<SIZE_T>(-1) ? 0 : size;
}

namespace {

constexpr int kGuidChars = 38;  // a GUID's text without the terminator

// A class object handed to CoRegisterClassObject: creates through the getter each time.
struct Registered {
    CLSID clsid;
    DWORD cookie;
};
std::mutex g_mutex;
std::vector<Registered> g_registered;

}  // namespace

void SetProcessClass(REFCLSID rclsid, ClassObjectGetter getter) {
    std::lock_guard lock(g_mutex);
    for (auto it = g_registered.begin(); it != g_registered.end(); ++it)
        if (it->clsid == rclsid) {
            CoRevokeClassObject(it->cookie);
            g_registered.erase(it);
            break;
        }
    if (getter == nullptr) return;
    IUnknown* factory = nullptr;
    if (FAILED(getter(IID_IUnknown, reinterpret_cast<void**>(&factory))) || factory == nullptr) return;
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(rclsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
        g_registered.push_back({rclsid, cookie});
    factory->Release();  // the registration holds its own reference
}

namespace {

// A value of HKEY_CLASSES_ROOT\CLSID\{clsid}[\sub], as UTF-16; empty when absent.
std::u16string ClassKeyValue(REFCLSID clsid, const wchar_t* sub) {
    std::wstring key = L"CLSID\\";
    OLECHAR buf[kGuidChars + 1];
    StringFromGUID2(clsid, buf, kGuidChars + 1);
    key += buf;
    if (sub) {
        key += L"\\";
        key += sub;
    }
    wchar_t value[512];
    DWORD bytes = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) !=
        ERROR_SUCCESS)
        return {};
    std::size_t n = bytes / sizeof(wchar_t);
    while (n > 0 && value[n - 1] == 0) --n;
    return std::u16string(value, value + n);
}

}  // namespace

bool FindComClass(REFCLSID clsid, ClassRegistration* out) {
    ClassRegistration reg;
    reg.clsid = clsid;
    reg.description = ClassKeyValue(clsid, nullptr);
    reg.progId = ClassKeyValue(clsid, L"ProgID");
    reg.versionIndependentProgId = ClassKeyValue(clsid, L"VersionIndependentProgID");
    if (reg.description.empty() && reg.progId.empty()) return false;
    *out = std::move(reg);
    return true;
}

ULONGLONG NowUtcTicks() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return FileTimeToU64(ft);
}

namespace {

std::wstring Wide(std::u16string_view s) {
    return std::wstring(s.begin(), s.end());
}

std::wstring GuidText(REFGUID g) {
    OLECHAR buf[kGuidChars + 1];
    StringFromGUID2(g, buf, kGuidChars + 1);
    return buf;
}

bool SetKey(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   DWORD((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(h);
    return ok;
}

// The module (the server DLL) this code is linked into.
std::wstring ThisModulePath() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModulePath), &module);
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH * 4);
    return std::wstring(path, n);
}

}  // namespace

// The registry's class entries, as regsvr32 expects a DLL to write them: the class key with its
// in-process server, ProgIDs and implemented categories, and the ProgID keys.
HRESULT RegisterComClass(const ClassRegistration& reg) {
    const std::wstring clsid = GuidText(reg.clsid);
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring library =
        reg.libraryPath.empty() ? ThisModulePath() : Wide(Utf8ToUtf16(reg.libraryPath));
    bool ok = SetKey(key, nullptr, Wide(reg.description)) &&
              SetKey(key + L"\\InprocServer32", nullptr, library) &&
              SetKey(key + L"\\InprocServer32", L"ThreadingModel", L"Both");
    if (ok && !reg.progId.empty())
        ok = SetKey(key + L"\\ProgID", nullptr, Wide(reg.progId)) &&
             SetKey(Wide(reg.progId), nullptr, Wide(reg.description)) &&
             SetKey(Wide(reg.progId) + L"\\CLSID", nullptr, clsid);
    if (ok && !reg.versionIndependentProgId.empty())
        ok = SetKey(key + L"\\VersionIndependentProgID", nullptr, Wide(reg.versionIndependentProgId)) &&
             SetKey(Wide(reg.versionIndependentProgId), nullptr, Wide(reg.description)) &&
             SetKey(Wide(reg.versionIndependentProgId) + L"\\CLSID", nullptr, clsid) &&
             (reg.progId.empty() ||
              SetKey(Wide(reg.versionIndependentProgId) + L"\\CurVer", nullptr, Wide(reg.progId)));
    for (const CATID& cat : reg.categories)
        if (ok) ok = SetKey(key + L"\\Implemented Categories\\" + GuidText(cat), nullptr, L"");
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterComClass(REFCLSID clsid) {
    ClassRegistration reg;
    if (!FindComClass(clsid, &reg)) return S_OK;
    for (const auto& id : {reg.progId, reg.versionIndependentProgId})
        if (!id.empty()) RegDeleteTreeW(HKEY_CLASSES_ROOT, Wide(id).c_str());
    const LSTATUS rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(clsid)).c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

}  // namespace com

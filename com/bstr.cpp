// BSTR: UTF-16 text in one task-memory block: a 32-bit byte length, the characters, a NUL. The BSTR
// points at the first character. Going through CoTaskMemAlloc means a leaked string shows in the
// live-block count the tests watch.
#include <cstring>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"

namespace {

constexpr std::size_t kPrefix = sizeof(DWORD);

// The byte length must fit the 32-bit prefix, and prefix + text + NUL must fit a DWORD too, as on
// Windows (which refuses such lengths rather than wrapping).
constexpr UINT kMaxChars = (0xFFFFFFFFu - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR);

DWORD* prefixOf(BSTR bstr) {
    return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(bstr) - kPrefix);
}

}  // namespace

extern "C" BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > kMaxChars) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(ui) * sizeof(OLECHAR);
    auto* block = static_cast<char*>(CoTaskMemAlloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    const DWORD byteLen = static_cast<DWORD>(bytes);
    std::memcpy(block, &byteLen, kPrefix);
    auto* text = reinterpret_cast<OLECHAR*>(block + kPrefix);
    // No source: an allocated string of that length, all NULs (Windows leaves it uninitialised;
    // zeroes are kinder to whoever reads it before writing).
    if (strIn != nullptr && bytes != 0)
        std::memcpy(text, strIn, bytes);
    else if (bytes != 0)
        std::memset(text, 0, bytes);
    text[ui] = u'\0';
    return text;
}

extern "C" BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) return nullptr;
    const std::size_t len = com::WStrLen(psz);
    if (len > kMaxChars) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(len));
}

extern "C" UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) return 0;
    DWORD byteLen;
    std::memcpy(&byteLen, prefixOf(bstr), kPrefix);
    return byteLen;
}

extern "C" UINT SysStringLen(BSTR bstr) {
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}

extern "C" void SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) return;
    CoTaskMemFree(prefixOf(bstrString));
}

// GUID text: "{7DE5B060-E089-11D2-A5E6-000086339399}", upper-case hexadecimal, braces required.
#include <cstring>

#include "com/objbase.h"

namespace {

constexpr int kGuidChars = 38;  // without the terminator

void PutHex(OLECHAR*& out, std::uint64_t value, int digits) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) *out++ = static_cast<OLECHAR>(kHex[(value >> (4 * i)) & 0xF]);
}

int HexValue(OLECHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// Reads exactly `digits` hex digits at text[pos]; false on anything else.
bool GetHex(LPCOLESTR text, int pos, int digits, std::uint64_t* value) {
    std::uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int h = HexValue(text[pos + i]);
        if (h < 0) return false;
        v = (v << 4) | static_cast<unsigned>(h);
    }
    *value = v;
    return true;
}

// Strict form only: braces, 8-4-4-4-12 digits, nothing before or after. The terminator must follow
// the closing brace; the loop stops at the first character that does not fit, so it never reads
// past the terminator of a shorter string.
HRESULT ParseGuid(LPCOLESTR text, GUID* out) {
    static const char kPattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    for (int i = 0; i < kGuidChars; ++i) {
        OLECHAR c = text[i];
        char p = kPattern[i];
        if (p == 'X') {
            if (HexValue(c) < 0) return CO_E_CLASSSTRING;
        } else if (c != static_cast<OLECHAR>(p)) {
            return CO_E_CLASSSTRING;
        }
    }
    if (text[kGuidChars] != 0) return CO_E_CLASSSTRING;
    std::uint64_t v = 0;
    GUID g{};
    GetHex(text, 1, 8, &v);
    g.Data1 = static_cast<DWORD>(v);
    GetHex(text, 10, 4, &v);
    g.Data2 = static_cast<WORD>(v);
    GetHex(text, 15, 4, &v);
    g.Data3 = static_cast<WORD>(v);
    const int bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        GetHex(text, bytePos[i], 2, &v);
        g.Data4[i] = static_cast<BYTE>(v);
    }
    *out = g;
    return S_OK;
}

}  // namespace

extern "C" int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < kGuidChars + 1) return 0;
    OLECHAR* p = lpsz;
    *p++ = u'{';
    PutHex(p, rguid.Data1, 8);
    *p++ = u'-';
    PutHex(p, rguid.Data2, 4);
    *p++ = u'-';
    PutHex(p, rguid.Data3, 4);
    *p++ = u'-';
    PutHex(p, rguid.Data4[0], 2);
    PutHex(p, rguid.Data4[1], 2);
    *p++ = u'-';
    for (int i = 2; i < 8; ++i) PutHex(p, rguid.Data4[i], 2);
    *p++ = u'}';
    *p = 0;
    return kGuidChars + 1;
}

extern "C" HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (lplpsz == nullptr) return E_POINTER;
    *lplpsz = nullptr;
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidChars + 1) * sizeof(OLECHAR)));
    if (text == nullptr) return E_OUTOFMEMORY;
    StringFromGUID2(rclsid, text, kGuidChars + 1);
    *lplpsz = text;
    return S_OK;
}

extern "C" HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr) return E_POINTER;
    if (lpsz == nullptr) return E_INVALIDARG;
    HRESULT hr = ParseGuid(lpsz, pclsid);
    if (FAILED(hr)) *pclsid = CLSID_NULL;
    return hr;
}

extern "C" HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
    if (lpiid == nullptr) return E_POINTER;
    if (lpsz == nullptr) return E_INVALIDARG;
    // Unlike CLSIDFromString, a malformed interface id is an invalid argument and the output is
    // left as it was.
    GUID g;
    if (FAILED(ParseGuid(lpsz, &g))) return E_INVALIDARG;
    *lpiid = g;
    return S_OK;
}

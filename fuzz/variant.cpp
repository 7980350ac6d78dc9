// VariantChangeTypeEx from VT_BSTR to every type, under several locales and flags. A conversion
// that fails leaves the destination alone; one that succeeds gives the type asked for; integers
// and dates come back from their own text; nothing is left in task memory.
#include <cstring>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "fuzz/fuzz.h"

namespace fuzz {

namespace {

constexpr VARTYPE kTargets[] = {
    VT_EMPTY,
    VT_NULL,
    VT_I2,
    VT_I4,
    VT_R4,
    VT_R8,
    VT_CY,
    VT_DATE,
    VT_BSTR,
    VT_DISPATCH,
    VT_ERROR,
    VT_BOOL,
    VT_VARIANT,
    VT_UNKNOWN,
    VT_DECIMAL,
    VT_I1,
    VT_UI1,
    VT_UI2,
    VT_UI4,
    VT_I8,
    VT_UI8,
    VT_INT,
    VT_UINT,
    VT_VOID,
    VT_HRESULT,
    VT_LPSTR,
    VT_LPWSTR,
    VT_FILETIME,
    0x7FF,
    VT_BSTR | VT_BYREF,
    VT_I4 | VT_ARRAY,
};

constexpr LCID kLocales[] = {LOCALE_USER_DEFAULT,
                             LOCALE_INVARIANT,
                             0x0407 /* de-DE */,
                             0x040C /* fr-FR */,
                             0x0409,
                             LOCALE_SYSTEM_DEFAULT,
                             0x0411 /* ja-JP */,
                             0x1234 /* unknown */};

bool IsInteger(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_I8:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

long long IntegerOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return v.cVal;
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
        case VT_INT:
            return v.lVal;
        case VT_UI4:
        case VT_UINT:
            return static_cast<long long>(v.ulVal);
        default:
            return v.llVal;
    }
}

// Text of a converted value, converted back to the same type, must give the same value.
void RoundTrip(const VARIANT& v, LCID lcid) {
    VARIANT text;
    VariantInit(&text);
    HRESULT hr = VariantChangeTypeEx(&text, &v, lcid, 0, VT_BSTR);
    Require(SUCCEEDED(hr), "a converted value has a text");
    VARIANT back;
    VariantInit(&back);
    hr = VariantChangeTypeEx(&back, &text, lcid, 0, v.vt);
    Require(SUCCEEDED(hr), "a value's own text converts back");
    if (v.vt == VT_DATE)
        Require(back.date - v.date < 1.5 / 86400 && v.date - back.date < 1.5 / 86400,
                "a date's text reads back");
    else
        Require(IntegerOf(back) == IntegerOf(v), "an integer's text reads back");
    VariantClear(&back);
    VariantClear(&text);
}

}  // namespace

int Variant(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const LCID lcid = kLocales[data[0] & 7];
    const USHORT flags = static_cast<USHORT>(
        (data[0] >> 3) & (VARIANT_ALPHABOOL | VARIANT_NOUSEROVERRIDE | VARIANT_LOCALBOOL));
    const std::u16string text = Utf16Of(data + 1, size - 1);
    const long blocks = com::LiveTaskMemBlocks();
    {
        VARIANT src;
        VariantInit(&src);
        src.vt = VT_BSTR;
        src.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        Require(src.bstrVal != nullptr, "the source string");
        for (VARTYPE vt : kTargets) {
            VARIANT dst;
            VariantInit(&dst);
            dst.vt = VT_I4;
            dst.lVal = 0x5A5A5A5A;
            const HRESULT hr = VariantChangeTypeEx(&dst, &src, lcid, flags, vt);
            if (FAILED(hr)) {
                Require(dst.vt == VT_I4 && dst.lVal == 0x5A5A5A5A,
                        "a failed conversion leaves the destination");
                continue;
            }
            Require(dst.vt == vt, "the type asked for");
            if (IsInteger(vt) || vt == VT_DATE) RoundTrip(dst, lcid);
            VariantClear(&dst);
        }
        // In place, as callers may do.
        VARIANT copy;
        VariantInit(&copy);
        Require(SUCCEEDED(VariantCopy(&copy, &src)), "copy");
        VariantChangeTypeEx(&copy, &copy, lcid, flags, VT_R8);
        VariantClear(&copy);
        VariantClear(&src);
    }
    Require(com::LiveTaskMemBlocks() == blocks, "no task memory left behind");
    return 0;
}

}  // namespace fuzz

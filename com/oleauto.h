// OLE Automation subset: BSTR and VARIANT with the Windows coercion rules.
#pragma once

#include "com/types.h"

// A BSTR points at UTF-16 text preceded by its byte length (a 32-bit count) and followed by a NUL.
#ifdef _WIN32
#else
using BSTR = OLECHAR*;
using VARTYPE = WORD;
using VARIANT_BOOL = SHORT;
using DATE = double;  // days since 1899-12-30, fraction = time of day

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

union CY {
    struct {
        DWORD Lo;
        LONG Hi;
    } s;
    LONGLONG int64;  // value × 10,000
};

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_FILETIME = 64,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAY;  // arrays are carried opaquely; conversions refuse them
struct IUnknown;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        SAFEARRAY* parray;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

// Flags of VariantChangeType(Ex).
constexpr WORD VARIANT_NOVALUEPROP = 0x01;
constexpr WORD VARIANT_ALPHABOOL = 0x02;
constexpr WORD VARIANT_NOUSEROVERRIDE = 0x04;
constexpr WORD VARIANT_LOCALBOOL = 0x10;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_INVARIANT = 0x007F;

extern "C" {
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);
void SysFreeString(BSTR bstrString);

void VariantInit(VARIANTARG* pvarg);
HRESULT VariantClear(VARIANTARG* pvarg);
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt);
}

namespace com {
// The decimal separator VariantChangeType uses for LOCALE_USER_DEFAULT (and the system default), both
// ways. Until set it is the process environment's (LC_NUMERIC, read without changing the global C
// locale; '.' when that gives none). Setting 0 returns to the environment's; digits, signs, white
// space and other characters that would make numbers unreadable are ignored.
void SetUserDecimalSeparator(OLECHAR sep);
OLECHAR GetUserDecimalSeparator();
}  // namespace com
#endif  // _WIN32

// Base types and result codes of the COM runtime, under their Win32 names.
#pragma once

#ifdef _WIN32
#include "com/win32.h"
#else
#include <cstddef>
#include <cstdint>

#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define WINAPI

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using CHAR = char;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORDLONG = std::uint64_t;
using SIZE_T = std::size_t;
using LCID = DWORD;
using HRESULT = std::int32_t;
using SCODE = HRESULT;

// COM strings are UTF-16.
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPVOID = void*;
using LPCVOID = const void*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr HRESULT MAKE_HRESULT_U(std::uint32_t v) {
    return static_cast<HRESULT>(v);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
// CoCreateInstanceEx: some, not all, of the requested interfaces were obtained.
constexpr HRESULT CO_S_NOTALLINTERFACES = 0x00080012;
constexpr HRESULT E_NOTIMPL = MAKE_HRESULT_U(0x80004001);
constexpr HRESULT E_NOINTERFACE = MAKE_HRESULT_U(0x80004002);
constexpr HRESULT E_POINTER = MAKE_HRESULT_U(0x80004003);
constexpr HRESULT E_ABORT = MAKE_HRESULT_U(0x80004004);
constexpr HRESULT E_FAIL = MAKE_HRESULT_U(0x80004005);
constexpr HRESULT E_UNEXPECTED = MAKE_HRESULT_U(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MAKE_HRESULT_U(0x80070005);
constexpr HRESULT E_HANDLE = MAKE_HRESULT_U(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MAKE_HRESULT_U(0x8007000E);
constexpr HRESULT E_INVALIDARG = MAKE_HRESULT_U(0x80070057);

constexpr HRESULT CLASS_E_NOAGGREGATION = MAKE_HRESULT_U(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MAKE_HRESULT_U(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = MAKE_HRESULT_U(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MAKE_HRESULT_U(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = MAKE_HRESULT_U(0x80040152);
constexpr HRESULT REGDB_E_CLASSNOTREG = MAKE_HRESULT_U(0x80040154);
constexpr HRESULT OLE_E_REGDB_KEY = MAKE_HRESULT_U(0x8004000F);
constexpr HRESULT CO_E_NOTINITIALIZED = MAKE_HRESULT_U(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = MAKE_HRESULT_U(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = MAKE_HRESULT_U(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MAKE_HRESULT_U(0x800401F9);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MAKE_HRESULT_U(0x80080005);
constexpr HRESULT RPC_E_CHANGED_MODE = MAKE_HRESULT_U(0x80010106);
constexpr HRESULT RPC_E_DISCONNECTED = MAKE_HRESULT_U(0x80010108);
constexpr HRESULT RPC_E_TOO_LATE = MAKE_HRESULT_U(0x80010119);
constexpr HRESULT RPC_E_TIMEOUT = MAKE_HRESULT_U(0x8001011F);
constexpr HRESULT RPC_S_SERVER_UNAVAILABLE_HR = MAKE_HRESULT_U(0x800706BA);
constexpr HRESULT DISP_E_BADVARTYPE = MAKE_HRESULT_U(0x80020008);
constexpr HRESULT DISP_E_TYPEMISMATCH = MAKE_HRESULT_U(0x80020005);
constexpr HRESULT DISP_E_OVERFLOW = MAKE_HRESULT_U(0x8002000A);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MAKE_HRESULT_U(0x8002000D);

// Whether a computer's lock keys are reported is left to the UI; nothing here.

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFCATID = const CATID&;
using LPCLSID = CLSID*;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr CLSID CLSID_NULL = GUID_NULL;
inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
inline constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
inline constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
using LPSYSTEMTIME = SYSTEMTIME*;
#endif  // _WIN32

// Both platforms' FILETIME and GUID:
inline constexpr ULONGLONG FileTimeToU64(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline constexpr FILETIME U64ToFileTime(ULONGLONG v) {
    return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFFu), static_cast<DWORD>(v >> 32)};
}
// Byte order of the fields; good enough for ordered containers.
constexpr bool operator<(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
    return false;
}

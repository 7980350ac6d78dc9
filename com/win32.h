// With _WIN32 the runtime's headers give way to the platform's own COM (windows.h, objbase.h,
// oleauto.h, comcat.h); this header brings them in and adds the few names of ours that the rest of
// the tree uses beside the Win32 ones. Their definitions for Windows are in win/.
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// winsock2.h must come before windows.h, and olectl.h after it.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <comcat.h>
// clang-format on

#include <cstdint>
#include <string>
#include <string_view>

// windows.h's macros that collide with names of ours.
#undef GetClassName
#undef GetObject

constexpr HRESULT MAKE_HRESULT_U(std::uint32_t v) {
    return static_cast<HRESULT>(v);
}
constexpr HRESULT RPC_S_SERVER_UNAVAILABLE_HR = MAKE_HRESULT_U(0x800706BA);

// OLE Automation declares the source of a conversion without const; it is only read.
inline HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                 VARTYPE vt) {
    return ::VariantChangeType(pvargDest, const_cast<VARIANTARG*>(pvarSrc), wFlags, vt);
}

namespace com {
// The size of a block from the task allocator (IMalloc::GetSize), 0 for nullptr.
SIZE_T TaskMemSize(const void* pv);
template <class T>
inline SIZE_T TaskMemCount(const T* p) {
    return TaskMemSize(p) / sizeof(T);
}
std::u16string GuidToString(REFGUID guid);
std::string GuidToUtf8(REFGUID guid);
bool GuidFromUtf8(std::string_view text, GUID* guid);
// Classes this process serves itself (the OPC server-list service where OPC's own is missing):
// registered with CoRegisterClassObject for in-process requests.
using ClassObjectGetter = HRESULT (*)(REFIID riid, void** ppv);
void SetProcessClass(REFCLSID rclsid, ClassObjectGetter getter);
}  // namespace com

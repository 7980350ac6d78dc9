// IUnknown and the small standard interfaces, with helpers for implementing and holding them.
#pragma once

#include <atomic>
#include <utility>

#include "com/types.h"

// Maps an interface type to its IID: COM_DECLARE_IID(IFoo, IID_IFoo) after the interface.
template <class I>
struct InterfaceId;
#define COM_DECLARE_IID(Interface, iidConstant)          \
    template <>                                          \
    struct InterfaceId<Interface> {                      \
        static constexpr const IID& value = iidConstant; \
    }

template <class I>
constexpr const IID& uuidof() {
    return InterfaceId<I>::value;
}

#ifdef _WIN32
COM_DECLARE_IID(IUnknown, IID_IUnknown);
COM_DECLARE_IID(IClassFactory, IID_IClassFactory);
COM_DECLARE_IID(IEnumString, IID_IEnumString);
COM_DECLARE_IID(IEnumGUID, IID_IEnumGUID);
COM_DECLARE_IID(IEnumCATEGORYINFO, IID_IEnumCATEGORYINFO);
COM_DECLARE_IID(ICatInformation, IID_ICatInformation);
#else
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumString = {0x00000101, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumGUID = {0x0002E000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumCLSID = IID_IEnumGUID;
inline constexpr IID IID_IEnumCATEGORYINFO = {0x0002E011, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ICatInformation = {0x0002E013, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr CLSID CLSID_StdComponentCategoriesMgr = {
    0x0002E005, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;  // objects die through Release, never through delete on an interface
};
COM_DECLARE_IID(IUnknown, IID_IUnknown);
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};
COM_DECLARE_IID(IClassFactory, IID_IClassFactory);

// Each string Next delivers comes from CoTaskMemAlloc and belongs to the caller.
struct IEnumString : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) = 0;

protected:
    ~IEnumString() = default;
};
COM_DECLARE_IID(IEnumString, IID_IEnumString);

struct IEnumGUID : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumGUID** ppenum) = 0;

protected:
    ~IEnumGUID() = default;
};
COM_DECLARE_IID(IEnumGUID, IID_IEnumGUID);
using IEnumCLSID = IEnumGUID;

struct CATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
};

struct IEnumCATEGORYINFO : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, CATEGORYINFO* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumCATEGORYINFO** ppenum) = 0;

protected:
    ~IEnumCATEGORYINFO() = default;
};
COM_DECLARE_IID(IEnumCATEGORYINFO, IID_IEnumCATEGORYINFO);

struct ICatInformation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumCategories(LCID lcid, IEnumCATEGORYINFO** ppenumCategoryInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCategoryDesc(REFCATID rcatid, LCID lcid, LPWSTR* pszDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, const CATID rgcatidImpl[],
                                                              ULONG cRequired, const CATID rgcatidReq[],
                                                              IEnumCLSID** ppenumClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented,
                                                          const CATID rgcatidImpl[], ULONG cRequired,
                                                          const CATID rgcatidReq[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumImplCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumReqCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) = 0;

protected:
    ~ICatInformation() = default;
};
COM_DECLARE_IID(ICatInformation, IID_ICatInformation);

#endif  // _WIN32

namespace com {

// Implements IUnknown for a class offering the listed interfaces. Derive, implement the interfaces'
// methods, and create with `new`; the object deletes itself when its count reaches zero. QueryInterface
// answers IID_IUnknown (as the first interface) and the IID of each listed interface.
template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
        } else {
            (void)(tryInterface<Interfaces>(riid, ppv) || ...);
        }
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --m_cRef;
        if (n == 0) delete this;
        return n;
    }
    ULONG RefCount() const { return m_cRef.load(); }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    template <class F, class...>
    struct FirstOf {
        using type = F;
    };
    using First = typename FirstOf<Interfaces...>::type;

    template <class I>
    bool tryInterface(REFIID riid, void** ppv) {
        if (riid != uuidof<I>()) return false;
        *ppv = static_cast<I*>(this);
        return true;
    }

    std::atomic<ULONG> m_cRef{1};
};

// Holds one reference to an interface; the caller's smart pointer.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* p) {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    // Adds a reference of its own.
    explicit ComPtr(T* p) : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    ComPtr(const ComPtr& o) : m_p(o.m_p) {
        if (m_p) m_p->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T* Detach() { return std::exchange(m_p, nullptr); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out-parameters: releases what it held and gives the address to fill.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &m_p;
    }
    void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        if (!m_p) return E_POINTER;
        return m_p->QueryInterface(uuidof<U>(), out->ReleaseAndGetVoidAddress());
    }

private:
    T* m_p = nullptr;
};

}  // namespace com

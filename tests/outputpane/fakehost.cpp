#include "fakehost.h"

#include <algorithm>
#include <cstring>

#include "com/objbase.h"
#include "com/oleauto.h"

namespace {
template <class T>
T* ToTaskArray(const std::vector<T>& v) {
    if (v.empty()) return nullptr;
    auto* p = static_cast<T*>(CoTaskMemAlloc(v.size() * sizeof(T)));
    std::memcpy(static_cast<void*>(p), v.data(), v.size() * sizeof(T));
    return p;
}
}  // namespace

void FakeHost::SetResultSet(std::vector<FakeItem> items, std::vector<HRESULT> errors) {
    ReleaseResultSet();
    if (!items.empty()) {
        m_pValues = static_cast<OPCHDA_ITEM*>(CoTaskMemAlloc(items.size() * sizeof(OPCHDA_ITEM)));
        for (std::size_t i = 0; i < items.size(); ++i) {
            OPCHDA_ITEM& it = m_pValues[i];
            it.hClient = static_cast<OPCHANDLE>(i);
            it.haAggregate = 0;
            it.dwCount = items[i].dwCount;
            it.pftTimeStamps = ToTaskArray(items[i].times);
            it.pdwQualities = ToTaskArray(items[i].qualities);
            it.pvDataValues = ToTaskArray(items[i].values);
        }
    }
    m_pErrors = ToTaskArray(errors);
    m_nCount = static_cast<DWORD>(std::min(items.size(), errors.size()));
}

void FakeHost::ReleaseResultSet() {
    if (m_pValues) {
        const std::size_t n = com::TaskMemCount(m_pValues);
        for (std::size_t i = 0; i < n; ++i) {
            OPCHDA_ITEM& it = m_pValues[i];
            const std::size_t nValues = com::TaskMemCount(it.pvDataValues);
            for (std::size_t j = 0; j < nValues; ++j)
                if (it.pvDataValues[j].vt == VT_BSTR) VariantClear(&it.pvDataValues[j]);
            CoTaskMemFree(it.pvDataValues);
            CoTaskMemFree(it.pdwQualities);
            CoTaskMemFree(it.pftTimeStamps);
        }
    }
    CoTaskMemFree(m_pErrors);
    CoTaskMemFree(m_pValues);
    m_pErrors = nullptr;
    m_pValues = nullptr;
    m_nCount = 0;
}

VARIANT MakeBstr(const std::u16string& s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

VARIANT MakeI4(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT MakeVt(VARTYPE vt, ULONGLONG bits) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.ullVal = bits;
    return v;
}

FILETIME MakeFileTime(int year, int month, int day, int hour, int minute, int second, int ms, int ticks) {
    // Days from 1601-01-01 by the civil-from-days algorithm, shifted to the FILETIME epoch.
    const int y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long daysSince1970 = era * 146097 + doe - 719468;
    const long long daysSince1601 = daysSince1970 + 134774;
    const ULONGLONG t =
        static_cast<ULONGLONG>(daysSince1601) * 864000000000ULL +
        static_cast<ULONGLONG>(((hour * 60LL + minute) * 60 + second) * 1000 + ms) * 10000ULL +
        static_cast<ULONGLONG>(ticks);
    return U64ToFileTime(t);
}

FakeItem MakeStringItem(DWORD n, const std::u16string& prefix) {
    FakeItem item;
    item.dwCount = n;
    const ULONGLONG t0 = FileTimeToU64(MakeFileTime(2009, 2, 24, 13, 5, 7, 250));
    for (DWORD j = 0; j < n; ++j) {
        std::u16string s = prefix;
        for (char c : std::to_string(j)) s += static_cast<char16_t>(c);
        item.values.push_back(MakeBstr(s));
        item.times.push_back(U64ToFileTime(t0 + j * 10000000ULL));
        item.qualities.push_back(0xC0 | OPCHDA_RAW);
    }
    return item;
}

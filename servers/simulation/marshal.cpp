// Engine results as HDA records.
#include "servers/simulation/marshal.h"

#include <cstring>

#include "com/objbase.h"
#include "com/text.h"

namespace sim {

LPWSTR TaskString(std::u16string_view s) {
    auto* p = static_cast<LPWSTR>(TaskArray(s.size() + 1, sizeof(WCHAR)));
    if (!p) return nullptr;
    std::memcpy(p, s.data(), s.size() * sizeof(WCHAR));
    p[s.size()] = 0;
    return p;
}

void* TaskArray(std::size_t n, std::size_t size) {
    if (n == 0 || n > SIZE_MAX / size) return nullptr;
    return CoTaskMemAlloc(n * size);
}

HRESULT ToVariant(const Value& v, VARIANT* out) {
    VariantInit(out);
    switch (v.vt) {
        case VT_EMPTY:
            return S_OK;
        case VT_I1:
            out->cVal = static_cast<CHAR>(v.i);
            break;
        case VT_I2:
            out->iVal = static_cast<SHORT>(v.i);
            break;
        case VT_I4:
            out->lVal = static_cast<LONG>(v.i);
            break;
        case VT_UI1:
            out->bVal = static_cast<BYTE>(v.i);
            break;
        case VT_UI2:
            out->uiVal = static_cast<USHORT>(v.i);
            break;
        case VT_UI4:
            out->ulVal = static_cast<ULONG>(v.i);
            break;
        case VT_R4:
            out->fltVal = static_cast<float>(v.d);
            break;
        case VT_R8:
            out->dblVal = v.d;
            break;
        case VT_DATE:
            out->date = v.d;
            break;
        case VT_CY:
            out->cyVal.int64 = v.i;
            break;
        case VT_BOOL:
            out->boolVal = v.i ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR:
            out->bstrVal = SysAllocStringLen(com::AsWide(v.s).data(), static_cast<UINT>(v.s.size()));
            if (!out->bstrVal) return E_OUTOFMEMORY;
            break;
        default:
            return E_FAIL;
    }
    out->vt = v.vt;
    return S_OK;
}

std::optional<Value> FromVariant(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return Value::Int(VT_I1, v.cVal);
        case VT_I2:
            return Value::Int(VT_I2, v.iVal);
        case VT_I4:
            return Value::Int(VT_I4, v.lVal);
        case VT_UI1:
            return Value::Int(VT_UI1, v.bVal);
        case VT_UI2:
            return Value::Int(VT_UI2, v.uiVal);
        case VT_UI4:
            return Value::Int(VT_UI4, v.ulVal);
        case VT_R4:
            return Value::Real(VT_R4, v.fltVal);
        case VT_R8:
            return Value::Real(VT_R8, v.dblVal);
        case VT_DATE:
            return Value::Real(VT_DATE, v.date);
        case VT_CY:
            return Value::Int(VT_CY, v.cyVal.int64);
        case VT_BOOL:
            return Value::Int(VT_BOOL, v.boolVal ? VARIANT_TRUE : VARIANT_FALSE);
        case VT_BSTR:
            return Value::Text(v.bstrVal ? std::u16string(com::AsU16(v.bstrVal, SysStringLen(v.bstrVal)))
                                         : u"");
        default:
            return std::nullopt;
    }
}

TimeArg ToTimeArg(const OPCHDA_TIME& t) {
    // A NULL string is taken as the empty string: the time is not given.
    if (t.bString) return TimeArg::Text(std::u16string(com::AsU16(t.szTime)));
    return TimeArg::At(FileTimeToU64(t.ftTime));
}

void WriteBack(OPCHDA_TIME* t, const std::optional<Ticks>& resolved) {
    if (t && resolved) t->ftTime = U64ToFileTime(*resolved);
}

void FreeItems(OPCHDA_ITEM* items, DWORD count) {
    if (!items) return;
    for (DWORD k = 0; k < count; ++k) {
        OPCHDA_ITEM& it = items[k];
        if (it.pvDataValues)
            for (DWORD j = 0; j < it.dwCount; ++j) VariantClear(&it.pvDataValues[j]);
        CoTaskMemFree(it.pftTimeStamps);
        CoTaskMemFree(it.pdwQualities);
        CoTaskMemFree(it.pvDataValues);
    }
    CoTaskMemFree(items);
}

void FreeModifiedItems(OPCHDA_MODIFIEDITEM* items, DWORD count) {
    if (!items) return;
    for (DWORD k = 0; k < count; ++k) {
        OPCHDA_MODIFIEDITEM& it = items[k];
        for (DWORD j = 0; j < it.dwCount; ++j) {
            if (it.pvDataValues) VariantClear(&it.pvDataValues[j]);
            if (it.szUser) CoTaskMemFree(it.szUser[j]);
        }
        CoTaskMemFree(it.pftTimeStamps);
        CoTaskMemFree(it.pdwQualities);
        CoTaskMemFree(it.pvDataValues);
        CoTaskMemFree(it.pftModificationTime);
        CoTaskMemFree(it.pEditType);
        CoTaskMemFree(it.szUser);
    }
    CoTaskMemFree(items);
}

void FreeAttributes(OPCHDA_ATTRIBUTE* values, DWORD count) {
    if (!values) return;
    for (DWORD k = 0; k < count; ++k) {
        OPCHDA_ATTRIBUTE& a = values[k];
        if (a.vAttributeValues)
            for (DWORD j = 0; j < a.dwNumValues; ++j) VariantClear(&a.vAttributeValues[j]);
        CoTaskMemFree(a.ftTimeStamps);
        CoTaskMemFree(a.vAttributeValues);
    }
    CoTaskMemFree(values);
}

HRESULT BuildCodes(std::span<const HRESULT> codes, HRESULT** ppErrors) {
    *ppErrors = nullptr;
    if (codes.empty()) return S_OK;
    HRESULT* p = TaskArrayOf<HRESULT>(codes.size());
    if (!p) return E_OUTOFMEMORY;
    std::memcpy(p, codes.data(), codes.size() * sizeof(HRESULT));
    *ppErrors = p;
    return S_OK;
}

namespace {

// Fills one record's arrays from samples; the record is zeroed first so that a failure leaves
// only what FreeItems can release.
HRESULT FillItem(const ItemRead& r, OPCHDA_ITEM& it) {
    it.hClient = r.hClient;
    it.haAggregate = r.aggregate;
    const std::size_t n = r.samples.size();
    if (n == 0 || FAILED(r.code)) return S_OK;
    it.pftTimeStamps = TaskArrayOf<FILETIME>(n);
    it.pdwQualities = TaskArrayOf<DWORD>(n);
    it.pvDataValues = TaskArrayOf<VARIANT>(n);
    if (!it.pftTimeStamps || !it.pdwQualities || !it.pvDataValues) return E_OUTOFMEMORY;
    for (std::size_t j = 0; j < n; ++j) {
        const Sample& s = r.samples[j];
        it.pftTimeStamps[j] = U64ToFileTime(s.t);
        it.pdwQualities[j] = s.quality;
        HRESULT hr = ToVariant(s.v, &it.pvDataValues[j]);
        it.dwCount = static_cast<DWORD>(j + 1);  // what FreeItems must clear
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

HRESULT BuildItems(const std::vector<ItemRead>& items, OPCHDA_ITEM** ppItems, HRESULT** ppErrors) {
    *ppItems = nullptr;
    *ppErrors = nullptr;
    const DWORD n = static_cast<DWORD>(items.size());
    if (n == 0) return S_OK;
    OPCHDA_ITEM* out = TaskArrayOf<OPCHDA_ITEM>(n);
    HRESULT* errors = TaskArrayOf<HRESULT>(n);
    if (!out || !errors) {
        CoTaskMemFree(out);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    std::memset(out, 0, n * sizeof(OPCHDA_ITEM));
    for (DWORD k = 0; k < n; ++k) {
        errors[k] = items[k].code;
        HRESULT hr = FillItem(items[k], out[k]);
        if (FAILED(hr)) {
            FreeItems(out, n);
            CoTaskMemFree(errors);
            return hr;
        }
    }
    *ppItems = out;
    *ppErrors = errors;
    return S_OK;
}

HRESULT BuildModifiedItems(const std::vector<ModifiedRead>& items, OPCHDA_MODIFIEDITEM** ppItems,
                           HRESULT** ppErrors) {
    *ppItems = nullptr;
    *ppErrors = nullptr;
    const DWORD n = static_cast<DWORD>(items.size());
    if (n == 0) return S_OK;
    OPCHDA_MODIFIEDITEM* out = TaskArrayOf<OPCHDA_MODIFIEDITEM>(n);
    HRESULT* errors = TaskArrayOf<HRESULT>(n);
    if (!out || !errors) {
        CoTaskMemFree(out);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    std::memset(out, 0, n * sizeof(OPCHDA_MODIFIEDITEM));
    auto fail = [&](HRESULT hr) {
        FreeModifiedItems(out, n);
        CoTaskMemFree(errors);
        return hr;
    };
    for (DWORD k = 0; k < n; ++k) {
        const ModifiedRead& r = items[k];
        OPCHDA_MODIFIEDITEM& it = out[k];
        errors[k] = r.code;
        it.hClient = r.hClient;
        const std::size_t m = r.values.size();
        if (m == 0 || FAILED(r.code)) continue;
        // Every array is present (errata 3), the optional ones included.
        it.pftTimeStamps = TaskArrayOf<FILETIME>(m);
        it.pdwQualities = TaskArrayOf<DWORD>(m);
        it.pvDataValues = TaskArrayOf<VARIANT>(m);
        it.pftModificationTime = TaskArrayOf<FILETIME>(m);
        it.pEditType = TaskArrayOf<OPCHDA_EDITTYPE>(m);
        it.szUser = TaskArrayOf<LPWSTR>(m);
        if (!it.pftTimeStamps || !it.pdwQualities || !it.pvDataValues || !it.pftModificationTime ||
            !it.pEditType || !it.szUser)
            return fail(E_OUTOFMEMORY);
        for (std::size_t j = 0; j < m; ++j) {
            const ModifiedValue& v = r.values[j];
            it.pftTimeStamps[j] = U64ToFileTime(v.sample.t);
            it.pdwQualities[j] = v.sample.quality;
            it.pftModificationTime[j] = U64ToFileTime(v.modTime);
            it.pEditType[j] = v.edit;
            HRESULT hr = ToVariant(v.sample.v, &it.pvDataValues[j]);
            it.szUser[j] = SUCCEEDED(hr) ? TaskString(v.user) : nullptr;
            it.dwCount = static_cast<DWORD>(j + 1);
            if (FAILED(hr) || !it.szUser[j]) return fail(FAILED(hr) ? hr : E_OUTOFMEMORY);
        }
    }
    *ppItems = out;
    *ppErrors = errors;
    return S_OK;
}

HRESULT BuildAttributes(const AttributeCall& call, OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
    *ppValues = nullptr;
    *ppErrors = nullptr;
    const DWORD n = static_cast<DWORD>(call.attributes.size());
    if (n == 0) return S_OK;
    OPCHDA_ATTRIBUTE* out = TaskArrayOf<OPCHDA_ATTRIBUTE>(n);
    HRESULT* errors = TaskArrayOf<HRESULT>(n);
    if (!out || !errors) {
        CoTaskMemFree(out);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    std::memset(out, 0, n * sizeof(OPCHDA_ATTRIBUTE));
    for (DWORD k = 0; k < n; ++k) {
        const AttributeRead& a = call.attributes[k];
        OPCHDA_ATTRIBUTE& r = out[k];
        errors[k] = a.code;
        r.hClient = call.hClient;
        r.dwAttributeID = a.id;
        const std::size_t m = a.values.size();
        if (m == 0 || FAILED(a.code)) continue;
        r.ftTimeStamps = TaskArrayOf<FILETIME>(m);
        r.vAttributeValues = TaskArrayOf<VARIANT>(m);
        HRESULT hr = (r.ftTimeStamps && r.vAttributeValues) ? S_OK : E_OUTOFMEMORY;
        for (std::size_t j = 0; SUCCEEDED(hr) && j < m; ++j) {
            r.ftTimeStamps[j] = U64ToFileTime(a.times[j]);
            hr = ToVariant(a.values[j], &r.vAttributeValues[j]);
            r.dwNumValues = static_cast<DWORD>(j + 1);
        }
        if (FAILED(hr)) {
            FreeAttributes(out, n);
            CoTaskMemFree(errors);
            return hr;
        }
    }
    *ppValues = out;
    *ppErrors = errors;
    return S_OK;
}

}  // namespace sim

// The server object: argument checks and result records around the engine.
#include "servers/simulation/server.h"

#include <cmath>
#include <cstring>
#include <new>

#include "com/objbase.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "servers/simulation/marshal.h"

namespace sim {

namespace {

// Nothing thrown crosses the interface.
template <class F>
HRESULT Guard(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

template <class T>
void Null(T** p) {
    if (p) *p = nullptr;
}

std::vector<Ticks> TicksOf(const FILETIME* ft, DWORD n) {
    std::vector<Ticks> t(n);
    for (DWORD k = 0; k < n; ++k) t[k] = FileTimeToU64(ft[k]);
    return t;
}

}  // namespace

SimServer::SimServer(std::unique_ptr<Engine> engine) : m_engine(std::move(engine)) {}

// ---- IOPCHDA_Server ----

HRESULT SimServer::GetItemAttributes(DWORD* pdwCount, DWORD** ppdwAttrID, LPWSTR** ppszAttrName,
                                     LPWSTR** ppszAttrDesc, VARTYPE** ppvtAttrDataType) {
    if (pdwCount) *pdwCount = 0;
    Null(ppdwAttrID), Null(ppszAttrName), Null(ppszAttrDesc), Null(ppvtAttrDataType);
    if (!pdwCount || !ppdwAttrID || !ppszAttrName || !ppszAttrDesc || !ppvtAttrDataType) return E_INVALIDARG;
    return Guard([&] {
        auto attrs = Attributes();
        const std::size_t n = attrs.size();
        auto* ids = TaskArrayOf<DWORD>(n);
        auto* names = TaskArrayOf<LPWSTR>(n);
        auto* descs = TaskArrayOf<LPWSTR>(n);
        auto* types = TaskArrayOf<VARTYPE>(n);
        bool ok = ids && names && descs && types;
        if (names) std::memset(names, 0, n * sizeof(LPWSTR));
        if (descs) std::memset(descs, 0, n * sizeof(LPWSTR));
        for (std::size_t k = 0; ok && k < n; ++k) {
            ids[k] = attrs[k].id;
            types[k] = attrs[k].vt;
            names[k] = TaskString(attrs[k].name);
            descs[k] = TaskString(attrs[k].description);
            ok = names[k] && descs[k];
        }
        if (!ok) {
            for (std::size_t k = 0; k < n; ++k) {
                if (names) CoTaskMemFree(names[k]);
                if (descs) CoTaskMemFree(descs[k]);
            }
            CoTaskMemFree(ids), CoTaskMemFree(names), CoTaskMemFree(descs), CoTaskMemFree(types);
            return E_OUTOFMEMORY;
        }
        *pdwCount = static_cast<DWORD>(n);
        *ppdwAttrID = ids;
        *ppszAttrName = names;
        *ppszAttrDesc = descs;
        *ppvtAttrDataType = types;
        return S_OK;
    });
}

HRESULT SimServer::GetAggregates(DWORD* pdwCount, DWORD** ppdwAggrID, LPWSTR** ppszAggrName,
                                 LPWSTR** ppszAggrDesc) {
    if (pdwCount) *pdwCount = 0;
    Null(ppdwAggrID), Null(ppszAggrName), Null(ppszAggrDesc);
    if (!pdwCount || !ppdwAggrID || !ppszAggrName || !ppszAggrDesc) return E_INVALIDARG;
    return Guard([&] {
        auto aggs = Aggregates();
        const std::size_t n = aggs.size();
        auto* ids = TaskArrayOf<DWORD>(n);
        auto* names = TaskArrayOf<LPWSTR>(n);
        auto* descs = TaskArrayOf<LPWSTR>(n);
        bool ok = ids && names && descs;
        if (names) std::memset(names, 0, n * sizeof(LPWSTR));
        if (descs) std::memset(descs, 0, n * sizeof(LPWSTR));
        for (std::size_t k = 0; ok && k < n; ++k) {
            ids[k] = aggs[k].id;
            names[k] = TaskString(aggs[k].name);
            descs[k] = TaskString(aggs[k].description);
            ok = names[k] && descs[k];
        }
        if (!ok) {
            for (std::size_t k = 0; k < n; ++k) {
                if (names) CoTaskMemFree(names[k]);
                if (descs) CoTaskMemFree(descs[k]);
            }
            CoTaskMemFree(ids), CoTaskMemFree(names), CoTaskMemFree(descs);
            return E_OUTOFMEMORY;
        }
        *pdwCount = static_cast<DWORD>(n);
        *ppdwAggrID = ids;
        *ppszAggrName = names;
        *ppszAggrDesc = descs;
        return S_OK;
    });
}

HRESULT SimServer::GetHistorianStatus(OPCHDA_SERVERSTATUS* pwStatus, FILETIME** pftCurrentTime,
                                      FILETIME** pftStartTime, WORD* pwMajorVersion, WORD* pwMinorVersion,
                                      WORD* pwBuildNumber, DWORD* pdwMaxReturnValues,
                                      LPWSTR* ppszStatusString, LPWSTR* ppszVendorInfo) {
    Null(pftCurrentTime), Null(pftStartTime), Null(ppszStatusString), Null(ppszVendorInfo);
    if (!pwStatus || !pftCurrentTime || !pftStartTime || !pwMajorVersion || !pwMinorVersion ||
        !pwBuildNumber || !pdwMaxReturnValues || !ppszStatusString || !ppszVendorInfo)
        return E_INVALIDARG;
    return Guard([&] {
        StatusInfo s = m_engine->Status(com::NowUtcTicks());
        auto* now = TaskArrayOf<FILETIME>(1);
        auto* start = TaskArrayOf<FILETIME>(1);
        LPWSTR text = TaskString(s.text);
        LPWSTR vendor = TaskString(s.vendor);
        if (!now || !start || !text || !vendor) {
            CoTaskMemFree(now), CoTaskMemFree(start), CoTaskMemFree(text), CoTaskMemFree(vendor);
            return E_OUTOFMEMORY;
        }
        *now = U64ToFileTime(s.now);
        *start = U64ToFileTime(s.start);
        *pwStatus = s.status;
        *pftCurrentTime = now;
        *pftStartTime = start;
        *pwMajorVersion = kVersionMajor;
        *pwMinorVersion = kVersionMinor;
        *pwBuildNumber = kVersionBuild;
        *pdwMaxReturnValues = s.maxValues;
        *ppszStatusString = text;
        *ppszVendorInfo = vendor;
        return S_OK;
    });
}

HRESULT SimServer::GetItemHandles(DWORD dwCount, LPWSTR* pszItemID, OPCHANDLE* phClient,
                                  OPCHANDLE** pphServer, HRESULT** ppErrors) {
    Null(pphServer), Null(ppErrors);
    if (!pphServer || !ppErrors || dwCount == 0 || !pszItemID || !phClient) return E_INVALIDARG;
    return Guard([&] {
        std::vector<std::u16string> ids(dwCount);
        // A NULL ID is taken as the empty (malformed) ID.
        for (DWORD k = 0; k < dwCount; ++k)
            if (pszItemID[k]) ids[k] = com::AsU16(pszItemID[k]);
        std::vector<OPCHANDLE> servers;
        std::vector<HRESULT> codes = m_engine->GetItemHandles(ids, std::span(phClient, dwCount), &servers);
        auto* handles = TaskArrayOf<OPCHANDLE>(dwCount);
        HRESULT* errors = nullptr;
        if (!handles || FAILED(BuildCodes(codes, &errors))) {
            m_engine->ReleaseItemHandles(servers);
            CoTaskMemFree(handles);
            return E_OUTOFMEMORY;
        }
        std::memcpy(handles, servers.data(), dwCount * sizeof(OPCHANDLE));
        *pphServer = handles;
        *ppErrors = errors;
        for (HRESULT c : codes)
            if (c != S_OK) return S_FALSE;
        return S_OK;
    });
}

HRESULT SimServer::ReleaseItemHandles(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    Null(ppErrors);
    if (!ppErrors || dwCount == 0 || !phServer) return E_INVALIDARG;
    return Guard([&] {
        HRESULT* errors = TaskArrayOf<HRESULT>(dwCount);
        if (!errors) return E_OUTOFMEMORY;
        std::vector<HRESULT> codes = m_engine->ReleaseItemHandles(std::span(phServer, dwCount));
        std::memcpy(errors, codes.data(), dwCount * sizeof(HRESULT));
        *ppErrors = errors;
        for (HRESULT c : codes)
            if (c != S_OK) return S_FALSE;
        return S_OK;
    });
}

HRESULT SimServer::ValidateItemIDs(DWORD dwCount, LPWSTR* pszItemID, HRESULT** ppErrors) {
    Null(ppErrors);
    if (!ppErrors || dwCount == 0 || !pszItemID) return E_INVALIDARG;
    return Guard([&] {
        std::vector<HRESULT> codes(dwCount);
        bool all = true;
        for (DWORD k = 0; k < dwCount; ++k) {
            codes[k] =
                pszItemID[k] ? m_engine->ValidateItemId(com::AsU16(pszItemID[k])) : OPC_E_INVALIDITEMID;
            all = all && codes[k] == S_OK;
        }
        HRESULT hr = BuildCodes(codes, ppErrors);
        if (FAILED(hr)) return hr;
        return all ? S_OK : S_FALSE;
    });
}

HRESULT SimServer::CreateBrowse(DWORD dwCount, DWORD* pdwAttrID, OPCHDA_OPERATORCODES* pOperator,
                                VARIANT* vFilter, IOPCHDA_Browser** pphBrowser, HRESULT** ppErrors) {
    Null(pphBrowser), Null(ppErrors);
    if (!pphBrowser || !ppErrors || (dwCount && (!pdwAttrID || !pOperator || !vFilter))) return E_INVALIDARG;
    return Guard([&] {
        std::vector<BrowseFilter> filters;
        std::vector<HRESULT> codes(dwCount, S_OK);
        for (DWORD k = 0; k < dwCount; ++k) {
            const AttributeInfo* info = FindAttribute(pdwAttrID[k]);
            if (!info) {
                codes[k] = OPC_E_UNKNOWNATTRID;
                continue;
            }
            const OPCHDA_OPERATORCODES op = pOperator[k];
            if (op < OPCHDA_EQUAL || op > OPCHDA_NOTEQUAL) {
                codes[k] = E_INVALIDARG;
                continue;
            }
            BrowseFilter f;
            f.attribute = info->id;
            f.op = op;
            const VARIANT& v = vFilter[k];
            const bool equality = op == OPCHDA_EQUAL || op == OPCHDA_NOTEQUAL;
            if (info->vt == VT_BSTR || info->vt == VT_BOOL) {
                // Text and booleans compare for (in)equality only.
                if (!equality) {
                    codes[k] = E_INVALIDARG;
                    continue;
                }
            }
            // The filter value in the attribute's terms: text, a flag, a tick count or a number.
            VARTYPE want = info->vt == VT_BSTR || info->vt == VT_BOOL ? info->vt : VARTYPE{VT_R8};
            VARIANT conv;
            VariantInit(&conv);
            if (info->vt == VT_CY && v.vt == VT_CY) {
                f.kind = VT_CY;
                f.ticks = v.cyVal.int64;
            } else if (FAILED(VariantChangeType(&conv, &v, 0, want))) {
                codes[k] = OPC_E_INVALIDDATATYPE;
                continue;
            } else if (want == VT_BSTR) {
                f.kind = VT_BSTR;
                f.text =
                    conv.bstrVal ? std::u16string(com::AsU16(conv.bstrVal, SysStringLen(conv.bstrVal))) : u"";
            } else if (want == VT_BOOL) {
                f.kind = VT_BOOL;
                f.flag = conv.boolVal != 0;
            } else if (info->vt == VT_CY) {
                // A plain number for a time interval counts 100 ns ticks.
                f.kind = VT_CY;
                f.ticks = static_cast<std::int64_t>(std::llround(conv.dblVal));
            } else {
                f.kind = VT_R8;
                f.number = conv.dblVal;
            }
            VariantClear(&conv);
            filters.push_back(std::move(f));
        }
        auto browser = new SimBrowser(m_engine->space(), std::move(filters), m_engine->attributeContext());
        HRESULT hr = BuildCodes(codes, ppErrors);
        if (FAILED(hr)) {
            browser->Release();
            return hr;
        }
        *pphBrowser = browser;
        for (HRESULT c : codes)
            if (c != S_OK) return S_FALSE;
        return S_OK;
    });
}

// ---- IOPCHDA_SyncRead ----

HRESULT SimServer::ReadRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumValues, BOOL bBounds,
                           DWORD dwNumItems, OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues,
                           HRESULT** ppErrors) {
    Null(ppItemValues), Null(ppErrors);
    if (!htStartTime || !htEndTime || !ppItemValues || !ppErrors || dwNumItems == 0 || !phServer)
        return E_INVALIDARG;
    return Guard([&] {
        ReadCall call =
            m_engine->ReadRaw(ToTimeArg(*htStartTime), ToTimeArg(*htEndTime), dwNumValues, bBounds != FALSE,
                              std::span(phServer, dwNumItems), com::NowUtcTicks());
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildItems(call.items, ppItemValues, ppErrors);
        if (FAILED(hr)) return hr;
        WriteBack(htStartTime, call.start);
        WriteBack(htEndTime, call.end);
        return call.hr;
    });
}

HRESULT SimServer::ReadProcessed(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                 FILETIME ftResampleInterval, DWORD dwNumItems, OPCHANDLE* phServer,
                                 DWORD* haAggregate, OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) {
    Null(ppItemValues), Null(ppErrors);
    if (!htStartTime || !htEndTime || !ppItemValues || !ppErrors || dwNumItems == 0 || !phServer ||
        !haAggregate)
        return E_INVALIDARG;
    return Guard([&] {
        ReadCall call = m_engine->ReadProcessed(
            ToTimeArg(*htStartTime), ToTimeArg(*htEndTime), FileTimeToU64(ftResampleInterval),
            std::span(phServer, dwNumItems), std::span(haAggregate, dwNumItems), com::NowUtcTicks());
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildItems(call.items, ppItemValues, ppErrors);
        if (FAILED(hr)) return hr;
        WriteBack(htStartTime, call.start);
        WriteBack(htEndTime, call.end);
        return call.hr;
    });
}

HRESULT SimServer::ReadAtTime(DWORD dwNumTimeStamps, FILETIME* ftTimeStamps, DWORD dwNumItems,
                              OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) {
    Null(ppItemValues), Null(ppErrors);
    if (!ppItemValues || !ppErrors || dwNumTimeStamps == 0 || !ftTimeStamps || dwNumItems == 0 || !phServer)
        return E_INVALIDARG;
    return Guard([&] {
        std::vector<Ticks> times = TicksOf(ftTimeStamps, dwNumTimeStamps);
        ReadCall call = m_engine->ReadAtTime(times, std::span(phServer, dwNumItems));
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildItems(call.items, ppItemValues, ppErrors);
        if (FAILED(hr)) return hr;
        return call.hr;
    });
}

HRESULT SimServer::ReadModified(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumValues,
                                DWORD dwNumItems, OPCHANDLE* phServer, OPCHDA_MODIFIEDITEM** ppItemValues,
                                HRESULT** ppErrors) {
    Null(ppItemValues), Null(ppErrors);
    if (!htStartTime || !htEndTime || !ppItemValues || !ppErrors || dwNumItems == 0 || !phServer)
        return E_INVALIDARG;
    return Guard([&] {
        ModifiedCall call =
            m_engine->ReadModified(ToTimeArg(*htStartTime), ToTimeArg(*htEndTime), dwNumValues,
                                   std::span(phServer, dwNumItems), com::NowUtcTicks());
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildModifiedItems(call.items, ppItemValues, ppErrors);
        if (FAILED(hr)) return hr;
        WriteBack(htStartTime, call.start);
        WriteBack(htEndTime, call.end);
        return call.hr;
    });
}

HRESULT SimServer::ReadAttribute(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, OPCHANDLE hServer,
                                 DWORD dwNumAttributes, DWORD* pdwAttributeIDs,
                                 OPCHDA_ATTRIBUTE** ppAttributeValues, HRESULT** ppErrors) {
    Null(ppAttributeValues), Null(ppErrors);
    if (!htStartTime || !htEndTime || !ppAttributeValues || !ppErrors ||
        (dwNumAttributes && !pdwAttributeIDs))
        return E_INVALIDARG;
    return Guard([&] {
        AttributeCall call =
            m_engine->ReadAttribute(ToTimeArg(*htStartTime), ToTimeArg(*htEndTime), hServer,
                                    std::span(pdwAttributeIDs, dwNumAttributes), com::NowUtcTicks());
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildAttributes(call, ppAttributeValues, ppErrors);
        if (FAILED(hr)) return hr;
        WriteBack(htStartTime, call.start);
        WriteBack(htEndTime, call.end);
        return call.hr;
    });
}

// ---- IOPCHDA_SyncUpdate ----

HRESULT SimServer::QueryCapabilities(OPCHDA_UPDATECAPABILITIES* pCapabilities) {
    if (!pCapabilities) return E_INVALIDARG;
    *pCapabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(OPCHDA_INSERTCAP | OPCHDA_REPLACECAP |
                                                            OPCHDA_INSERTREPLACECAP | OPCHDA_DELETERAWCAP |
                                                            OPCHDA_DELETEATTIMECAP);
    return S_OK;
}

HRESULT SimServer::UpdateValues(EditOp op, DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors) {
    Null(ppErrors);
    if (!ppErrors || dwNumItems == 0 || !phServer || !ftTimeStamps || !vDataValues || !pdwQualities)
        return E_INVALIDARG;
    return Guard([&] {
        std::vector<Ticks> times = TicksOf(ftTimeStamps, dwNumItems);
        // Values usually arrive as text; each is converted to its item's type. An empty or null
        // value is refused rather than read as 0.
        ValueConverter convert = [&](std::size_t k, VARTYPE vt) -> std::optional<Value> {
            const VARIANT& src = vDataValues[k];
            if (src.vt == VT_EMPTY || src.vt == VT_NULL) return std::nullopt;
            if (src.vt == vt) return FromVariant(src);
            VARIANT dst;
            VariantInit(&dst);
            if (FAILED(VariantChangeType(&dst, &src, 0, vt))) return std::nullopt;
            std::optional<Value> v = FromVariant(dst);
            VariantClear(&dst);
            return v;
        };
        UpdateCall call = m_engine->Update(op, std::span(phServer, dwNumItems), times,
                                           std::span(pdwQualities, dwNumItems), convert, com::NowUtcTicks());
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildCodes(call.codes, ppErrors);
        return FAILED(hr) ? hr : call.hr;
    });
}

HRESULT SimServer::Insert(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps, VARIANT* vDataValues,
                          DWORD* pdwQualities, HRESULT** ppErrors) {
    return UpdateValues(EditOp::Insert, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities,
                        ppErrors);
}

HRESULT SimServer::Replace(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                           VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors) {
    return UpdateValues(EditOp::Replace, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities,
                        ppErrors);
}

HRESULT SimServer::InsertReplace(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                 VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors) {
    return UpdateValues(EditOp::InsertReplace, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities,
                        ppErrors);
}

HRESULT SimServer::DeleteRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumItems,
                             OPCHANDLE* phServer, HRESULT** ppErrors) {
    Null(ppErrors);
    if (!htStartTime || !htEndTime || !ppErrors || dwNumItems == 0 || !phServer) return E_INVALIDARG;
    return Guard([&] {
        UpdateCall call = m_engine->DeleteRaw(ToTimeArg(*htStartTime), ToTimeArg(*htEndTime),
                                              std::span(phServer, dwNumItems), com::NowUtcTicks());
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildCodes(call.codes, ppErrors);
        if (FAILED(hr)) return hr;
        WriteBack(htStartTime, call.start);
        WriteBack(htEndTime, call.end);
        return call.hr;
    });
}

HRESULT SimServer::DeleteAtTime(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                HRESULT** ppErrors) {
    Null(ppErrors);
    if (!ppErrors || dwNumItems == 0 || !phServer || !ftTimeStamps) return E_INVALIDARG;
    return Guard([&] {
        std::vector<Ticks> times = TicksOf(ftTimeStamps, dwNumItems);
        UpdateCall call = m_engine->DeleteAtTime(std::span(phServer, dwNumItems), times, com::NowUtcTicks());
        if (FAILED(call.hr)) return call.hr;
        HRESULT hr = BuildCodes(call.codes, ppErrors);
        return FAILED(hr) ? hr : call.hr;
    });
}

// ---- IOPCHDA_AsyncRead ----

#define SIM_NOT_IMPLEMENTED                \
    do {                                   \
        if (pdwCancelID) *pdwCancelID = 0; \
        Null(ppErrors);                    \
        return E_NOTIMPL;                  \
    } while (0)

HRESULT SimServer::ReadRaw(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*,
                           DWORD* pdwCancelID, HRESULT** ppErrors) {
    SIM_NOT_IMPLEMENTED;
}
HRESULT SimServer::AdviseRaw(DWORD, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD* pdwCancelID,
                             HRESULT** ppErrors) {
    SIM_NOT_IMPLEMENTED;
}
HRESULT SimServer::ReadProcessed(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*,
                                 DWORD* pdwCancelID, HRESULT** ppErrors) {
    SIM_NOT_IMPLEMENTED;
}
HRESULT SimServer::AdviseProcessed(DWORD, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*, DWORD,
                                   DWORD* pdwCancelID, HRESULT** ppErrors) {
    SIM_NOT_IMPLEMENTED;
}
HRESULT SimServer::ReadAtTime(DWORD, DWORD, FILETIME*, DWORD, OPCHANDLE*, DWORD* pdwCancelID,
                              HRESULT** ppErrors) {
    SIM_NOT_IMPLEMENTED;
}
HRESULT SimServer::ReadModified(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, DWORD, DWORD, OPCHANDLE*,
                                DWORD* pdwCancelID, HRESULT** ppErrors) {
    SIM_NOT_IMPLEMENTED;
}
HRESULT SimServer::ReadAttribute(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*,
                                 DWORD* pdwCancelID, HRESULT** ppErrors) {
    SIM_NOT_IMPLEMENTED;
}
HRESULT SimServer::Cancel(DWORD) {
    return E_NOTIMPL;
}

#undef SIM_NOT_IMPLEMENTED

// ---- IOPCCommon ----

HRESULT SimServer::SetLocaleID(LCID dwLcid) {
    // English texts only; the default locales map to it.
    if (dwLcid != 0x0409 && dwLcid != 0 && dwLcid != LOCALE_USER_DEFAULT && dwLcid != LOCALE_SYSTEM_DEFAULT &&
        dwLcid != LOCALE_INVARIANT)
        return E_INVALIDARG;
    m_lcid = dwLcid;
    return S_OK;
}

HRESULT SimServer::GetLocaleID(LCID* pdwLcid) {
    if (!pdwLcid) return E_INVALIDARG;
    *pdwLcid = m_lcid;
    return S_OK;
}

HRESULT SimServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    if (pdwCount) *pdwCount = 0;
    Null(pdwLcid);
    if (!pdwCount || !pdwLcid) return E_INVALIDARG;
    auto* ids = TaskArrayOf<LCID>(1);
    if (!ids) return E_OUTOFMEMORY;
    ids[0] = 0x0409;
    *pdwCount = 1;
    *pdwLcid = ids;
    return S_OK;
}

HRESULT SimServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    Null(ppString);
    if (!ppString) return E_INVALIDARG;
    const char16_t* text = ErrorText(dwError);
    if (!text) return E_INVALIDARG;
    *ppString = TaskString(text);
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimServer::SetClientName(LPCWSTR szName) {
    if (!szName) return E_INVALIDARG;
    return Guard([&] {
        m_engine->SetClientName(std::u16string(com::AsU16(szName)));
        return S_OK;
    });
}

const char16_t* ErrorText(HRESULT code) {
    switch (code) {
        case S_OK:
            return u"The operation succeeded.";
        case S_FALSE:
            return u"The operation succeeded for some entries; see the per-entry results.";
        case E_FAIL:
            return u"The operation failed.";
        case E_INVALIDARG:
            return u"An argument is not valid.";
        case E_OUTOFMEMORY:
            return u"Not enough memory.";
        case E_NOTIMPL:
            return u"This server does not implement the method.";
        case E_ACCESSDENIED:
            return u"The history database is read-only.";
        case OPC_E_INVALIDHANDLE:
            return u"The item handle is not valid.";
        case OPC_E_BADTYPE:
            return u"The value cannot be converted to the item's data type.";
        case OPC_E_BADRIGHTS:
            return u"The item cannot be written: its history is generated, not stored.";
        case OPC_E_UNKNOWNITEMID:
            return u"The item ID is not in the server's address space.";
        case OPC_E_INVALIDITEMID:
            return u"The item ID is not well formed.";
        case OPC_E_MAXEXCEEDED:
            return u"The request exceeds the most values the server returns in one call.";
        case OPC_S_NODATA:
            return u"There is no data in the requested range.";
        case OPC_S_MOREDATA:
            return u"More data exists than was returned.";
        case OPC_E_INVALIDAGGREGATE:
            return u"The server does not know that aggregate.";
        case OPC_S_CURRENTVALUE:
            return u"Only the current value is available.";
        case OPC_S_EXTRADATA:
            return u"Further data exists.";
        case OPC_W_NOFILTER:
            return u"The server cannot filter on that attribute.";
        case OPC_E_UNKNOWNATTRID:
            return u"The server does not know that attribute.";
        case OPC_E_NOT_AVAIL:
            return u"The aggregate is not available for this item.";
        case OPC_E_INVALIDDATATYPE:
            return u"The filter value has the wrong data type.";
        case OPC_E_DATAEXISTS:
            return u"A value already exists at that time.";
        case OPC_E_INVALIDATTRID:
            return u"The attribute is not valid for this item.";
        case OPC_E_NODATAEXISTS:
            return u"No value exists at that time.";
        case OPC_S_INSERTED:
            return u"The value was inserted.";
        case OPC_S_REPLACED:
            return u"The value was replaced.";
        case kHrLocked:
            return u"The history database is locked by another process.";
        case kHrCorrupt:
            return u"The history database is corrupt.";
        case kHrDiskFull:
            return u"The disk holding the history database is full.";
        case kHrOpenFailed:
            return u"The history database cannot be opened.";
        default:
            return nullptr;
    }
}

}  // namespace sim

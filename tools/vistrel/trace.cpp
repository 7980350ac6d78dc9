#include "tools/vistrel/trace.h"

#include <chrono>
#include <cstdio>
#include <sstream>

#include "com/text.h"
#include "com/timeapi.h"
#include "com/unknwn.h"

namespace vistrel {

namespace {

using Clock = std::chrono::steady_clock;

std::string Hex(DWORD v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
    return b;
}

std::string Quote(const char16_t* s) {
    if (!s) return "null";
    std::string t = com::Utf16ToUtf8(s);
    if (t.size() > 60) t = t.substr(0, 57) + "...";
    return "\"" + t + "\"";
}

template <class T>
std::string List(DWORD n, const T* p) {
    std::ostringstream o;
    o << n;
    if (!p) return o.str() + " null";
    o << " [";
    for (DWORD i = 0; i < n && i < 4; ++i) o << (i ? "," : "") << p[i];
    if (n > 4) o << ",...";
    o << "]";
    return o.str();
}

std::string Times(DWORD n, const FILETIME* p) {
    std::string s = std::to_string(n);
    if (!p) return s + " null";
    s += " [";
    for (DWORD i = 0; i < n && i < 2; ++i) s += (i ? "," : "") + TraceUtc(FileTimeToU64(p[i]));
    if (n > 2) s += ",...";
    return s + "]";
}

// Times a call and writes its line when it returns.
class Call {
public:
    Call(const TraceSink* sink, std::string name)
        : m_sink(sink), m_name(std::move(name)), m_t0(Clock::now()) {}
    HRESULT operator()(HRESULT hr, const std::string& out = {}) const {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_t0).count();
        TraceLine(*m_sink, out.empty() ? m_name : m_name + " -> " + out, hr, us);
        return hr;
    }

private:
    const TraceSink* m_sink;
    std::string m_name;
    Clock::time_point m_t0;
};

class CTracingEnum final : public com::ComObject<IEnumString> {
public:
    CTracingEnum(IEnumString* p, const TraceSink* s) : m_p(p), m_s(s) { m_p->AddRef(); }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        Call c(m_s, "IEnumString::Next(" + std::to_string(celt) + ")");
        HRESULT hr = m_p->Next(celt, rgelt, pceltFetched);
        return c(hr, pceltFetched ? std::to_string(*pceltFetched) + " fetched" : std::string());
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        Call c(m_s, "IEnumString::Skip(" + std::to_string(celt) + ")");
        return c(m_p->Skip(celt));
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        Call c(m_s, "IEnumString::Reset()");
        return c(m_p->Reset());
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) override {
        Call c(m_s, "IEnumString::Clone()");
        HRESULT hr = m_p->Clone(ppenum);
        if (SUCCEEDED(hr) && ppenum && *ppenum) {
            IEnumString* real = *ppenum;
            *ppenum = new CTracingEnum(real, m_s);
            real->Release();
        }
        return c(hr);
    }

private:
    ~CTracingEnum() override { m_p->Release(); }
    IEnumString* m_p;
    const TraceSink* m_s;
};

const char* BrowseTypeName(OPCHDA_BROWSETYPE t) {
    switch (t) {
        case OPCHDA_BRANCH:
            return "BRANCH";
        case OPCHDA_LEAF:
            return "LEAF";
        case OPCHDA_FLAT:
            return "FLAT";
        case OPCHDA_ITEMS:
            return "ITEMS";
    }
    return "?";
}

class CTracingBrowser final : public com::ComObject<IOPCHDA_Browser> {
public:
    CTracingBrowser(IOPCHDA_Browser* p, const TraceSink* s) : m_p(p), m_s(s) { m_p->AddRef(); }
    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE t, IEnumString** pp) override {
        Call c(m_s, std::string("IOPCHDA_Browser::GetEnum(") + BrowseTypeName(t) + ")");
        HRESULT hr = m_p->GetEnum(t, pp);
        if (SUCCEEDED(hr) && pp && *pp) {
            IEnumString* real = *pp;
            *pp = new CTracingEnum(real, m_s);
            real->Release();
        }
        return c(hr);
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION d, LPCWSTR sz) override {
        const char* dir = d == OPCHDA_BROWSE_UP ? "UP" : d == OPCHDA_BROWSE_DOWN ? "DOWN" : "DIRECT";
        Call c(m_s, std::string("IOPCHDA_Browser::ChangeBrowsePosition(") + dir + ", " + Quote(sz) + ")");
        return c(m_p->ChangeBrowsePosition(d, sz));
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR szNode, LPWSTR* psz) override {
        Call c(m_s, "IOPCHDA_Browser::GetItemID(" + Quote(szNode) + ")");
        HRESULT hr = m_p->GetItemID(szNode, psz);
        return c(hr, SUCCEEDED(hr) && psz ? Quote(*psz) : std::string());
    }
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR* psz) override {
        Call c(m_s, "IOPCHDA_Browser::GetBranchPosition()");
        HRESULT hr = m_p->GetBranchPosition(psz);
        return c(hr, SUCCEEDED(hr) && psz ? Quote(*psz) : std::string());
    }

private:
    ~CTracingBrowser() override { m_p->Release(); }
    IOPCHDA_Browser* m_p;
    const TraceSink* m_s;
};

class CTracingServer final : public com::ComObject<IOPCHDA_Server, IOPCHDA_SyncRead, IOPCHDA_SyncUpdate> {
public:
    CTracingServer(IOPCHDA_Server* p, const TraceSink* s) : m_p(p), m_s(s) { m_p->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IOPCHDA_SyncRead || riid == IID_IOPCHDA_SyncUpdate || riid == IID_IOPCHDA_AsyncRead) {
            const char* name = riid == IID_IOPCHDA_SyncRead     ? "IOPCHDA_SyncRead"
                               : riid == IID_IOPCHDA_SyncUpdate ? "IOPCHDA_SyncUpdate"
                                                                : "IOPCHDA_AsyncRead";
            Call c(m_s, std::string("IUnknown::QueryInterface(") + name + ")");
            if (!ppv) return c(E_POINTER);
            *ppv = nullptr;
            IUnknown* real = nullptr;
            HRESULT hr = m_p->QueryInterface(riid, reinterpret_cast<void**>(&real));
            if (SUCCEEDED(hr) && real) {
                if (riid == IID_IOPCHDA_SyncRead) {
                    m_read = com::ComPtr<IOPCHDA_SyncRead>::Attach(static_cast<IOPCHDA_SyncRead*>(real));
                } else if (riid == IID_IOPCHDA_SyncUpdate) {
                    m_update =
                        com::ComPtr<IOPCHDA_SyncUpdate>::Attach(static_cast<IOPCHDA_SyncUpdate*>(real));
                } else {
                    *ppv = real;  // held, never called: passed through as it is
                    return c(hr);
                }
                return c(com::ComObject<IOPCHDA_Server, IOPCHDA_SyncRead, IOPCHDA_SyncUpdate>::QueryInterface(
                    riid, ppv));
            }
            if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
            return c(hr);
        }
        return com::ComObject<IOPCHDA_Server, IOPCHDA_SyncRead, IOPCHDA_SyncUpdate>::QueryInterface(riid,
                                                                                                    ppv);
    }

    // IOPCHDA_Server
    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** a, LPWSTR** b, LPWSTR** c_,
                                                VARTYPE** d) override {
        Call c(m_s, "IOPCHDA_Server::GetItemAttributes()");
        HRESULT hr = m_p->GetItemAttributes(pdwCount, a, b, c_, d);
        return c(hr, Count(hr, pdwCount));
    }
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** a, LPWSTR** b, LPWSTR** c_) override {
        Call c(m_s, "IOPCHDA_Server::GetAggregates()");
        HRESULT hr = m_p->GetAggregates(pdwCount, a, b, c_);
        return c(hr, Count(hr, pdwCount));
    }
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS* a, FILETIME** b, FILETIME** c_, WORD* d,
                                                 WORD* e, WORD* f, DWORD* g, LPWSTR* h, LPWSTR* i) override {
        Call c(m_s, "IOPCHDA_Server::GetHistorianStatus()");
        return c(m_p->GetHistorianStatus(a, b, c_, d, e, f, g, h, i));
    }
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD n, LPWSTR* ids, OPCHANDLE* hc, OPCHANDLE** phs,
                                             HRESULT** pe) override {
        std::string a = std::to_string(n);
        if (ids && n > 0) a += " [" + Quote(ids[0]) + (n > 1 ? ",...]" : "]");
        Call c(m_s, "IOPCHDA_Server::GetItemHandles(" + a + ")");
        HRESULT hr = m_p->GetItemHandles(n, ids, hc, phs, pe);
        return c(hr, SUCCEEDED(hr) && phs && *phs ? "handles " + List(n, *phs) : std::string());
    }
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD n, OPCHANDLE* ph, HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_Server::ReleaseItemHandles(" + List(n, ph) + ")");
        return c(m_p->ReleaseItemHandles(n, ph, pe));
    }
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD n, LPWSTR* ids, HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_Server::ValidateItemIDs(" + std::to_string(n) + ")");
        return c(m_p->ValidateItemIDs(n, ids, pe));
    }
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD n, DWORD* attr, OPCHDA_OPERATORCODES* op, VARIANT* v,
                                           IOPCHDA_Browser** pp, HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_Server::CreateBrowse(" + std::to_string(n) + " filters)");
        HRESULT hr = m_p->CreateBrowse(n, attr, op, v, pp, pe);
        if (SUCCEEDED(hr) && pp && *pp) {
            IOPCHDA_Browser* real = *pp;
            *pp = new CTracingBrowser(real, m_s);
            real->Release();
        }
        return c(hr);
    }

    // IOPCHDA_SyncRead
    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, BOOL b, DWORD items,
                                      OPCHANDLE* ph, OPCHDA_ITEM** pv, HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncRead::ReadRaw(" + TraceTime(s) + ", " + TraceTime(e) +
                        ", n=" + std::to_string(n) + ", bounds=" + std::to_string(b) +
                        ", items=" + List(items, ph) + ")");
        HRESULT hr = m_read->ReadRaw(s, e, n, b, items, ph, pv, pe);
        return c(hr, Values(hr, items, pv));
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME* s, OPCHDA_TIME* e, FILETIME iv, DWORD items,
                                            OPCHANDLE* ph, DWORD* agg, OPCHDA_ITEM** pv,
                                            HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncRead::ReadProcessed(" + TraceTime(s) + ", " + TraceTime(e) +
                        ", interval=" + std::to_string(FileTimeToU64(iv)) + ", items=" + List(items, ph) +
                        ", aggregates=" + List(items, agg) + ")");
        HRESULT hr = m_read->ReadProcessed(s, e, iv, items, ph, agg, pv, pe);
        return c(hr, Values(hr, items, pv));
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD nt, FILETIME* ft, DWORD items, OPCHANDLE* ph, OPCHDA_ITEM** pv,
                                         HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncRead::ReadAtTime(" + Times(nt, ft) + ", items=" + List(items, ph) + ")");
        HRESULT hr = m_read->ReadAtTime(nt, ft, items, ph, pv, pe);
        return c(hr, Values(hr, items, pv));
    }
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, DWORD items,
                                           OPCHANDLE* ph, OPCHDA_MODIFIEDITEM** pv, HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncRead::ReadModified(" + TraceTime(s) + ", " + TraceTime(e) +
                        ", n=" + std::to_string(n) + ", items=" + List(items, ph) + ")");
        HRESULT hr = m_read->ReadModified(s, e, n, items, ph, pv, pe);
        std::string out;
        if (SUCCEEDED(hr) && pv && *pv) {
            unsigned long long total = 0;
            for (DWORD i = 0; i < items; ++i) total += (*pv)[i].dwCount;
            out = std::to_string(total) + " values";
        }
        return c(hr, out);
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME* s, OPCHDA_TIME* e, OPCHANDLE h, DWORD n, DWORD* ids,
                                            OPCHDA_ATTRIBUTE** pv, HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncRead::ReadAttribute(" + TraceTime(s) + ", " + TraceTime(e) +
                        ", item=" + std::to_string(h) + ", attributes=" + List(n, ids) + ")");
        return c(m_read->ReadAttribute(s, e, h, n, ids, pv, pe));
    }

    // IOPCHDA_SyncUpdate
    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES* p) override {
        Call c(m_s, "IOPCHDA_SyncUpdate::QueryCapabilities()");
        return c(m_update->QueryCapabilities(p));
    }
    HRESULT STDMETHODCALLTYPE Insert(DWORD n, OPCHANDLE* ph, FILETIME* ft, VARIANT* v, DWORD* q,
                                     HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncUpdate::Insert(" + Update(n, ph, ft) + ")");
        return c(m_update->Insert(n, ph, ft, v, q, pe));
    }
    HRESULT STDMETHODCALLTYPE Replace(DWORD n, OPCHANDLE* ph, FILETIME* ft, VARIANT* v, DWORD* q,
                                      HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncUpdate::Replace(" + Update(n, ph, ft) + ")");
        return c(m_update->Replace(n, ph, ft, v, q, pe));
    }
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD n, OPCHANDLE* ph, FILETIME* ft, VARIANT* v, DWORD* q,
                                            HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncUpdate::InsertReplace(" + Update(n, ph, ft) + ")");
        return c(m_update->InsertReplace(n, ph, ft, v, q, pe));
    }
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, OPCHANDLE* ph,
                                        HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncUpdate::DeleteRaw(" + TraceTime(s) + ", " + TraceTime(e) +
                        ", items=" + List(n, ph) + ")");
        return c(m_update->DeleteRaw(s, e, n, ph, pe));
    }
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD n, OPCHANDLE* ph, FILETIME* ft, HRESULT** pe) override {
        Call c(m_s, "IOPCHDA_SyncUpdate::DeleteAtTime(" + Update(n, ph, ft) + ")");
        return c(m_update->DeleteAtTime(n, ph, ft, pe));
    }

private:
    ~CTracingServer() override { m_p->Release(); }

    static std::string Count(HRESULT hr, const DWORD* p) {
        return SUCCEEDED(hr) && p ? std::to_string(*p) + " entries" : std::string();
    }
    static std::string Values(HRESULT hr, DWORD items, OPCHDA_ITEM** pv) {
        if (FAILED(hr) || !pv || !*pv) return {};
        unsigned long long total = 0;
        for (DWORD i = 0; i < items; ++i) total += (*pv)[i].dwCount;
        return std::to_string(total) + " values";
    }
    static std::string Update(DWORD n, const OPCHANDLE* ph, const FILETIME* ft) {
        return "entries=" + List(n, ph) + ", times=" + Times(n, ft);
    }

    IOPCHDA_Server* m_p;
    const TraceSink* m_s;
    com::ComPtr<IOPCHDA_SyncRead> m_read;
    com::ComPtr<IOPCHDA_SyncUpdate> m_update;
};

}  // namespace

IOPCHDA_Server* NewTracingServer(IOPCHDA_Server* pServer, const TraceSink* pSink) {
    return new CTracingServer(pServer, pSink);
}

void TraceLine(const TraceSink& sink, const std::string& call, HRESULT hr, long long micros) {
    if (!sink.out) return;
    std::string text = sink.codeText ? sink.codeText(hr) : std::string();
    *sink.out << "trace: " << call << " = " << Hex(static_cast<DWORD>(hr)) << (text.empty() ? "" : " ")
              << text << " (" << micros << " µs)\n";
    sink.out->flush();
}

std::string TraceUtc(ULONGLONG ticks) {
    FILETIME ft = U64ToFileTime(ticks);
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st)) return std::to_string(ticks);
    char b[64];
    std::snprintf(b, sizeof b, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds);
    return b;
}

std::string TraceTime(const OPCHDA_TIME* p) {
    if (!p) return "null";
    if (p->bString) return p->szTime && *p->szTime ? Quote(p->szTime) : "\"\"";
    return TraceUtc(FileTimeToU64(p->ftTime));
}

}  // namespace vistrel

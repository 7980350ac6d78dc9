#include "client/calltrace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <utility>

#include "client/csvfield.h"
#include "client/textforms.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "com/unknwn.h"
#include "hda/hdaserver.h"

namespace client {

namespace {

using Clock = std::chrono::steady_clock;

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

// What a call's answer is said to be.
struct Outcome {
    std::string text;
    std::optional<unsigned long long> values;
};

Outcome Nothing(HRESULT) {
    return {};
}

// What every tracing object shares: the switch and the connection's label.
class Tracer {
public:
    Tracer(std::shared_ptr<const CallTrace> trace, std::string server)
        : m_trace(std::move(trace)), m_server(std::move(server)) {}

    // Forwards the call; when someone records, its arguments are written before it (a server may
    // rewrite them), and its time, code and outcome after.
    template <class Arguments, class Call, class Answer>
    HRESULT operator()(const char* method, Arguments&& arguments, Call&& call, Answer&& answer) const {
        ICallRecorder* pRecorder = m_trace->Recorder();
        if (!pRecorder) return call();
        CallRecord record;
        record.server = m_server;
        record.method = method;
        record.arguments = arguments();
        GetSystemTimeAsFileTime(&record.ftStart);
        const Clock::time_point t0 = Clock::now();
        record.hr = call();
        record.micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
        Outcome outcome = answer(record.hr);
        record.outcome = std::move(outcome.text);
        record.values = outcome.values;
        pRecorder->Record(record);
        return record.hr;
    }

private:
    std::shared_ptr<const CallTrace> m_trace;
    std::string m_server;
};

// The value count of a read's answer.
Outcome Values(HRESULT hr, DWORD items, const OPCHDA_ITEM* const* pv) {
    if (FAILED(hr) || !pv || !*pv) return {};
    unsigned long long total = 0;
    for (DWORD i = 0; i < items; ++i) total += (*pv)[i].dwCount;
    return {std::to_string(total) + " values", total};
}

class CTracingEnum final : public com::ComObject<IEnumString> {
public:
    CTracingEnum(IEnumString* p, Tracer t) : m_p(p), m_t(std::move(t)) { m_p->AddRef(); }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        return m_t(
            "IEnumString::Next", [&] { return std::to_string(celt); },
            [&] { return m_p->Next(celt, rgelt, pceltFetched); },
            [&](HRESULT) {
                return pceltFetched ? Outcome{std::to_string(*pceltFetched) + " fetched", *pceltFetched}
                                    : Outcome{};
            });
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        return m_t(
            "IEnumString::Skip", [&] { return std::to_string(celt); }, [&] { return m_p->Skip(celt); },
            Nothing);
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        return m_t(
            "IEnumString::Reset", [] { return std::string(); }, [&] { return m_p->Reset(); }, Nothing);
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) override {
        return m_t(
            "IEnumString::Clone", [] { return std::string(); },
            [&] {
                HRESULT hr = m_p->Clone(ppenum);
                if (SUCCEEDED(hr) && ppenum && *ppenum) {
                    IEnumString* real = *ppenum;
                    *ppenum = new CTracingEnum(real, m_t);
                    real->Release();
                }
                return hr;
            },
            Nothing);
    }

private:
    ~CTracingEnum() override { m_p->Release(); }
    IEnumString* m_p;
    Tracer m_t;
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

// An enumerator handed out by a traced call is traced too.
void WrapEnum(HRESULT hr, IEnumString** pp, const Tracer& t) {
    if (SUCCEEDED(hr) && pp && *pp) {
        IEnumString* real = *pp;
        *pp = new CTracingEnum(real, t);
        real->Release();
    }
}

class CTracingBrowser final : public com::ComObject<IOPCHDA_Browser> {
public:
    CTracingBrowser(IOPCHDA_Browser* p, Tracer t) : m_p(p), m_t(std::move(t)) { m_p->AddRef(); }
    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE t, IEnumString** pp) override {
        return m_t(
            "IOPCHDA_Browser::GetEnum", [&] { return std::string(BrowseTypeName(t)); },
            [&] {
                HRESULT hr = m_p->GetEnum(t, pp);
                WrapEnum(hr, pp, m_t);
                return hr;
            },
            Nothing);
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION d, LPCWSTR sz) override {
        return m_t(
            "IOPCHDA_Browser::ChangeBrowsePosition",
            [&] {
                const char* dir = d == OPCHDA_BROWSE_UP ? "UP" : d == OPCHDA_BROWSE_DOWN ? "DOWN" : "DIRECT";
                return std::string(dir) + ", " + Quote(sz);
            },
            [&] { return m_p->ChangeBrowsePosition(d, sz); }, Nothing);
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR szNode, LPWSTR* psz) override {
        return m_t(
            "IOPCHDA_Browser::GetItemID", [&] { return Quote(szNode); },
            [&] { return m_p->GetItemID(szNode, psz); }, [&](HRESULT hr) { return Text(hr, psz); });
    }
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR* psz) override {
        return m_t(
            "IOPCHDA_Browser::GetBranchPosition", [] { return std::string(); },
            [&] { return m_p->GetBranchPosition(psz); }, [&](HRESULT hr) { return Text(hr, psz); });
    }

private:
    ~CTracingBrowser() override { m_p->Release(); }
    static Outcome Text(HRESULT hr, LPWSTR* psz) {
        return SUCCEEDED(hr) && psz ? Outcome{Quote(*psz), std::nullopt} : Outcome{};
    }
    IOPCHDA_Browser* m_p;
    Tracer m_t;
};

// An update's entries are counted whatever it returned; the line says nothing more.
auto Entries(DWORD n) {
    return [n](HRESULT) { return Outcome{std::string(), n}; };
}

using TracingBase = com::ComObject<IOPCHDA_Server, IOPCHDA_SyncRead, IOPCHDA_SyncUpdate>;

class CTracingServer final : public TracingBase {
public:
    CTracingServer(IOPCHDA_Server* p, Tracer t) : m_p(p), m_t(std::move(t)) { m_p->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IOPCHDA_SyncRead && riid != IID_IOPCHDA_SyncUpdate && riid != IID_IOPCHDA_AsyncRead)
            return TracingBase::QueryInterface(riid, ppv);
        const char* name = riid == IID_IOPCHDA_SyncRead     ? "IOPCHDA_SyncRead"
                           : riid == IID_IOPCHDA_SyncUpdate ? "IOPCHDA_SyncUpdate"
                                                            : "IOPCHDA_AsyncRead";
        return m_t(
            "IUnknown::QueryInterface", [&] { return std::string(name); },
            [&]() -> HRESULT {
                if (!ppv) return E_POINTER;
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
                        return hr;
                    }
                    return TracingBase::QueryInterface(riid, ppv);
                }
                return SUCCEEDED(hr) ? E_NOINTERFACE : hr;
            },
            Nothing);
    }

    // IOPCHDA_Server
    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** a, LPWSTR** b, LPWSTR** c,
                                                VARTYPE** d) override {
        return m_t(
            "IOPCHDA_Server::GetItemAttributes", [] { return std::string(); },
            [&] { return m_p->GetItemAttributes(pdwCount, a, b, c, d); },
            [&](HRESULT hr) { return Count(hr, pdwCount); });
    }
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** a, LPWSTR** b, LPWSTR** c) override {
        return m_t(
            "IOPCHDA_Server::GetAggregates", [] { return std::string(); },
            [&] { return m_p->GetAggregates(pdwCount, a, b, c); },
            [&](HRESULT hr) { return Count(hr, pdwCount); });
    }
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS* a, FILETIME** b, FILETIME** c, WORD* d,
                                                 WORD* e, WORD* f, DWORD* g, LPWSTR* h, LPWSTR* i) override {
        return m_t(
            "IOPCHDA_Server::GetHistorianStatus", [] { return std::string(); },
            [&] { return m_p->GetHistorianStatus(a, b, c, d, e, f, g, h, i); }, Nothing);
    }
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD n, LPWSTR* ids, OPCHANDLE* hc, OPCHANDLE** phs,
                                             HRESULT** pe) override {
        return m_t(
            "IOPCHDA_Server::GetItemHandles",
            [&] {
                std::string a = std::to_string(n);
                if (ids && n > 0) a += " [" + Quote(ids[0]) + (n > 1 ? ",...]" : "]");
                return a;
            },
            [&] { return m_p->GetItemHandles(n, ids, hc, phs, pe); },
            [&](HRESULT hr) {
                return SUCCEEDED(hr) && phs && *phs ? Outcome{"handles " + List(n, *phs), n} : Outcome{};
            });
    }
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD n, OPCHANDLE* ph, HRESULT** pe) override {
        return m_t(
            "IOPCHDA_Server::ReleaseItemHandles", [&] { return List(n, ph); },
            [&] { return m_p->ReleaseItemHandles(n, ph, pe); }, Nothing);
    }
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD n, LPWSTR* ids, HRESULT** pe) override {
        return m_t(
            "IOPCHDA_Server::ValidateItemIDs", [&] { return std::to_string(n); },
            [&] { return m_p->ValidateItemIDs(n, ids, pe); }, Nothing);
    }
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD n, DWORD* attr, OPCHDA_OPERATORCODES* op, VARIANT* v,
                                           IOPCHDA_Browser** pp, HRESULT** pe) override {
        return m_t(
            "IOPCHDA_Server::CreateBrowse", [&] { return std::to_string(n) + " filters"; },
            [&] {
                HRESULT hr = m_p->CreateBrowse(n, attr, op, v, pp, pe);
                if (SUCCEEDED(hr) && pp && *pp) {
                    IOPCHDA_Browser* real = *pp;
                    *pp = new CTracingBrowser(real, m_t);
                    real->Release();
                }
                return hr;
            },
            Nothing);
    }

    // IOPCHDA_SyncRead
    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, BOOL b, DWORD items,
                                      OPCHANDLE* ph, OPCHDA_ITEM** pv, HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncRead::ReadRaw",
            [&] {
                return TraceTime(s) + ", " + TraceTime(e) + ", n=" + std::to_string(n) +
                       ", bounds=" + std::to_string(b) + ", items=" + List(items, ph);
            },
            [&] { return m_read->ReadRaw(s, e, n, b, items, ph, pv, pe); },
            [&](HRESULT hr) { return Values(hr, items, pv); });
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME* s, OPCHDA_TIME* e, FILETIME iv, DWORD items,
                                            OPCHANDLE* ph, DWORD* agg, OPCHDA_ITEM** pv,
                                            HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncRead::ReadProcessed",
            [&] {
                return TraceTime(s) + ", " + TraceTime(e) +
                       ", interval=" + std::to_string(FileTimeToU64(iv)) + ", items=" + List(items, ph) +
                       ", aggregates=" + List(items, agg);
            },
            [&] { return m_read->ReadProcessed(s, e, iv, items, ph, agg, pv, pe); },
            [&](HRESULT hr) { return Values(hr, items, pv); });
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD nt, FILETIME* ft, DWORD items, OPCHANDLE* ph, OPCHDA_ITEM** pv,
                                         HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncRead::ReadAtTime", [&] { return Times(nt, ft) + ", items=" + List(items, ph); },
            [&] { return m_read->ReadAtTime(nt, ft, items, ph, pv, pe); },
            [&](HRESULT hr) { return Values(hr, items, pv); });
    }
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, DWORD items,
                                           OPCHANDLE* ph, OPCHDA_MODIFIEDITEM** pv, HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncRead::ReadModified",
            [&] {
                return TraceTime(s) + ", " + TraceTime(e) + ", n=" + std::to_string(n) +
                       ", items=" + List(items, ph);
            },
            [&] { return m_read->ReadModified(s, e, n, items, ph, pv, pe); },
            [&](HRESULT hr) {
                if (FAILED(hr) || !pv || !*pv) return Outcome{};
                unsigned long long total = 0;
                for (DWORD i = 0; i < items; ++i) total += (*pv)[i].dwCount;
                return Outcome{std::to_string(total) + " values", total};
            });
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME* s, OPCHDA_TIME* e, OPCHANDLE h, DWORD n, DWORD* ids,
                                            OPCHDA_ATTRIBUTE** pv, HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncRead::ReadAttribute",
            [&] {
                return TraceTime(s) + ", " + TraceTime(e) + ", item=" + std::to_string(h) +
                       ", attributes=" + List(n, ids);
            },
            [&] { return m_read->ReadAttribute(s, e, h, n, ids, pv, pe); }, Nothing);
    }

    // IOPCHDA_SyncUpdate
    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES* p) override {
        return m_t(
            "IOPCHDA_SyncUpdate::QueryCapabilities", [] { return std::string(); },
            [&] { return m_update->QueryCapabilities(p); }, Nothing);
    }
    HRESULT STDMETHODCALLTYPE Insert(DWORD n, OPCHANDLE* ph, FILETIME* ft, VARIANT* v, DWORD* q,
                                     HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncUpdate::Insert", [&] { return Update(n, ph, ft); },
            [&] { return m_update->Insert(n, ph, ft, v, q, pe); }, Entries(n));
    }
    HRESULT STDMETHODCALLTYPE Replace(DWORD n, OPCHANDLE* ph, FILETIME* ft, VARIANT* v, DWORD* q,
                                      HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncUpdate::Replace", [&] { return Update(n, ph, ft); },
            [&] { return m_update->Replace(n, ph, ft, v, q, pe); }, Entries(n));
    }
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD n, OPCHANDLE* ph, FILETIME* ft, VARIANT* v, DWORD* q,
                                            HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncUpdate::InsertReplace", [&] { return Update(n, ph, ft); },
            [&] { return m_update->InsertReplace(n, ph, ft, v, q, pe); }, Entries(n));
    }
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, OPCHANDLE* ph,
                                        HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncUpdate::DeleteRaw",
            [&] { return TraceTime(s) + ", " + TraceTime(e) + ", items=" + List(n, ph); },
            [&] { return m_update->DeleteRaw(s, e, n, ph, pe); }, Nothing);
    }
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD n, OPCHANDLE* ph, FILETIME* ft, HRESULT** pe) override {
        return m_t(
            "IOPCHDA_SyncUpdate::DeleteAtTime", [&] { return Update(n, ph, ft); },
            [&] { return m_update->DeleteAtTime(n, ph, ft, pe); }, Entries(n));
    }

private:
    ~CTracingServer() override { m_p->Release(); }

    static Outcome Count(HRESULT hr, const DWORD* p) {
        return SUCCEEDED(hr) && p ? Outcome{std::to_string(*p) + " entries", *p} : Outcome{};
    }
    static std::string Update(DWORD n, const OPCHANDLE* ph, const FILETIME* ft) {
        return "entries=" + List(n, ph) + ", times=" + Times(n, ft);
    }

    IOPCHDA_Server* m_p;
    Tracer m_t;
    com::ComPtr<IOPCHDA_SyncRead> m_read;
    com::ComPtr<IOPCHDA_SyncUpdate> m_update;
};

// ASCII case folded, so that a filter finds "readraw" in "ReadRaw" without a locale.
char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Holds(std::string_view text, std::string_view folded) {
    return std::search(text.begin(), text.end(), folded.begin(), folded.end(),
                       [](char a, char b) { return Fold(a) == b; }) != text.end();
}

std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = Fold(c);
    return folded;
}

bool MatchesFolded(const CallRecord& call, std::string_view folded) {
    return folded.empty() || Holds(call.server, folded) || Holds(call.method, folded) ||
           Holds(call.arguments, folded) || Holds(call.outcome, folded) || Holds(CallCode(call.hr), folded) ||
           Holds(CallCodeText(call.hr), folded);
}

}  // namespace

std::string CallRecord::Text() const {
    std::string s = method + "(" + arguments + ")";
    if (!outcome.empty()) s += " -> " + outcome;
    return s;
}

IOPCHDA_Server* NewTracingServer(IOPCHDA_Server* pServer, std::shared_ptr<const CallTrace> trace,
                                 std::string server) {
    return new CTracingServer(pServer, Tracer(std::move(trace), std::move(server)));
}

std::string ConnectionLabel(std::u16string_view computer, std::u16string_view progId) {
    return computer.empty() ? com::Utf16ToUtf8(progId)
                            : com::Utf16ToUtf8(computer) + " " + com::Utf16ToUtf8(progId);
}

void TraceConnection(CHDAServer& connection, std::shared_ptr<const CallTrace> trace, bool bReacquire) {
    if (!connection.m_pServer) return;
    IOPCHDA_Server* tracing =
        NewTracingServer(connection.m_pServer, std::move(trace),
                         ConnectionLabel(connection.m_strComputer, connection.m_strProgId));
    const bool bRead = connection.m_pSyncRead, bUpdate = connection.m_pSyncUpdate,
               bAsync = connection.m_pAsyncRead;
    for (IUnknown** pp : {reinterpret_cast<IUnknown**>(&connection.m_pSyncRead),
                          reinterpret_cast<IUnknown**>(&connection.m_pSyncUpdate),
                          reinterpret_cast<IUnknown**>(&connection.m_pAsyncRead)})
        if (*pp) (*pp)->Release(), *pp = nullptr;
    connection.m_pServer->Release();
    connection.m_pServer = tracing;
    if (!bReacquire) return;
    // The server gave them a moment ago: asked again they come without a message.
    if (bAsync) connection.EnsureAsyncRead();
    if (bRead) connection.EnsureSyncRead();
    if (bUpdate) connection.EnsureSyncUpdate();
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

// ---- CallLog ----

CallLog::CallLog(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {}

void CallLog::Record(const CallRecord& call) {
    std::lock_guard lock(m_mutex);
    ++m_total;
    if (m_ring.size() < m_capacity) {
        m_ring.push_back(call);
        return;
    }
    m_ring[m_next] = call;
    m_next = (m_next + 1) % m_capacity;
}

std::size_t CallLog::Size() const {
    std::lock_guard lock(m_mutex);
    return m_ring.size();
}

unsigned long long CallLog::Total() const {
    std::lock_guard lock(m_mutex);
    return m_total;
}

void CallLog::Clear() {
    std::lock_guard lock(m_mutex);
    m_ring.clear();
    m_next = 0;
    m_total = 0;
}

std::vector<CallRecord> CallLog::Snapshot(std::string_view filter) const {
    const std::string folded = Folded(filter);
    std::lock_guard lock(m_mutex);
    std::vector<CallRecord> out;
    out.reserve(filter.empty() ? m_ring.size() : 0);
    // m_next is the oldest once the ring is full, 0 before.
    for (std::size_t i = 0; i < m_ring.size(); ++i) {
        const CallRecord& call = m_ring[(m_next + i) % m_ring.size()];
        if (MatchesFolded(call, folded)) out.push_back(call);
    }
    return out;
}

std::string CallCode(HRESULT hr) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(hr));
    return b;
}

std::string CallCodeText(HRESULT hr) {
    return com::Utf16ToUtf8(FormatResultCode(hr));
}

bool Matches(const CallRecord& call, std::string_view filter) {
    return MatchesFolded(call, Folded(filter));
}

void WriteCallsCsv(std::ostream& out, const std::vector<CallRecord>& calls) {
    std::string line = "Time,Server,Method,Arguments,Outcome,Result,Result text,Values,Microseconds\r\n";
    out << line;
    for (const CallRecord& call : calls) {
        line.clear();
        const std::string fields[] = {TraceUtc(FileTimeToU64(call.ftStart)),
                                      call.server,
                                      call.method,
                                      call.arguments,
                                      call.outcome,
                                      CallCode(call.hr),
                                      CallCodeText(call.hr),
                                      call.values ? std::to_string(*call.values) : std::string(),
                                      std::to_string(call.micros)};
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            if (i) line += ',';
            AppendCsvField(line, fields[i]);
        }
        line += "\r\n";
        out << line;
    }
}

}  // namespace client

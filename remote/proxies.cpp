// The client's proxies: each implements one COM interface over the capability of the object on the
// host. [out] arguments must not be NULL (the marshaller needs somewhere to put them): E_POINTER.
#include <cstring>
#include <deque>

#include "remote/internal.h"

namespace vistrel::remote {

namespace {

// Copies a list into a new task-memory array; an absent list gives nullptr.
template <class T, class L>
bool CopyList(bool has, L list, T** out) {
    *out = nullptr;
    if (!has) return true;
    *out = static_cast<T*>(CoTaskMemAlloc(list.size() * sizeof(T) + (list.size() == 0 ? 1 : 0)));
    if (*out == nullptr) return false;
    for (std::size_t i = 0; i < list.size(); ++i) (*out)[i] = static_cast<T>(list[i]);
    return true;
}

void FreeStringArray(LPWSTR* s) {
    if (s == nullptr) return;
    std::size_t n = com::TaskMemCount(s);
    for (std::size_t i = 0; i < n; ++i) CoTaskMemFree(s[i]);
    CoTaskMemFree(s);
}

bool CopyStrings(bool has, wire::Strings::Reader r, LPWSTR** out) {
    *out = nullptr;
    if (!has) return true;
    std::size_t n = r.getText().size();
    auto* a = static_cast<LPWSTR*>(CoTaskMemAlloc(n * sizeof(LPWSTR)));
    if (a == nullptr) return false;
    std::memset(a, 0, n * sizeof(LPWSTR));
    for (std::size_t i = 0; i < n; ++i) {
        bool ok = true;
        a[i] = GetString(r, i, &ok);
        if (!ok) {
            FreeStringArray(a);
            return false;
        }
    }
    *out = a;
    return true;
}

// A string the host returned: NULL stays NULL.
bool CopyString(bool has, capnp::Data::Reader d, LPWSTR* out) {
    *out = nullptr;
    if (!has) return true;
    *out = TaskStringFrom(d);
    return *out != nullptr;
}

template <class B>
void SetU32s(B init, const DWORD* p, DWORD n) {
    auto l = init(n);
    for (DWORD i = 0; i < n; ++i) l.set(i, p[i]);
}

template <class B>
void SetTimes(B init, const FILETIME* p, DWORD n) {
    auto l = init(n);
    for (DWORD i = 0; i < n; ++i) l.set(i, FileTimeToU64(p[i]));
}

HRESULT RemoteQueryInterface(const std::shared_ptr<Connection>& conn, CapId id, REFIID riid, void** ppv);

using PageResponse = capnp::Response<wire::Pager::NextResults>;

// The pages of a record array asked for ahead: the host makes and sends the next ones while this side
// takes one in, so neither waits for the other between pages.
constexpr int kPagesAhead = 4;

struct PageReader {
    PageReader(wire::Pager::Client p, SeriesBuilder& b) : pager(kj::mv(p)), builder(b) {}
    wire::Pager::Client pager;
    SeriesBuilder& builder;
    std::deque<kj::Promise<PageResponse>> ahead;
};

kj::Promise<HRESULT> NextPage(kj::Own<PageReader> reader) {
    auto front = kj::mv(reader->ahead.front());
    reader->ahead.pop_front();
    return front.then([reader = kj::mv(reader)](PageResponse&& r) mutable -> kj::Promise<HRESULT> {
        const bool done = r.getDone();
        if (done)
            reader->ahead.clear();  // what was asked past the end is not wanted
        else
            reader->ahead.push_back(reader->pager.nextRequest().send());
        if (HRESULT hr = reader->builder.Add(r.getChunks()); FAILED(hr)) return hr;
        if (done) return HRESULT(S_OK);
        return NextPage(kj::mv(reader));
    });
}

// Takes a record array in: the chunks of the answer, then the pages that did not fit in it.
kj::Promise<HRESULT> TakeIn(wire::Pager::Client pager, bool more, capnp::List<wire::Chunk>::Reader chunks,
                            SeriesBuilder& builder) {
    kj::Own<PageReader> reader;
    if (more) {
        reader = kj::heap<PageReader>(kj::mv(pager), builder);
        for (int k = 0; k < kPagesAhead; ++k) reader->ahead.push_back(reader->pager.nextRequest().send());
    }
    if (HRESULT hr = builder.Add(chunks); FAILED(hr)) return hr;
    if (!more) return HRESULT(S_OK);
    return NextPage(kj::mv(reader));
}

template <class I>
class Proxy : public I {
public:
    Proxy(std::shared_ptr<Connection> conn, CapId id) : m_conn(std::move(conn)), m_id(id) {}
    virtual ~Proxy() { m_conn->Drop(m_id); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == uuidof<I>()) {
            AddRef();
            *ppv = static_cast<I*>(this);
            return S_OK;
        }
        return RemoteQueryInterface(m_conn, m_id, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --m_ref;
        if (n == 0) delete this;
        return n;
    }

protected:
    // Runs `f(wireClient)` on the connection's loop; a value that cannot cross answers its code.
    template <class W, class F>
    HRESULT Call(F&& f) {
        return m_conn->Call(m_id, [&](wire::Unknown::Client& c) -> kj::Promise<HRESULT> {
            try {
                return f(c.castAs<W>());
            } catch (const MarshalError& e) {
                return e.hr;
            }
        });
    }
    // A new proxy for an object the host returned.
    IUnknown* Wrap(wire::Unknown::Client cap, REFIID iid) {
        return MakeProxy(m_conn, m_conn->Adopt(kj::mv(cap)), iid);
    }

    template <class Build>
    HRESULT ReadSeries(SeriesKind kind, Build build, OPCHDA_TIME* s, OPCHDA_TIME* e, void** ppRecords,
                       HRESULT** ppErrors) {
        SeriesBuilder builder(kind);
        HRESULT* errors = nullptr;
        HRESULT callHr = S_OK;
        HRESULT hr = Call<wire::HdaSyncRead>([&](wire::HdaSyncRead::Client c) -> kj::Promise<HRESULT> {
            auto req = build(c);
            return req.send().then([&](auto&& r) -> kj::Promise<HRESULT> {
                callHr = r.getHr();
                if constexpr (requires { r.getStart(); }) {
                    if (s && r.hasStart()) GetTimeBack(r.getStart(), s);
                    if (e && r.hasEnd()) GetTimeBack(r.getEnd(), e);
                }
                if (!CopyList(r.hasErrors(), r.getErrors(), &errors)) return HRESULT(E_OUTOFMEMORY);
                if (!builder.Begin(r.getResult())) return HRESULT(E_OUTOFMEMORY);
                return TakeIn(r.getMore(), r.getPaged(), r.getResult().getChunks(), builder);
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            return hr;
        }
        *ppRecords = builder.Release();
        *ppErrors = errors;
        return callHr;
    }

    std::shared_ptr<Connection> m_conn;
    CapId m_id;
    std::atomic<ULONG> m_ref{1};
};

class UnknownProxy final : public Proxy<IUnknown> {
public:
    using Proxy::Proxy;
};

// The client holds this interface but never calls it; its calls would need callbacks to the client.
class AsyncReadProxy final : public Proxy<IOPCHDA_AsyncRead> {
public:
    using Proxy::Proxy;
    HRESULT STDMETHODCALLTYPE ReadRaw(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*,
                                      DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdviseRaw(DWORD, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*,
                                        HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*,
                                            DWORD*, DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdviseProcessed(DWORD, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*, DWORD,
                                              DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD, DWORD, FILETIME*, DWORD, OPCHANDLE*, DWORD*,
                                         HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadModified(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, DWORD, DWORD, OPCHANDLE*,
                                           DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*,
                                            DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel(DWORD) override { return E_NOTIMPL; }
};

class ServerProxy final : public Proxy<IOPCHDA_Server> {
public:
    using Proxy::Proxy;

    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** ppdwAttrID, LPWSTR** ppszAttrName,
                                                LPWSTR** ppszAttrDesc, VARTYPE** ppvtAttrDataType) override {
        if (!pdwCount || !ppdwAttrID || !ppszAttrName || !ppszAttrDesc || !ppvtAttrDataType) return E_POINTER;
        *pdwCount = 0;
        *ppdwAttrID = nullptr;
        *ppszAttrName = *ppszAttrDesc = nullptr;
        *ppvtAttrDataType = nullptr;
        HRESULT callHr = S_OK;
        DWORD count = 0;
        DWORD* ids = nullptr;
        LPWSTR *names = nullptr, *descs = nullptr;
        VARTYPE* types = nullptr;
        HRESULT hr = Call<wire::HdaServer>([&](wire::HdaServer::Client c) {
            return c.getItemAttributesRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                count = r.getCount();
                if (!CopyList(r.hasIds(), r.getIds(), &ids) ||
                    !CopyStrings(r.hasNames(), r.getNames(), &names) ||
                    !CopyStrings(r.hasDescs(), r.getDescs(), &descs) ||
                    !CopyList(r.hasTypes(), r.getTypes(), &types))
                    return E_OUTOFMEMORY;
                return S_OK;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(ids);
            FreeStringArray(names);
            FreeStringArray(descs);
            CoTaskMemFree(types);
            return hr;
        }
        *pdwCount = count;
        *ppdwAttrID = ids;
        *ppszAttrName = names;
        *ppszAttrDesc = descs;
        *ppvtAttrDataType = types;
        return callHr;
    }

    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** ppdwAggrID, LPWSTR** ppszAggrName,
                                            LPWSTR** ppszAggrDesc) override {
        if (!pdwCount || !ppdwAggrID || !ppszAggrName || !ppszAggrDesc) return E_POINTER;
        *pdwCount = 0;
        *ppdwAggrID = nullptr;
        *ppszAggrName = *ppszAggrDesc = nullptr;
        HRESULT callHr = S_OK;
        DWORD count = 0;
        DWORD* ids = nullptr;
        LPWSTR *names = nullptr, *descs = nullptr;
        HRESULT hr = Call<wire::HdaServer>([&](wire::HdaServer::Client c) {
            return c.getAggregatesRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                count = r.getCount();
                if (!CopyList(r.hasIds(), r.getIds(), &ids) ||
                    !CopyStrings(r.hasNames(), r.getNames(), &names) ||
                    !CopyStrings(r.hasDescs(), r.getDescs(), &descs))
                    return E_OUTOFMEMORY;
                return S_OK;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(ids);
            FreeStringArray(names);
            FreeStringArray(descs);
            return hr;
        }
        *pdwCount = count;
        *ppdwAggrID = ids;
        *ppszAggrName = names;
        *ppszAggrDesc = descs;
        return callHr;
    }

    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS* pwStatus, FILETIME** pftCurrentTime,
                                                 FILETIME** pftStartTime, WORD* pwMajorVersion,
                                                 WORD* pwMinorVersion, WORD* pwBuildNumber,
                                                 DWORD* pdwMaxReturnValues, LPWSTR* ppszStatusString,
                                                 LPWSTR* ppszVendorInfo) override {
        if (!pwStatus || !pftCurrentTime || !pftStartTime || !pwMajorVersion || !pwMinorVersion ||
            !pwBuildNumber || !pdwMaxReturnValues || !ppszStatusString || !ppszVendorInfo)
            return E_POINTER;
        *pftCurrentTime = *pftStartTime = nullptr;
        *ppszStatusString = *ppszVendorInfo = nullptr;
        HRESULT callHr = S_OK;
        FILETIME *now = nullptr, *start = nullptr;
        LPWSTR status = nullptr, vendor = nullptr;
        HRESULT hr = Call<wire::HdaServer>([&](wire::HdaServer::Client c) {
            return c.getHistorianStatusRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                *pwStatus = static_cast<OPCHDA_SERVERSTATUS>(r.getStatus());
                *pwMajorVersion = r.getMajor();
                *pwMinorVersion = r.getMinor();
                *pwBuildNumber = r.getBuild();
                *pdwMaxReturnValues = r.getMaxReturnValues();
                auto times = [](bool has, capnp::List<std::uint64_t>::Reader l, FILETIME** out) {
                    *out = nullptr;
                    if (!has) return true;
                    *out = static_cast<FILETIME*>(CoTaskMemAlloc(l.size() * sizeof(FILETIME)));
                    if (*out == nullptr) return false;
                    for (std::size_t i = 0; i < l.size(); ++i) (*out)[i] = U64ToFileTime(l[i]);
                    return true;
                };
                if (!times(r.hasCurrentTime(), r.getCurrentTime(), &now) ||
                    !times(r.hasStartTime(), r.getStartTime(), &start) ||
                    !CopyString(r.hasStatusString(), r.getStatusString(), &status) ||
                    !CopyString(r.hasVendorInfo(), r.getVendorInfo(), &vendor))
                    return E_OUTOFMEMORY;
                return S_OK;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(now);
            CoTaskMemFree(start);
            CoTaskMemFree(status);
            CoTaskMemFree(vendor);
            return hr;
        }
        *pftCurrentTime = now;
        *pftStartTime = start;
        *ppszStatusString = status;
        *ppszVendorInfo = vendor;
        return callHr;
    }

    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD dwCount, LPWSTR* pszItemID, OPCHANDLE* phClient,
                                             OPCHANDLE** pphServer, HRESULT** ppErrors) override {
        if (!pphServer || !ppErrors) return E_POINTER;
        *pphServer = nullptr;
        *ppErrors = nullptr;
        HRESULT callHr = S_OK;
        OPCHANDLE* handles = nullptr;
        HRESULT* errors = nullptr;
        HRESULT hr = Call<wire::HdaServer>([&](wire::HdaServer::Client c) {
            auto req = c.getItemHandlesRequest();
            req.setCount(dwCount);
            if (pszItemID) SetStrings(req.initItemIds(), pszItemID, dwCount);
            if (phClient) SetU32s([&](unsigned n) { return req.initClientHandles(n); }, phClient, dwCount);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                if (!CopyList(r.hasServerHandles(), r.getServerHandles(), &handles) ||
                    !CopyList(r.hasErrors(), r.getErrors(), &errors))
                    return E_OUTOFMEMORY;
                return S_OK;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(handles);
            CoTaskMemFree(errors);
            return hr;
        }
        *pphServer = handles;
        *ppErrors = errors;
        return callHr;
    }

    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                 HRESULT** ppErrors) override {
        if (!ppErrors) return E_POINTER;
        *ppErrors = nullptr;
        HRESULT callHr = S_OK;
        HRESULT* errors = nullptr;
        HRESULT hr = Call<wire::HdaServer>([&](wire::HdaServer::Client c) {
            auto req = c.releaseItemHandlesRequest();
            req.setCount(dwCount);
            if (phServer) SetU32s([&](unsigned n) { return req.initServerHandles(n); }, phServer, dwCount);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return CopyList(r.hasErrors(), r.getErrors(), &errors) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            return hr;
        }
        *ppErrors = errors;
        return callHr;
    }

    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD dwCount, LPWSTR* pszItemID, HRESULT** ppErrors) override {
        if (!ppErrors) return E_POINTER;
        *ppErrors = nullptr;
        HRESULT callHr = S_OK;
        HRESULT* errors = nullptr;
        HRESULT hr = Call<wire::HdaServer>([&](wire::HdaServer::Client c) {
            auto req = c.validateItemIdsRequest();
            req.setCount(dwCount);
            if (pszItemID) SetStrings(req.initItemIds(), pszItemID, dwCount);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return CopyList(r.hasErrors(), r.getErrors(), &errors) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            return hr;
        }
        *ppErrors = errors;
        return callHr;
    }

    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD dwCount, DWORD* pdwAttrID, OPCHDA_OPERATORCODES* pOperator,
                                           VARIANT* vFilter, IOPCHDA_Browser** pphBrowser,
                                           HRESULT** ppErrors) override {
        if (!pphBrowser || !ppErrors) return E_POINTER;
        *pphBrowser = nullptr;
        *ppErrors = nullptr;
        HRESULT callHr = S_OK;
        HRESULT* errors = nullptr;
        IUnknown* browser = nullptr;
        HRESULT hr = Call<wire::HdaServer>([&](wire::HdaServer::Client c) {
            auto req = c.createBrowseRequest();
            req.setCount(dwCount);
            if (pdwAttrID) SetU32s([&](unsigned n) { return req.initAttrIds(n); }, pdwAttrID, dwCount);
            if (pOperator)
                SetU32s([&](unsigned n) { return req.initOperators(n); },
                        reinterpret_cast<const DWORD*>(pOperator), dwCount);
            if (vFilter) SetValues(req.initFilters(), vFilter, dwCount);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                if (!CopyList(r.hasErrors(), r.getErrors(), &errors)) return E_OUTOFMEMORY;
                if (r.hasBrowser()) browser = Wrap(r.getBrowser(), IID_IOPCHDA_Browser);
                return S_OK;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            if (browser) browser->Release();
            return hr;
        }
        *pphBrowser = static_cast<IOPCHDA_Browser*>(static_cast<void*>(browser));
        *ppErrors = errors;
        return callHr;
    }
};

class BrowserProxy final : public Proxy<IOPCHDA_Browser> {
public:
    using Proxy::Proxy;
    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE dwBrowseType, IEnumString** ppIEnumString) override {
        if (!ppIEnumString) return E_POINTER;
        *ppIEnumString = nullptr;
        HRESULT callHr = S_OK;
        IUnknown* e = nullptr;
        HRESULT hr = Call<wire::HdaBrowser>([&](wire::HdaBrowser::Client c) {
            auto req = c.getEnumRequest();
            req.setBrowseType(dwBrowseType);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                if (r.hasEnum()) e = Wrap(r.getEnum(), IID_IEnumString);
                return S_OK;
            });
        });
        if (FAILED(hr)) return hr;
        *ppIEnumString = static_cast<IEnumString*>(static_cast<void*>(e));
        return callHr;
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) override {
        HRESULT callHr = S_OK;
        HRESULT hr = Call<wire::HdaBrowser>([&](wire::HdaBrowser::Client c) {
            auto req = c.changeBrowsePositionRequest();
            req.setDirection(dwBrowseDirection);
            if (szString) req.setName(StrBytes(szString));
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR szNode, LPWSTR* pszItemID) override {
        if (!pszItemID) return E_POINTER;
        *pszItemID = nullptr;
        HRESULT callHr = S_OK;
        LPWSTR id = nullptr;
        HRESULT hr = Call<wire::HdaBrowser>([&](wire::HdaBrowser::Client c) {
            auto req = c.getItemIdRequest();
            if (szNode) req.setNode(StrBytes(szNode));
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return CopyString(r.hasItemId(), r.getItemId(), &id) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) return hr;
        *pszItemID = id;
        return callHr;
    }
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR* pszBranchPos) override {
        if (!pszBranchPos) return E_POINTER;
        *pszBranchPos = nullptr;
        HRESULT callHr = S_OK;
        LPWSTR pos = nullptr;
        HRESULT hr = Call<wire::HdaBrowser>([&](wire::HdaBrowser::Client c) {
            return c.getBranchPositionRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return CopyString(r.hasPosition(), r.getPosition(), &pos) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) return hr;
        *pszBranchPos = pos;
        return callHr;
    }
};

class SyncReadProxy final : public Proxy<IOPCHDA_SyncRead> {
public:
    using Proxy::Proxy;

    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumValues,
                                      BOOL bBounds, DWORD dwNumItems, OPCHANDLE* phServer,
                                      OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) override {
        if (!ppItemValues || !ppErrors) return E_POINTER;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        return ReadSeries(
            SeriesKind::Item,
            [&](wire::HdaSyncRead::Client& c) {
                auto req = c.readRawRequest();
                if (htStartTime) SetTime(req.initStart(), *htStartTime);
                if (htEndTime) SetTime(req.initEnd(), *htEndTime);
                req.setNumValues(dwNumValues);
                req.setBounds(bBounds);
                req.setCount(dwNumItems);
                if (phServer) SetU32s([&](unsigned n) { return req.initHandles(n); }, phServer, dwNumItems);
                return req;
            },
            htStartTime, htEndTime, reinterpret_cast<void**>(ppItemValues), ppErrors);
    }

    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                            FILETIME ftResampleInterval, DWORD dwNumItems,
                                            OPCHANDLE* phServer, DWORD* haAggregate,
                                            OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) override {
        if (!ppItemValues || !ppErrors) return E_POINTER;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        return ReadSeries(
            SeriesKind::Item,
            [&](wire::HdaSyncRead::Client& c) {
                auto req = c.readProcessedRequest();
                if (htStartTime) SetTime(req.initStart(), *htStartTime);
                if (htEndTime) SetTime(req.initEnd(), *htEndTime);
                req.setInterval(FileTimeToU64(ftResampleInterval));
                req.setCount(dwNumItems);
                if (phServer) SetU32s([&](unsigned n) { return req.initHandles(n); }, phServer, dwNumItems);
                if (haAggregate)
                    SetU32s([&](unsigned n) { return req.initAggregates(n); }, haAggregate, dwNumItems);
                return req;
            },
            htStartTime, htEndTime, reinterpret_cast<void**>(ppItemValues), ppErrors);
    }

    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwNumTimeStamps, FILETIME* ftTimeStamps, DWORD dwNumItems,
                                         OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues,
                                         HRESULT** ppErrors) override {
        if (!ppItemValues || !ppErrors) return E_POINTER;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        return ReadSeries(
            SeriesKind::Item,
            [&](wire::HdaSyncRead::Client& c) {
                auto req = c.readAtTimeRequest();
                req.setNumTimes(dwNumTimeStamps);
                if (ftTimeStamps)
                    SetTimes([&](unsigned n) { return req.initTimes(n); }, ftTimeStamps, dwNumTimeStamps);
                req.setCount(dwNumItems);
                if (phServer) SetU32s([&](unsigned n) { return req.initHandles(n); }, phServer, dwNumItems);
                return req;
            },
            nullptr, nullptr, reinterpret_cast<void**>(ppItemValues), ppErrors);
    }

    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                           DWORD dwNumValues, DWORD dwNumItems, OPCHANDLE* phServer,
                                           OPCHDA_MODIFIEDITEM** ppItemValues, HRESULT** ppErrors) override {
        if (!ppItemValues || !ppErrors) return E_POINTER;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        return ReadSeries(
            SeriesKind::Modified,
            [&](wire::HdaSyncRead::Client& c) {
                auto req = c.readModifiedRequest();
                if (htStartTime) SetTime(req.initStart(), *htStartTime);
                if (htEndTime) SetTime(req.initEnd(), *htEndTime);
                req.setNumValues(dwNumValues);
                req.setCount(dwNumItems);
                if (phServer) SetU32s([&](unsigned n) { return req.initHandles(n); }, phServer, dwNumItems);
                return req;
            },
            htStartTime, htEndTime, reinterpret_cast<void**>(ppItemValues), ppErrors);
    }

    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                            OPCHANDLE hServer, DWORD dwNumAttributes, DWORD* pdwAttributeIDs,
                                            OPCHDA_ATTRIBUTE** ppAttributeValues,
                                            HRESULT** ppErrors) override {
        if (!ppAttributeValues || !ppErrors) return E_POINTER;
        *ppAttributeValues = nullptr;
        *ppErrors = nullptr;
        return ReadSeries(
            SeriesKind::Attribute,
            [&](wire::HdaSyncRead::Client& c) {
                auto req = c.readAttributeRequest();
                if (htStartTime) SetTime(req.initStart(), *htStartTime);
                if (htEndTime) SetTime(req.initEnd(), *htEndTime);
                req.setHandle(hServer);
                req.setCount(dwNumAttributes);
                if (pdwAttributeIDs)
                    SetU32s([&](unsigned n) { return req.initAttrIds(n); }, pdwAttributeIDs, dwNumAttributes);
                return req;
            },
            htStartTime, htEndTime, reinterpret_cast<void**>(ppAttributeValues), ppErrors);
    }
};

class SyncUpdateProxy final : public Proxy<IOPCHDA_SyncUpdate> {
public:
    using Proxy::Proxy;

    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES* pCapabilities) override {
        if (!pCapabilities) return E_POINTER;
        HRESULT callHr = S_OK;
        HRESULT hr = Call<wire::HdaSyncUpdate>([&](wire::HdaSyncUpdate::Client c) {
            return c.queryCapabilitiesRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                *pCapabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(r.getCapabilities());
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }
    HRESULT STDMETHODCALLTYPE Insert(DWORD n, OPCHANDLE* h, FILETIME* t, VARIANT* v, DWORD* q,
                                     HRESULT** ppErrors) override {
        return Write(1, n, h, t, v, q, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE Replace(DWORD n, OPCHANDLE* h, FILETIME* t, VARIANT* v, DWORD* q,
                                      HRESULT** ppErrors) override {
        return Write(2, n, h, t, v, q, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD n, OPCHANDLE* h, FILETIME* t, VARIANT* v, DWORD* q,
                                            HRESULT** ppErrors) override {
        return Write(3, n, h, t, v, q, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumItems,
                                        OPCHANDLE* phServer, HRESULT** ppErrors) override {
        if (!ppErrors) return E_POINTER;
        *ppErrors = nullptr;
        HRESULT callHr = S_OK;
        HRESULT* errors = nullptr;
        HRESULT hr = Call<wire::HdaSyncUpdate>([&](wire::HdaSyncUpdate::Client c) {
            auto req = c.deleteRawRequest();
            if (htStartTime) SetTime(req.initStart(), *htStartTime);
            if (htEndTime) SetTime(req.initEnd(), *htEndTime);
            req.setCount(dwNumItems);
            if (phServer) SetU32s([&](unsigned n) { return req.initHandles(n); }, phServer, dwNumItems);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                if (htStartTime && r.hasStart()) GetTimeBack(r.getStart(), htStartTime);
                if (htEndTime && r.hasEnd()) GetTimeBack(r.getEnd(), htEndTime);
                return CopyList(r.hasErrors(), r.getErrors(), &errors) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            return hr;
        }
        *ppErrors = errors;
        return callHr;
    }
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                           HRESULT** ppErrors) override {
        if (!ppErrors) return E_POINTER;
        *ppErrors = nullptr;
        HRESULT callHr = S_OK;
        HRESULT* errors = nullptr;
        HRESULT hr = Call<wire::HdaSyncUpdate>([&](wire::HdaSyncUpdate::Client c) {
            auto req = c.deleteAtTimeRequest();
            req.setCount(dwNumItems);
            if (phServer) SetU32s([&](unsigned n) { return req.initHandles(n); }, phServer, dwNumItems);
            if (ftTimeStamps)
                SetTimes([&](unsigned n) { return req.initTimes(n); }, ftTimeStamps, dwNumItems);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return CopyList(r.hasErrors(), r.getErrors(), &errors) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            return hr;
        }
        *ppErrors = errors;
        return callHr;
    }

private:
    HRESULT Write(DWORD kind, DWORD n, OPCHANDLE* h, FILETIME* t, VARIANT* v, DWORD* q, HRESULT** ppErrors) {
        if (!ppErrors) return E_POINTER;
        *ppErrors = nullptr;
        HRESULT callHr = S_OK;
        HRESULT* errors = nullptr;
        HRESULT hr = Call<wire::HdaSyncUpdate>([&](wire::HdaSyncUpdate::Client c) {
            auto req = c.writeRequest();
            req.setKind(kind);
            req.setCount(n);
            if (h) SetU32s([&](unsigned k) { return req.initHandles(k); }, h, n);
            if (t) SetTimes([&](unsigned k) { return req.initTimes(k); }, t, n);
            if (v) SetValues(req.initValues(), v, n);
            if (q) SetU32s([&](unsigned k) { return req.initQualities(k); }, q, n);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return CopyList(r.hasErrors(), r.getErrors(), &errors) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(errors);
            return hr;
        }
        *ppErrors = errors;
        return callHr;
    }
};

class CommonProxy final : public Proxy<IOPCCommon> {
public:
    using Proxy::Proxy;
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override {
        HRESULT callHr = S_OK;
        HRESULT hr = Call<wire::OpcCommon>([&](wire::OpcCommon::Client c) {
            auto req = c.setLocaleIdRequest();
            req.setLcid(dwLcid);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override {
        if (!pdwLcid) return E_POINTER;
        HRESULT callHr = S_OK;
        HRESULT hr = Call<wire::OpcCommon>([&](wire::OpcCommon::Client c) {
            return c.getLocaleIdRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                *pdwLcid = r.getLcid();
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
        if (!pdwCount || !pdwLcid) return E_POINTER;
        *pdwCount = 0;
        *pdwLcid = nullptr;
        HRESULT callHr = S_OK;
        DWORD count = 0;
        LCID* ids = nullptr;
        HRESULT hr = Call<wire::OpcCommon>([&](wire::OpcCommon::Client c) {
            return c.queryAvailableLocaleIdsRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                count = r.getCount();
                return CopyList(r.hasLcids(), r.getLcids(), &ids) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) return hr;
        *pdwCount = count;
        *pdwLcid = ids;
        return callHr;
    }
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
        if (!ppString) return E_POINTER;
        *ppString = nullptr;
        HRESULT callHr = S_OK;
        LPWSTR text = nullptr;
        HRESULT hr = Call<wire::OpcCommon>([&](wire::OpcCommon::Client c) {
            auto req = c.getErrorStringRequest();
            req.setError(dwError);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return CopyString(r.hasText(), r.getText(), &text) ? S_OK : E_OUTOFMEMORY;
            });
        });
        if (FAILED(hr)) return hr;
        *ppString = text;
        return callHr;
    }
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override {
        HRESULT callHr = S_OK;
        HRESULT hr = Call<wire::OpcCommon>([&](wire::OpcCommon::Client c) {
            auto req = c.setClientNameRequest();
            if (szName) req.setName(StrBytes(szName));
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }
};

// An enumerator's proxy, whatever it enumerates: Skip, Reset and Clone, and the call of Next.
template <class I, class W>
class EnumProxy : public Proxy<I> {
public:
    using Proxy<I>::Proxy;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        return Answered([&](typename W::Client c) {
            auto req = c.skipRequest();
            req.setCelt(celt);
            return req.send();
        });
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        return Answered([](typename W::Client c) { return c.resetRequest().send(); });
    }
    HRESULT STDMETHODCALLTYPE Clone(I** ppenum) override {
        if (!ppenum) return E_POINTER;
        *ppenum = nullptr;
        HRESULT callHr = S_OK;
        IUnknown* e = nullptr;
        HRESULT hr = this->template Call<W>([&](typename W::Client c) {
            return c.cloneRequest().send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                if (r.hasEnum()) e = this->Wrap(r.getEnum(), uuidof<I>());
                return S_OK;
            });
        });
        if (FAILED(hr)) return hr;
        *ppenum = static_cast<I*>(static_cast<void*>(e));
        return callHr;
    }

protected:
    // Next for `celt` elements: `take(answer, celt, &n)` moves the first n of the answer into the
    // caller's array (E_OUTOFMEMORY when it cannot, leaving it empty).
    template <class T, class Take>
    HRESULT NextInto(ULONG celt, T* rgelt, ULONG* pceltFetched, Take take) {
        if (pceltFetched) *pceltFetched = 0;
        if (celt > 0 && rgelt == nullptr) return E_POINTER;
        HRESULT callHr = S_OK;
        HRESULT hr = this->template Call<W>([&](typename W::Client c) {
            auto req = c.nextRequest();
            req.setCelt(celt);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                ULONG n = 0;
                if (HRESULT taken = take(r, celt, &n); FAILED(taken)) return taken;
                if (pceltFetched) *pceltFetched = std::min<ULONG>(r.getFetched(), n);
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }

private:
    // A call whose answer is its result code alone.
    template <class Send>
    HRESULT Answered(Send send) {
        HRESULT callHr = S_OK;
        HRESULT hr = this->template Call<W>([&](typename W::Client c) {
            return send(c).then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }
};

class EnumStringProxy final : public EnumProxy<IEnumString, wire::EnumString> {
public:
    using EnumProxy::EnumProxy;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        return NextInto(celt, rgelt, pceltFetched, [&](auto&& r, ULONG most, ULONG* n) -> HRESULT {
            *n = std::min<ULONG>(most, ULONG(r.getStrings().getText().size()));
            for (ULONG i = 0; i < *n; ++i) {
                bool ok = true;
                rgelt[i] = GetString(r.getStrings(), i, &ok);
                if (!ok) {
                    for (ULONG k = 0; k < i; ++k) CoTaskMemFree(rgelt[k]), rgelt[k] = nullptr;
                    return E_OUTOFMEMORY;
                }
            }
            return S_OK;
        });
    }
};

class EnumGuidProxy final : public EnumProxy<IEnumGUID, wire::EnumGuid> {
public:
    using EnumProxy::EnumProxy;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) override {
        return NextInto(celt, rgelt, pceltFetched, [&](auto&& r, ULONG most, ULONG* n) -> HRESULT {
            *n = std::min<ULONG>(most, ULONG(r.getGuids().size()));
            for (ULONG i = 0; i < *n; ++i) rgelt[i] = GetGuid(r.getGuids()[i]);
            return S_OK;
        });
    }
};

class ServerListProxy final : public Proxy<IOPCServerList> {
public:
    using Proxy::Proxy;
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[],
                                                      ULONG cRequired, CATID rgcatidReq[],
                                                      IEnumGUID** ppenumClsid) override {
        if (!ppenumClsid) return E_POINTER;
        *ppenumClsid = nullptr;
        HRESULT callHr = S_OK;
        IUnknown* e = nullptr;
        HRESULT hr = Call<wire::ServerList>([&](wire::ServerList::Client c) {
            auto req = c.enumClassesOfCategoriesRequest();
            req.setImplemented(cImplemented);
            req.setRequired(cRequired);
            auto put = [](auto list, const CATID* p) {
                for (unsigned i = 0; i < list.size(); ++i) SetGuid(list[i], p[i]);
            };
            if (rgcatidImpl && cImplemented != 0xFFFFFFFFu) put(req.initImplList(cImplemented), rgcatidImpl);
            if (rgcatidReq && cRequired != 0xFFFFFFFFu) put(req.initReqList(cRequired), rgcatidReq);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                if (r.hasEnum()) e = Wrap(r.getEnum(), IID_IEnumGUID);
                return S_OK;
            });
        });
        if (FAILED(hr)) return hr;
        *ppenumClsid = static_cast<IEnumGUID*>(static_cast<void*>(e));
        return callHr;
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                              LPOLESTR* ppszUserType) override {
        if (!ppszProgID || !ppszUserType) return E_POINTER;
        *ppszProgID = *ppszUserType = nullptr;
        HRESULT callHr = S_OK;
        LPWSTR progId = nullptr, userType = nullptr;
        HRESULT hr = Call<wire::ServerList>([&](wire::ServerList::Client c) {
            auto req = c.getClassDetailsRequest();
            SetGuid(req.initClsid(), clsid);
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                if (!CopyString(r.hasProgId(), r.getProgId(), &progId) ||
                    !CopyString(r.hasUserType(), r.getUserType(), &userType))
                    return E_OUTOFMEMORY;
                return S_OK;
            });
        });
        if (FAILED(hr)) {
            CoTaskMemFree(progId);
            CoTaskMemFree(userType);
            return hr;
        }
        *ppszProgID = progId;
        *ppszUserType = userType;
        return callHr;
    }
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) override {
        if (!clsid) return E_POINTER;
        HRESULT callHr = S_OK;
        HRESULT hr = Call<wire::ServerList>([&](wire::ServerList::Client c) {
            auto req = c.clsidFromProgIdRequest();
            if (szProgId) req.setProgId(StrBytes(szProgId));
            return req.send().then([&](auto&& r) -> HRESULT {
                callHr = r.getHr();
                *clsid = GetGuid(r.getClsid());
                return S_OK;
            });
        });
        return FAILED(hr) ? hr : callHr;
    }
};

HRESULT RemoteQueryInterface(const std::shared_ptr<Connection>& conn, CapId id, REFIID riid, void** ppv) {
    CapId newId = 0;
    HRESULT qhr = S_OK;
    HRESULT hr = conn->Call(id, [&](wire::Unknown::Client& c) {
        auto req = c.queryInterfaceRequest();
        SetGuid(req.initIid(), riid);
        return req.send().then([&](auto&& r) -> HRESULT {
            qhr = r.getHr();
            if (SUCCEEDED(qhr)) newId = conn->Adopt(r.getObj());
            return S_OK;
        });
    });
    if (FAILED(hr)) return hr;
    if (FAILED(qhr)) return qhr;
    IUnknown* p = MakeProxy(conn, newId, riid);
    if (p == nullptr) return E_NOINTERFACE;
    *ppv = p;
    return qhr;
}

}  // namespace

IUnknown* MakeProxy(std::shared_ptr<Connection> conn, CapId id, REFIID iid) {
    auto as = [](auto* p) { return reinterpret_cast<IUnknown*>(static_cast<void*>(p)); };
    if (iid == IID_IUnknown) return new UnknownProxy(std::move(conn), id);
    if (iid == IID_IOPCHDA_Server)
        return as(static_cast<IOPCHDA_Server*>(new ServerProxy(std::move(conn), id)));
    if (iid == IID_IOPCHDA_Browser)
        return as(static_cast<IOPCHDA_Browser*>(new BrowserProxy(std::move(conn), id)));
    if (iid == IID_IOPCHDA_SyncRead)
        return as(static_cast<IOPCHDA_SyncRead*>(new SyncReadProxy(std::move(conn), id)));
    if (iid == IID_IOPCHDA_SyncUpdate)
        return as(static_cast<IOPCHDA_SyncUpdate*>(new SyncUpdateProxy(std::move(conn), id)));
    if (iid == IID_IOPCHDA_AsyncRead)
        return as(static_cast<IOPCHDA_AsyncRead*>(new AsyncReadProxy(std::move(conn), id)));
    if (iid == IID_IOPCCommon) return as(static_cast<IOPCCommon*>(new CommonProxy(std::move(conn), id)));
    if (iid == IID_IEnumString)
        return as(static_cast<IEnumString*>(new EnumStringProxy(std::move(conn), id)));
    if (iid == IID_IEnumGUID) return as(static_cast<IEnumGUID*>(new EnumGuidProxy(std::move(conn), id)));
    if (iid == IID_IOPCServerList)
        return as(static_cast<IOPCServerList*>(new ServerListProxy(std::move(conn), id)));
    conn->Drop(id);
    return nullptr;
}

HRESULT ActivateThrough(const std::shared_ptr<Connection>& conn, REFCLSID clsid, DWORD count,
                        MULTI_QI* results) {
    HRESULT callHr = S_OK;
    std::vector<std::pair<HRESULT, CapId>> got(count, {E_NOINTERFACE, 0});
    HRESULT hr = conn->CallHost([&](wire::Host::Client& host) {
        auto req = host.createInstanceRequest();
        SetGuid(req.initClsid(), clsid);
        auto iids = req.initIids(count);
        for (DWORD i = 0; i < count; ++i) SetGuid(iids[i], *results[i].pIID);
        return req.send().then([&](auto&& r) -> HRESULT {
            callHr = r.getHr();
            auto list = r.getResults();
            for (DWORD i = 0; i < count && i < list.size(); ++i) {
                got[i].first = list[i].getHr();
                if (SUCCEEDED(got[i].first)) got[i].second = conn->Adopt(list[i].getObj());
            }
            return S_OK;
        });
    });
    for (DWORD i = 0; i < count; ++i) {
        results[i].pItf = nullptr;
        results[i].hr = FAILED(hr) ? hr : got[i].first;
    }
    if (FAILED(hr)) return hr;
    DWORD obtained = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(got[i].first)) continue;
        IUnknown* p = MakeProxy(conn, got[i].second, *results[i].pIID);
        if (p == nullptr) {
            results[i].hr = E_NOINTERFACE;
            continue;
        }
        results[i].pItf = p;
        ++obtained;
    }
    if (FAILED(callHr)) return callHr;
    if (obtained == count) return S_OK;
    return obtained > 0 ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

}  // namespace vistrel::remote

// The host's stubs: each holds one reference to a real object and calls it for the client. What a
// client sends is checked before the object sees it: a list shorter than its count is E_INVALIDARG,
// so a hostile client cannot make a server read past an array.
#ifdef _WIN32
#include <openssl/rand.h>
#include <winsock2.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/text.h"
#include "remote/internal.h"

extern char** environ;

namespace vistrel::remote {

namespace {

// The inputs of one call, owned for its duration.
class Inputs {
public:
    ~Inputs() {
        for (VARIANT& v : m_values) VariantClear(&v);
    }
    template <class L>
    bool U32s(bool has, L list, DWORD count, DWORD** out) {
        *out = nullptr;
        if (!has) return true;
        if (list.size() < count) return false;
        auto& v = m_u32.emplace_back(std::max<std::size_t>(list.size(), 1));
        for (std::size_t i = 0; i < list.size(); ++i) v[i] = list[i];
        *out = v.data();
        return true;
    }
    bool Times(bool has, capnp::List<std::uint64_t>::Reader list, DWORD count, FILETIME** out) {
        *out = nullptr;
        if (!has) return true;
        if (list.size() < count) return false;
        auto& v = m_times.emplace_back(std::max<std::size_t>(list.size(), 1));
        for (std::size_t i = 0; i < list.size(); ++i) v[i] = U64ToFileTime(list[i]);
        *out = v.data();
        return true;
    }
    bool Strings(bool has, wire::Strings::Reader r, DWORD count, LPWSTR** out) {
        *out = nullptr;
        if (!has) return true;
        auto text = r.getText();
        if (text.size() < count) return false;
        auto& keep = m_strings.emplace_back();
        auto& ptrs = m_ptrs.emplace_back(std::max<std::size_t>(text.size(), 1), nullptr);
        keep.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) keep.push_back(U16From(text[i]));
        auto nulls = r.getIsNull();
        for (std::size_t i = 0; i < text.size(); ++i) {
            bool isNull = i < nulls.size() && nulls[i];
            ptrs[i] = isNull ? nullptr : keep[i].data();
        }
        *out = ptrs.data();
        return true;
    }
    bool Values(bool has, wire::Values::Reader r, DWORD count, VARIANT** out) {
        *out = nullptr;
        if (!has) return true;
        ValuesView view(r);
        const std::size_t n = view.size();
        if (n < count) return false;
        m_values.assign(std::max<std::size_t>(n, 1), VARIANT{});
        for (std::size_t i = 0; i < n; ++i)
            if (!view.Get(i, &m_values[i])) throw MarshalError{E_OUTOFMEMORY};
        *out = m_values.data();
        return true;
    }
    OPCHDA_TIME* Time(bool has, wire::HdaTime::Reader r, OPCHDA_TIME* t) {
        if (!has) return nullptr;
        GetTimeIn(r, t, &m_timeText.emplace_back());
        m_passed.push_back({t, t->szTime});
        return t;
    }
    // A time record the server rewrote: sends it back and frees a string the server put there.
    void TimeBack(OPCHDA_TIME* t, wire::HdaTime::Builder b) {
        SetTime(b, *t);
        for (auto& [rec, original] : m_passed)
            if (rec == t && t->szTime != original) {
                CoTaskMemFree(t->szTime);
                t->szTime = original;
            }
    }

private:
    std::vector<std::vector<DWORD>> m_u32;
    std::vector<std::vector<FILETIME>> m_times;
    std::vector<std::vector<com::WString>> m_strings;
    std::vector<std::vector<LPWSTR>> m_ptrs;
    std::vector<VARIANT> m_values;
    std::deque<com::WString> m_timeText;  // szTime points into these: they never move
    std::vector<std::pair<OPCHDA_TIME*, LPWSTR>> m_passed;
};

template <class T, class B>
void SendUList(const T* p, B init) {
    if (p == nullptr) return;
    std::size_t n = com::TaskMemCount(p);
    auto l = init(n);
    for (std::size_t i = 0; i < n; ++i) l.set(i, p[i]);
}

template <class B>
void SendStrings(LPWSTR* p, B init) {
    if (p == nullptr) return;
    std::size_t n = com::TaskMemCount(p);
    SetStrings(init(), p, n);
    for (std::size_t i = 0; i < n; ++i) CoTaskMemFree(p[i]);
}

template <class B>
void SendString(LPWSTR p, B set) {
    if (p == nullptr) return;
    set(StrBytes(p));
    CoTaskMemFree(p);
}

// Runs a stub method: a value that cannot cross, a server that throws, or input that does not hold
// together answers a code instead of the results.
template <class Ctx, class F>
kj::Promise<void> Serve(Ctx& ctx, F&& f) {
    try {
        HRESULT hr = f(ctx.getParams(), ctx.getResults());
        ctx.getResults().setHr(hr);
    } catch (const MarshalError& e) {
        ctx.initResults().setHr(e.hr);
    } catch (const kj::Exception&) {
        throw;
    } catch (...) {
        ctx.initResults().setHr(RPC_E_SERVERFAULT_HR);
    }
    return kj::READY_NOW;
}

class PagerImpl final : public wire::Pager::Server {
public:
    PagerImpl(std::shared_ptr<NativeSeries> series, std::size_t budget)
        : m_series(std::move(series)), m_budget(budget) {}
    kj::Promise<void> next(NextContext ctx) override {
        auto r = ctx.getResults();
        // A client may ask ahead, past the last page: that answers nothing more.
        if (m_done) {
            r.setDone(true);
            return kj::READY_NOW;
        }
        m_done = m_series->WriteChunks(m_budget, [&](std::size_t n) { return r.initChunks(n); });
        r.setDone(m_done);
        // The series is freed with the pager, when the client lets it go: not before the last page
        // is on its way.
        return kj::READY_NOW;
    }

private:
    std::shared_ptr<NativeSeries> m_series;
    std::size_t m_budget;
    bool m_done = false;
};

template <class W, class I>
class Stub : public W::Server {
public:
    Stub(std::shared_ptr<HostSession> session, I* p) : m_session(std::move(session)), m_p(p) {
        ++m_session->objects;
    }
    ~Stub() {
        m_p->Release();
        --m_session->objects;
    }

    kj::Promise<void> queryInterface(wire::Unknown::Server::QueryInterfaceContext ctx) override {
        GUID iid = GetGuid(ctx.getParams().getIid());
        auto r = ctx.getResults();
        if (m_session->objects.load() >= long(m_session->options.maxObjects)) {
            r.setHr(E_OUTOFMEMORY);
            return kj::READY_NOW;
        }
        void* q = nullptr;
        HRESULT hr;
        try {
            hr = m_p->QueryInterface(iid, &q);
        } catch (...) {
            hr = RPC_E_SERVERFAULT_HR;
            q = nullptr;
        }
        if (SUCCEEDED(hr) && q == nullptr) hr = E_NOINTERFACE;
        if (SUCCEEDED(hr)) {
            KJ_IF_MAYBE (cap, MakeStub(m_session, static_cast<IUnknown*>(q), iid)) {
                r.setObj(kj::mv(*cap));
            } else {
                hr = E_NOINTERFACE;
            }
        }
        r.setHr(hr);
        return kj::READY_NOW;
    }

protected:
    // Sends a record array: the heads and what fits of the chunks now, the rest through a pager.
    template <class R>
    void SendSeries(SeriesKind kind, void* records, DWORD count, R r) {
        auto series = std::make_shared<NativeSeries>(kind, records, count, m_session->compact);
        auto result = r.initResult();
        series->WriteHeads(result);
        const std::size_t budget = m_session->options.pageBytes;
        bool done = series->WriteChunks(budget, [&](std::size_t n) { return result.initChunks(n); });
        if (!done) {
            r.setPaged(true);
            r.setMore(kj::heap<PagerImpl>(std::move(series), budget));
        }
    }

    std::shared_ptr<HostSession> m_session;
    I* m_p;
};

class UnknownStub final : public Stub<wire::Unknown, IUnknown> {
public:
    using Stub::Stub;
};

class ServerStub final : public Stub<wire::HdaServer, IOPCHDA_Server> {
public:
    using Stub::Stub;

    kj::Promise<void> getItemAttributes(GetItemAttributesContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            DWORD count = 0;
            DWORD* ids = nullptr;
            LPWSTR *names = nullptr, *descs = nullptr;
            VARTYPE* types = nullptr;
            HRESULT hr = m_p->GetItemAttributes(&count, &ids, &names, &descs, &types);
            r.setHr(hr);
            r.setCount(count);
            SendUList(ids, [&](std::size_t n) { return r.initIds(n); });
            SendStrings(names, [&] { return r.initNames(); });
            SendStrings(descs, [&] { return r.initDescs(); });
            SendUList(types, [&](std::size_t n) { return r.initTypes(n); });
            CoTaskMemFree(ids);
            CoTaskMemFree(names);
            CoTaskMemFree(descs);
            CoTaskMemFree(types);
            return hr;
        });
    }
    kj::Promise<void> getAggregates(GetAggregatesContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            DWORD count = 0;
            DWORD* ids = nullptr;
            LPWSTR *names = nullptr, *descs = nullptr;
            HRESULT hr = m_p->GetAggregates(&count, &ids, &names, &descs);
            r.setHr(hr);
            r.setCount(count);
            SendUList(ids, [&](std::size_t n) { return r.initIds(n); });
            SendStrings(names, [&] { return r.initNames(); });
            SendStrings(descs, [&] { return r.initDescs(); });
            CoTaskMemFree(ids);
            CoTaskMemFree(names);
            CoTaskMemFree(descs);
            return hr;
        });
    }
    kj::Promise<void> getHistorianStatus(GetHistorianStatusContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            OPCHDA_SERVERSTATUS status{};
            FILETIME *now = nullptr, *start = nullptr;
            WORD major = 0, minor = 0, build = 0;
            DWORD maxValues = 0;
            LPWSTR text = nullptr, vendor = nullptr;
            HRESULT hr = m_p->GetHistorianStatus(&status, &now, &start, &major, &minor, &build, &maxValues,
                                                 &text, &vendor);
            r.setHr(hr);
            r.setStatus(status);
            r.setMajor(major);
            r.setMinor(minor);
            r.setBuild(build);
            r.setMaxReturnValues(maxValues);
            auto times = [](FILETIME* p, auto init) {
                if (p == nullptr) return;
                std::size_t n = com::TaskMemCount(p);
                auto l = init(n);
                for (std::size_t i = 0; i < n; ++i) l.set(i, FileTimeToU64(p[i]));
                CoTaskMemFree(p);
            };
            times(now, [&](std::size_t n) { return r.initCurrentTime(n); });
            times(start, [&](std::size_t n) { return r.initStartTime(n); });
            SendString(text, [&](auto d) { r.setStatusString(d); });
            SendString(vendor, [&](auto d) { r.setVendorInfo(d); });
            return hr;
        });
    }
    kj::Promise<void> getItemHandles(GetItemHandlesContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            LPWSTR* ids;
            DWORD* clients;
            if (!in.Strings(p.hasItemIds(), p.getItemIds(), p.getCount(), &ids) ||
                !in.U32s(p.hasClientHandles(), p.getClientHandles(), p.getCount(), &clients))
                return E_INVALIDARG;
            OPCHANDLE* handles = nullptr;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->GetItemHandles(p.getCount(), ids, clients, &handles, &errors);
            r.setHr(hr);
            SendUList(handles, [&](std::size_t n) { return r.initServerHandles(n); });
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(handles);
            CoTaskMemFree(errors);
            return hr;
        });
    }
    kj::Promise<void> releaseItemHandles(ReleaseItemHandlesContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            DWORD* handles;
            if (!in.U32s(p.hasServerHandles(), p.getServerHandles(), p.getCount(), &handles))
                return E_INVALIDARG;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->ReleaseItemHandles(p.getCount(), handles, &errors);
            r.setHr(hr);
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            return hr;
        });
    }
    kj::Promise<void> validateItemIds(ValidateItemIdsContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            LPWSTR* ids;
            if (!in.Strings(p.hasItemIds(), p.getItemIds(), p.getCount(), &ids)) return E_INVALIDARG;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->ValidateItemIDs(p.getCount(), ids, &errors);
            r.setHr(hr);
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            return hr;
        });
    }
    kj::Promise<void> createBrowse(CreateBrowseContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            DWORD *attrs, *ops;
            VARIANT* filters;
            if (!in.U32s(p.hasAttrIds(), p.getAttrIds(), p.getCount(), &attrs) ||
                !in.U32s(p.hasOperators(), p.getOperators(), p.getCount(), &ops) ||
                !in.Values(p.hasFilters(), p.getFilters(), p.getCount(), &filters))
                return E_INVALIDARG;
            IOPCHDA_Browser* browser = nullptr;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->CreateBrowse(p.getCount(), attrs, reinterpret_cast<OPCHDA_OPERATORCODES*>(ops),
                                           filters, &browser, &errors);
            r.setHr(hr);
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            if (browser) {
                KJ_IF_MAYBE (cap, MakeStub(m_session, browser, IID_IOPCHDA_Browser)) {
                    r.setBrowser(kj::mv(*cap));
                }
            }
            return hr;
        });
    }
};

class BrowserStub final : public Stub<wire::HdaBrowser, IOPCHDA_Browser> {
public:
    using Stub::Stub;
    kj::Promise<void> getEnum(GetEnumContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            IEnumString* e = nullptr;
            HRESULT hr = m_p->GetEnum(static_cast<OPCHDA_BROWSETYPE>(p.getBrowseType()), &e);
            r.setHr(hr);
            if (e) {
                KJ_IF_MAYBE (cap, MakeStub(m_session, e, IID_IEnumString)) {
                    r.setEnum(kj::mv(*cap));
                }
            }
            return hr;
        });
    }
    kj::Promise<void> changeBrowsePosition(ChangeBrowsePositionContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            com::WString name = U16From(p.getName());
            HRESULT hr = m_p->ChangeBrowsePosition(static_cast<OPCHDA_BROWSEDIRECTION>(p.getDirection()),
                                                   p.hasName() ? name.c_str() : nullptr);
            r.setHr(hr);
            return hr;
        });
    }
    kj::Promise<void> getItemId(GetItemIdContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            com::WString node = U16From(p.getNode());
            LPWSTR id = nullptr;
            HRESULT hr = m_p->GetItemID(p.hasNode() ? node.c_str() : nullptr, &id);
            r.setHr(hr);
            SendString(id, [&](auto d) { r.setItemId(d); });
            return hr;
        });
    }
    kj::Promise<void> getBranchPosition(GetBranchPositionContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            LPWSTR pos = nullptr;
            HRESULT hr = m_p->GetBranchPosition(&pos);
            r.setHr(hr);
            SendString(pos, [&](auto d) { r.setPosition(d); });
            return hr;
        });
    }
};

class SyncReadStub final : public Stub<wire::HdaSyncRead, IOPCHDA_SyncRead> {
public:
    using Stub::Stub;
    kj::Promise<void> readRaw(ReadRawContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            OPCHDA_TIME s{}, e{};
            OPCHDA_TIME* ps = in.Time(p.hasStart(), p.getStart(), &s);
            OPCHDA_TIME* pe = in.Time(p.hasEnd(), p.getEnd(), &e);
            DWORD* h;
            if (!in.U32s(p.hasHandles(), p.getHandles(), p.getCount(), &h)) return E_INVALIDARG;
            OPCHDA_ITEM* items = nullptr;
            HRESULT* errors = nullptr;
            HRESULT hr =
                m_p->ReadRaw(ps, pe, p.getNumValues(), p.getBounds(), p.getCount(), h, &items, &errors);
            r.setHr(hr);
            if (ps) in.TimeBack(ps, r.initStart());
            if (pe) in.TimeBack(pe, r.initEnd());
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            SendSeries(SeriesKind::Item, items, p.getCount(), r);
            return hr;
        });
    }
    kj::Promise<void> readProcessed(ReadProcessedContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            OPCHDA_TIME s{}, e{};
            OPCHDA_TIME* ps = in.Time(p.hasStart(), p.getStart(), &s);
            OPCHDA_TIME* pe = in.Time(p.hasEnd(), p.getEnd(), &e);
            DWORD *h, *aggregates;
            if (!in.U32s(p.hasHandles(), p.getHandles(), p.getCount(), &h) ||
                !in.U32s(p.hasAggregates(), p.getAggregates(), p.getCount(), &aggregates))
                return E_INVALIDARG;
            OPCHDA_ITEM* items = nullptr;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->ReadProcessed(ps, pe, U64ToFileTime(p.getInterval()), p.getCount(), h,
                                            aggregates, &items, &errors);
            r.setHr(hr);
            if (ps) in.TimeBack(ps, r.initStart());
            if (pe) in.TimeBack(pe, r.initEnd());
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            SendSeries(SeriesKind::Item, items, p.getCount(), r);
            return hr;
        });
    }
    kj::Promise<void> readAtTime(ReadAtTimeContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            FILETIME* t;
            DWORD* h;
            if (!in.Times(p.hasTimes(), p.getTimes(), p.getNumTimes(), &t) ||
                !in.U32s(p.hasHandles(), p.getHandles(), p.getCount(), &h))
                return E_INVALIDARG;
            OPCHDA_ITEM* items = nullptr;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->ReadAtTime(p.getNumTimes(), t, p.getCount(), h, &items, &errors);
            r.setHr(hr);
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            SendSeries(SeriesKind::Item, items, p.getCount(), r);
            return hr;
        });
    }
    kj::Promise<void> readModified(ReadModifiedContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            OPCHDA_TIME s{}, e{};
            OPCHDA_TIME* ps = in.Time(p.hasStart(), p.getStart(), &s);
            OPCHDA_TIME* pe = in.Time(p.hasEnd(), p.getEnd(), &e);
            DWORD* h;
            if (!in.U32s(p.hasHandles(), p.getHandles(), p.getCount(), &h)) return E_INVALIDARG;
            OPCHDA_MODIFIEDITEM* items = nullptr;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->ReadModified(ps, pe, p.getNumValues(), p.getCount(), h, &items, &errors);
            r.setHr(hr);
            if (ps) in.TimeBack(ps, r.initStart());
            if (pe) in.TimeBack(pe, r.initEnd());
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            SendSeries(SeriesKind::Modified, items, p.getCount(), r);
            return hr;
        });
    }
    kj::Promise<void> readAttribute(ReadAttributeContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            OPCHDA_TIME s{}, e{};
            OPCHDA_TIME* ps = in.Time(p.hasStart(), p.getStart(), &s);
            OPCHDA_TIME* pe = in.Time(p.hasEnd(), p.getEnd(), &e);
            DWORD* ids;
            if (!in.U32s(p.hasAttrIds(), p.getAttrIds(), p.getCount(), &ids)) return E_INVALIDARG;
            OPCHDA_ATTRIBUTE* values = nullptr;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->ReadAttribute(ps, pe, p.getHandle(), p.getCount(), ids, &values, &errors);
            r.setHr(hr);
            if (ps) in.TimeBack(ps, r.initStart());
            if (pe) in.TimeBack(pe, r.initEnd());
            SendUList(errors, [&](std::size_t n) { return r.initErrors(n); });
            CoTaskMemFree(errors);
            SendSeries(SeriesKind::Attribute, values, p.getCount(), r);
            return hr;
        });
    }
};

class SyncUpdateStub final : public Stub<wire::HdaSyncUpdate, IOPCHDA_SyncUpdate> {
public:
    using Stub::Stub;
    kj::Promise<void> queryCapabilities(QueryCapabilitiesContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            OPCHDA_UPDATECAPABILITIES caps{};
            HRESULT hr = m_p->QueryCapabilities(&caps);
            r.setHr(hr);
            r.setCapabilities(caps);
            return hr;
        });
    }
    kj::Promise<void> write(WriteContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            const DWORD n = p.getCount();
            DWORD *h, *q;
            FILETIME* t;
            VARIANT* v;
            if (!in.U32s(p.hasHandles(), p.getHandles(), n, &h) ||
                !in.Times(p.hasTimes(), p.getTimes(), n, &t) ||
                !in.Values(p.hasValues(), p.getValues(), n, &v) ||
                !in.U32s(p.hasQualities(), p.getQualities(), n, &q))
                return E_INVALIDARG;
            HRESULT* errors = nullptr;
            HRESULT hr;
            switch (p.getKind()) {
                case 1:
                    hr = m_p->Insert(n, h, t, v, q, &errors);
                    break;
                case 2:
                    hr = m_p->Replace(n, h, t, v, q, &errors);
                    break;
                case 3:
                    hr = m_p->InsertReplace(n, h, t, v, q, &errors);
                    break;
                default:
                    return E_INVALIDARG;
            }
            r.setHr(hr);
            SendUList(errors, [&](std::size_t k) { return r.initErrors(k); });
            CoTaskMemFree(errors);
            return hr;
        });
    }
    kj::Promise<void> deleteRaw(DeleteRawContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            OPCHDA_TIME s{}, e{};
            OPCHDA_TIME* ps = in.Time(p.hasStart(), p.getStart(), &s);
            OPCHDA_TIME* pe = in.Time(p.hasEnd(), p.getEnd(), &e);
            DWORD* h;
            if (!in.U32s(p.hasHandles(), p.getHandles(), p.getCount(), &h)) return E_INVALIDARG;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->DeleteRaw(ps, pe, p.getCount(), h, &errors);
            r.setHr(hr);
            if (ps) in.TimeBack(ps, r.initStart());
            if (pe) in.TimeBack(pe, r.initEnd());
            SendUList(errors, [&](std::size_t k) { return r.initErrors(k); });
            CoTaskMemFree(errors);
            return hr;
        });
    }
    kj::Promise<void> deleteAtTime(DeleteAtTimeContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            Inputs in;
            DWORD* h;
            FILETIME* t;
            if (!in.U32s(p.hasHandles(), p.getHandles(), p.getCount(), &h) ||
                !in.Times(p.hasTimes(), p.getTimes(), p.getCount(), &t))
                return E_INVALIDARG;
            HRESULT* errors = nullptr;
            HRESULT hr = m_p->DeleteAtTime(p.getCount(), h, t, &errors);
            r.setHr(hr);
            SendUList(errors, [&](std::size_t k) { return r.initErrors(k); });
            CoTaskMemFree(errors);
            return hr;
        });
    }
};

class CommonStub final : public Stub<wire::OpcCommon, IOPCCommon> {
public:
    using Stub::Stub;
    kj::Promise<void> setLocaleId(SetLocaleIdContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            HRESULT hr = m_p->SetLocaleID(p.getLcid());
            r.setHr(hr);
            return hr;
        });
    }
    kj::Promise<void> getLocaleId(GetLocaleIdContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            LCID lcid = 0;
            HRESULT hr = m_p->GetLocaleID(&lcid);
            r.setHr(hr);
            r.setLcid(lcid);
            return hr;
        });
    }
    kj::Promise<void> queryAvailableLocaleIds(QueryAvailableLocaleIdsContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            DWORD count = 0;
            LCID* ids = nullptr;
            HRESULT hr = m_p->QueryAvailableLocaleIDs(&count, &ids);
            r.setHr(hr);
            r.setCount(count);
            SendUList(ids, [&](std::size_t n) { return r.initLcids(n); });
            CoTaskMemFree(ids);
            return hr;
        });
    }
    kj::Promise<void> getErrorString(GetErrorStringContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            LPWSTR text = nullptr;
            HRESULT hr = m_p->GetErrorString(p.getError(), &text);
            r.setHr(hr);
            SendString(text, [&](auto d) { r.setText(d); });
            return hr;
        });
    }
    kj::Promise<void> setClientName(SetClientNameContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            com::WString name = U16From(p.getName());
            HRESULT hr = m_p->SetClientName(p.hasName() ? name.c_str() : nullptr);
            r.setHr(hr);
            return hr;
        });
    }
};

// IEnumString and IEnumGUID differ only in their element.
template <class W, class I, class Elem>
class EnumStub final : public Stub<W, I> {
public:
    using Stub<W, I>::Stub;
    using Base = Stub<W, I>;
    static constexpr ULONG kMaxBatch = 65536;

    kj::Promise<void> next(typename W::Server::NextContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            ULONG celt = std::min<ULONG>(p.getCelt(), kMaxBatch);
            std::vector<Elem> items(std::max<ULONG>(celt, 1));
            ULONG fetched = 0;
            HRESULT hr = this->m_p->Next(celt, items.data(), &fetched);
            if (fetched > celt) fetched = celt;
            r.setHr(hr);
            r.setFetched(fetched);
            if constexpr (std::is_same_v<Elem, LPOLESTR>) {
                SetStrings(r.initStrings(), items.data(), fetched);
                for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(items[i]);
            } else {
                auto l = r.initGuids(fetched);
                for (ULONG i = 0; i < fetched; ++i) SetGuid(l[i], items[i]);
            }
            return hr;
        });
    }
    kj::Promise<void> skip(typename W::Server::SkipContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            HRESULT hr = this->m_p->Skip(p.getCelt());
            r.setHr(hr);
            return hr;
        });
    }
    kj::Promise<void> reset(typename W::Server::ResetContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            HRESULT hr = this->m_p->Reset();
            r.setHr(hr);
            return hr;
        });
    }
    kj::Promise<void> clone(typename W::Server::CloneContext ctx) override {
        return Serve(ctx, [&](auto, auto r) -> HRESULT {
            I* e = nullptr;
            HRESULT hr = this->m_p->Clone(&e);
            r.setHr(hr);
            if (e) {
                KJ_IF_MAYBE (cap, MakeStub(this->m_session, e, uuidof<I>())) {
                    r.setEnum(kj::mv(*cap));
                }
            }
            return hr;
        });
    }
};

class ServerListStub final : public Stub<wire::ServerList, IOPCServerList> {
public:
    using Stub::Stub;
    kj::Promise<void> enumClassesOfCategories(EnumClassesOfCategoriesContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            auto guids = [](bool has, auto list, std::vector<CATID>* out) -> CATID* {
                if (!has) return nullptr;
                for (auto g : list) out->push_back(GetGuid(g));
                if (out->empty()) out->push_back(GUID_NULL);
                return out->data();
            };
            std::vector<CATID> impl, req;
            CATID* pi = guids(p.hasImplList(), p.getImplList(), &impl);
            CATID* pr = guids(p.hasReqList(), p.getReqList(), &req);
            ULONG ci = p.getImplemented(), cr = p.getRequired();
            if ((ci != 0xFFFFFFFFu && pi && ci > p.getImplList().size()) ||
                (cr != 0xFFFFFFFFu && pr && cr > p.getReqList().size()))
                return E_INVALIDARG;
            IEnumGUID* e = nullptr;
            HRESULT hr = m_p->EnumClassesOfCategories(ci, pi, cr, pr, &e);
            r.setHr(hr);
            if (e) {
                KJ_IF_MAYBE (cap, MakeStub(m_session, e, IID_IEnumGUID)) {
                    r.setEnum(kj::mv(*cap));
                }
            }
            return hr;
        });
    }
    kj::Promise<void> getClassDetails(GetClassDetailsContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            LPOLESTR progId = nullptr, userType = nullptr;
            HRESULT hr = m_p->GetClassDetails(GetGuid(p.getClsid()), &progId, &userType);
            r.setHr(hr);
            SendString(progId, [&](auto d) { r.setProgId(d); });
            SendString(userType, [&](auto d) { r.setUserType(d); });
            return hr;
        });
    }
    kj::Promise<void> clsidFromProgId(ClsidFromProgIdContext ctx) override {
        return Serve(ctx, [&](auto p, auto r) -> HRESULT {
            com::WString progId = U16From(p.getProgId());
            CLSID clsid = CLSID_NULL;
            HRESULT hr = m_p->CLSIDFromProgID(p.hasProgId() ? progId.c_str() : nullptr, &clsid);
            r.setHr(hr);
            SetGuid(r.initClsid(), clsid);
            return hr;
        });
    }
};

using EnumStringStub = EnumStub<wire::EnumString, IEnumString, LPOLESTR>;
using EnumGuidStub = EnumStub<wire::EnumGuid, IEnumGUID, GUID>;

}  // namespace

kj::Maybe<wire::Unknown::Client> MakeStub(std::shared_ptr<HostSession> session, IUnknown* object,
                                          REFIID iid) {
    void* p = object;
    if (iid == IID_IUnknown || iid == IID_IOPCHDA_AsyncRead)
        return wire::Unknown::Client(kj::heap<UnknownStub>(session, object));
    if (iid == IID_IOPCHDA_Server)
        return wire::Unknown::Client(kj::heap<ServerStub>(session, static_cast<IOPCHDA_Server*>(p)));
    if (iid == IID_IOPCHDA_Browser)
        return wire::Unknown::Client(kj::heap<BrowserStub>(session, static_cast<IOPCHDA_Browser*>(p)));
    if (iid == IID_IOPCHDA_SyncRead)
        return wire::Unknown::Client(kj::heap<SyncReadStub>(session, static_cast<IOPCHDA_SyncRead*>(p)));
    if (iid == IID_IOPCHDA_SyncUpdate)
        return wire::Unknown::Client(kj::heap<SyncUpdateStub>(session, static_cast<IOPCHDA_SyncUpdate*>(p)));
    if (iid == IID_IOPCCommon)
        return wire::Unknown::Client(kj::heap<CommonStub>(session, static_cast<IOPCCommon*>(p)));
    if (iid == IID_IEnumString)
        return wire::Unknown::Client(kj::heap<EnumStringStub>(session, static_cast<IEnumString*>(p)));
    if (iid == IID_IEnumGUID)
        return wire::Unknown::Client(kj::heap<EnumGuidStub>(session, static_cast<IEnumGUID*>(p)));
    if (iid == IID_IOPCServerList)
        return wire::Unknown::Client(kj::heap<ServerListStub>(session, static_cast<IOPCServerList*>(p)));
    object->Release();
    return nullptr;
}

namespace {

// One surrogate: a child process serving one activation over a socket pair. Its objects reach the
// client through this host, which relays their calls; when it dies, they fail with
// RPC_E_DISCONNECTED and nothing else does.
struct Surrogate {
    long pid = -1;
    kj::Own<kj::AsyncIoStream> stream;
    kj::Own<capnp::TwoPartyVatNetwork> network;
    kj::Own<capnp::RpcSystem<capnp::rpc::twoparty::VatId>> rpc;
    kj::Own<wire::Host::Client> host;
    kj::Promise<void> watch = nullptr;
    std::atomic<long>* running = nullptr;
    bool ended = false;
    ~Surrogate() {
        if (!ended && running) --*running;
    }
};

#ifndef _WIN32
pid_t Spawn(const std::string& path, int fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 3);  // dup2 clears close-on-exec
    const char* argv[] = {path.c_str(), "surrogate", "--fd", "3", nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}
#else
// Windows: the surrogate connects back to a loopback port this host opens for it alone, and shows it
// is the child started for it with a random token from its command line.
struct Spawned {
    long pid;
    kj::Promise<kj::Own<kj::AsyncIoStream>> stream;
};

kj::Maybe<Spawned> SpawnConnected(const std::string& path, kj::LowLevelAsyncIoProvider& lowLevel) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return nullptr;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    unsigned char random[16];
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 1) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        RAND_bytes(random, sizeof random) != 1) {
        closesocket(s);
        return nullptr;
    }
    std::string token;
    for (unsigned char b : random) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02x", b);
        token += hex;
    }
    std::string command =
        "\"" + path + "\" surrogate --connect " + std::to_string(ntohs(a.sin_port)) + " --token " + token;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi)) {
        closesocket(s);
        return nullptr;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);  // it ends when its connection closes
    auto listener = lowLevel.wrapListenSocketFd(s, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    auto accepted = listener->accept().then([token](kj::Own<kj::AsyncIoStream> conn) {
        auto got = kj::heapArray<char>(token.size());
        auto read = conn->read(got.begin(), got.size());
        return read.then([conn = kj::mv(conn), got = kj::mv(got), token]() mutable {
            if (std::string(got.begin(), got.size()) != token)
                kj::throwFatalException(KJ_EXCEPTION(FAILED, "a connection without the surrogate's token"));
            return kj::mv(conn);
        });
    });
    auto timeout = lowLevel.getTimer().afterDelay(30 * kj::SECONDS).then([]() -> kj::Own<kj::AsyncIoStream> {
        kj::throwFatalException(KJ_EXCEPTION(DISCONNECTED, "the surrogate did not connect"));
    });
    return Spawned{long(pi.dwProcessId), accepted.exclusiveJoin(kj::mv(timeout)).attach(kj::mv(listener))};
}
#endif

class HostBootstrap final : public wire::Host::Server {
public:
    explicit HostBootstrap(std::shared_ptr<HostSession> session) : m_session(std::move(session)) {}

    kj::Promise<void> hello(HelloContext ctx) override {
        m_session->compact = ctx.getParams().getCompact();
        char name[256] = {};
        gethostname(name, sizeof name - 1);
        ctx.getResults().setName(name);
        ctx.getResults().setVersion(1);
        return kj::READY_NOW;
    }

    kj::Promise<void> createInstance(CreateInstanceContext ctx) override {
        auto p = ctx.getParams();
        const CLSID clsid = GetGuid(p.getClsid());
        auto iids = p.getIids();
        auto r = ctx.getResults();
        auto results = r.initResults(iids.size());
        if (iids.size() == 0 || iids.size() > 64) {
            r.setHr(E_INVALIDARG);
            return kj::READY_NOW;
        }
        if (m_session->objects.load() + long(iids.size()) > long(m_session->options.maxObjects)) {
            r.setHr(E_OUTOFMEMORY);
            return kj::READY_NOW;
        }
        if (!Allowed(clsid)) {
            if (m_session->log)
                m_session->log("refused activation of " + com::GuidToUtf8(clsid) + " for " + m_session->peer +
                               ": not among the classes this client may activate");
            r.setHr(E_ACCESSDENIED);
            for (std::size_t i = 0; i < iids.size(); ++i) results[i].setHr(E_ACCESSDENIED);
            return kj::READY_NOW;
        }
        if (!m_session->options.surrogate.empty() && clsid != CLSID_OpcServerList)
            return InSurrogate(clsid, kj::mv(ctx));
        std::vector<IID> ids(iids.size());
        std::vector<MULTI_QI> mqi(iids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            ids[i] = GetGuid(iids[i]);
            mqi[i] = MULTI_QI{&ids[i], nullptr, S_OK};
        }
        HRESULT hr;
        try {
            hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_INPROC_SERVER, nullptr, DWORD(mqi.size()),
                                    mqi.data());
        } catch (...) {
            hr = RPC_E_SERVERFAULT_HR;
        }
        if (m_session->log)
            m_session->log("activation of " + com::GuidToUtf8(clsid) + " for " + m_session->peer + ": 0x" +
                           [&] {
                               char b[16];
                               snprintf(b, sizeof b, "%08X", unsigned(hr));
                               return std::string(b);
                           }());
        r.setHr(hr);
        for (std::size_t i = 0; i < mqi.size(); ++i) {
            HRESULT qhr = mqi[i].hr;
            if (SUCCEEDED(qhr) && mqi[i].pItf) {
                KJ_IF_MAYBE (cap, MakeStub(m_session, mqi[i].pItf, ids[i])) {
                    results[i].setObj(kj::mv(*cap));
                } else {
                    qhr = E_NOINTERFACE;
                }
            } else if (SUCCEEDED(qhr)) {
                qhr = E_NOINTERFACE;
            }
            results[i].setHr(qhr);
        }
        return kj::READY_NOW;
    }

private:
    // Every entry of the activation fails with hr.
    static void Fail(CreateInstanceContext& ctx, HRESULT hr) {
        auto r = ctx.getResults();
        r.setHr(hr);
        auto results = r.initResults(ctx.getParams().getIids().size());
        for (auto e : results) e.setHr(hr);
    }

    kj::Promise<void> InSurrogate(REFCLSID clsid, CreateInstanceContext ctx) {
        auto fail = [ctx](HRESULT hr) mutable { Fail(ctx, hr); };
        const std::string what = com::GuidToUtf8(clsid) + " for " + m_session->peer;
        auto notStarted = [this, what, fail]() mutable {
            if (m_session->log)
                m_session->log("activation of " + what + ": the surrogate could not be started");
            fail(CO_E_SERVER_EXEC_FAILURE);
        };
#ifdef _WIN32
        KJ_IF_MAYBE (spawned, SpawnConnected(m_session->options.surrogate, *m_session->lowLevel)) {
            const long pid = spawned->pid;
            return spawned->stream.then(
                [this, pid, what, ctx](kj::Own<kj::AsyncIoStream> stream) mutable {
                    return Attach(kj::mv(stream), pid, what, kj::mv(ctx));
                },
                [notStarted](kj::Exception&&) mutable { notStarted(); });
        }
        notStarted();
        return kj::READY_NOW;
#else
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
            fail(CO_E_SERVER_EXEC_FAILURE);
            return kj::READY_NOW;
        }
        if (sv[1] == 3) {  // dup2 onto itself would keep close-on-exec
            int moved = fcntl(sv[1], F_DUPFD_CLOEXEC, 10);
            close(sv[1]);
            sv[1] = moved;
        }
        const pid_t pid = Spawn(m_session->options.surrogate, sv[1]);
        close(sv[1]);
        if (pid < 0) {
            close(sv[0]);
            notStarted();
            return kj::READY_NOW;
        }
        return Attach(m_session->lowLevel->wrapSocketFd(sv[0], kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP),
                      pid, what, kj::mv(ctx));
#endif
    }

    // The surrogate `pid` at the other end of `stream` creates the instance; its objects are relayed.
    kj::Promise<void> Attach(kj::Own<kj::AsyncIoStream> stream, long pid, const std::string& what,
                             CreateInstanceContext ctx) {
        auto fail = [ctx](HRESULT hr) mutable { Fail(ctx, hr); };
        auto child = std::make_shared<Surrogate>();
        child->pid = pid;
        child->running = m_session->surrogates;
        if (child->running) ++*child->running;
        child->stream = kj::mv(stream);
        child->network =
            kj::heap<capnp::TwoPartyVatNetwork>(*child->stream, capnp::rpc::twoparty::Side::CLIENT);
        child->rpc =
            kj::heap<capnp::RpcSystem<capnp::rpc::twoparty::VatId>>(capnp::makeRpcClient(*child->network));
        capnp::MallocMessageBuilder message(8);
        auto vatId = message.getRoot<capnp::rpc::twoparty::VatId>();
        vatId.setSide(capnp::rpc::twoparty::Side::SERVER);
        child->host = kj::heap<wire::Host::Client>(child->rpc->bootstrap(vatId).castAs<wire::Host>());
        auto log = m_session->log;
        Surrogate* raw = child.get();
        child->watch = child->network->onDisconnect()
                           .then([log, pid, what, raw] {
                               raw->ended = true;
                               if (raw->running) --*raw->running;
                               if (log) log("surrogate " + std::to_string(pid) + " of " + what + " ended");
                           })
                           .eagerlyEvaluate(nullptr);
        m_session->children.push_back(child);
        if (m_session->log) m_session->log("activation of " + what + " in surrogate " + std::to_string(pid));
        // The surrogate answers in the forms the client reads; the hello arrives first.
        auto hello = child->host->helloRequest();
        hello.setCompact(m_session->compact);
        auto helloSent = hello.send();
        auto req = child->host->createInstanceRequest();
        req.setClsid(ctx.getParams().getClsid());
        req.setIids(ctx.getParams().getIids());
        return req.send()
            .attach(kj::mv(helloSent))
            .then(
                [ctx](auto&& resp) mutable {
                    auto r = ctx.getResults();
                    r.setHr(resp.getHr());
                    auto in = resp.getResults();
                    auto out = r.initResults(in.size());
                    for (unsigned i = 0; i < in.size(); ++i) {
                        out[i].setHr(in[i].getHr());
                        if (in[i].hasObj()) out[i].setObj(in[i].getObj());
                    }
                },
                [fail](kj::Exception&&) mutable { fail(CO_E_SERVER_EXEC_FAILURE); });
    }

    // The lookup service always; other classes when the client may activate every class or the
    // class's ProgID (or its version-independent ProgID) is in its list.
    bool Allowed(REFCLSID clsid) const {
        if (m_session->only.empty() || clsid == CLSID_OpcServerList) return true;
        auto same = [](std::u16string_view a, const std::string& b) {
            std::string s = com::Utf16ToUtf8(a);
            if (s.size() != b.size()) return false;
            for (std::size_t i = 0; i < s.size(); ++i)
                if (std::tolower(static_cast<unsigned char>(s[i])) !=
                    std::tolower(static_cast<unsigned char>(b[i])))
                    return false;
            return true;
        };
        com::ClassRegistration reg;
        if (com::FindComClass(clsid, &reg))
            for (const auto& id : m_session->only)
                if (same(reg.progId, id) || same(reg.versionIndependentProgId, id)) return true;
        return false;
    }

    std::shared_ptr<HostSession> m_session;
};

}  // namespace

wire::Host::Client MakeHostBootstrap(std::shared_ptr<HostSession> session) {
    return kj::heap<HostBootstrap>(std::move(session));
}

}  // namespace vistrel::remote

// The engine: call-level rules of the HDA interfaces over the address space and the store.
#include "servers/simulation/engine/engine.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstdlib>

#include "com/text.h"
#include "servers/simulation/engine/reltime.h"

namespace sim {

bool ResolveTime(const TimeArg& arg, Ticks now, std::optional<Ticks>* out) {
    out->reset();
    if (!arg.isString) {
        *out = arg.ft;
        return true;
    }
    Ticks t = 0;
    switch (ParseRelativeTime(arg.text, now, &t)) {
        case RelTimeStatus::Empty:
            return true;
        case RelTimeStatus::Ok:
            *out = t;
            return true;
        case RelTimeStatus::Invalid:
            return false;
    }
    return false;
}

namespace {

std::u16string HostName() {
#ifdef _WIN32
    wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(buf, &n)) return u"localhost";
    return std::u16string(buf, buf + n);
#else
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return u"localhost";
    return com::Utf8ToUtf16(buf);
#endif
}

// Whether count × items exceeds a limit, without overflowing.
bool Exceeds(std::size_t count, std::size_t items, std::size_t limit) {
    return items != 0 && count > limit / items;
}

}  // namespace

Engine::Engine(Config config, Ticks startTime) : m_config(std::move(config)), m_startTime(startTime) {
    auto space = std::make_shared<AddressSpace>(AddressSpace::Builtin());
    if (!m_config.itemsFile.empty()) {
        ItemsFileResult r = AddItemsFromFile(m_config.itemsFile, *space);
        for (const auto& p : r.problems)
            m_itemProblems.push_back("items file " + m_config.itemsFile + ": " + p);
    }
    m_space = space;
    std::vector<std::u16string> writable;
    for (const auto& item : m_space->items())
        if (item.kind == ItemKind::Writable) writable.push_back(item.id);
    m_store = std::make_unique<Store>(
        StoreOptions{m_config.dbPath, m_config.busyTimeoutMs, m_config.cacheValues}, std::move(writable));
    m_attrContext.nodeName = HostName();
    m_attrContext.processName = u"Brindlex.OPC.Simulation";
}

StatusInfo Engine::Status(Ticks now) {
    std::lock_guard lock(m_mutex);
    m_store->BeginCall();
    StatusInfo s;
    s.now = now;
    s.start = m_startTime;
    s.maxValues = static_cast<DWORD>(m_config.maxValues);
    s.status = m_store->state() == StoreState::Unavailable ? OPCHDA_INDETERMINATE : OPCHDA_UP;
    std::size_t generated = 0, writable = 0;
    for (const auto& item : m_space->items()) (item.kind == ItemKind::Generated ? generated : writable)++;
    std::string text = "Simulation historian: " + std::to_string(generated + writable) + " items (" +
                       std::to_string(generated) + " generated, " + std::to_string(writable) + " writable); ";
    if (m_store->state() == StoreState::Unavailable)
        text += m_store->statusText() + ": generated items read, stored items and updates fail";
    else
        text += m_store->statusText();
    for (const auto& p : m_itemProblems) text += "; " + p;
    for (const auto& p : m_config.problems) text += "; " + p;
    s.text = com::Utf8ToUtf16(text);
    s.vendor = u"Brindlex OPC HDA simulation historian (HDA Vistrel)";
    return s;
}

AttributeContext Engine::attributeContext() const {
    std::lock_guard lock(m_mutex);
    AttributeContext ctx = m_attrContext;
    ctx.storeWritable = m_store->state() == StoreState::Ok;
    return ctx;
}

void Engine::SetClientName(std::u16string name) {
    std::lock_guard lock(m_mutex);
    m_clientName = std::move(name);
}

std::u16string Engine::User() const {
    if (!m_clientName.empty()) return m_clientName;
#ifdef _WIN32
    if (const char* user = std::getenv("USERNAME"); user && *user) return com::Utf8ToUtf16(user);
#else
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return com::Utf8ToUtf16(pw->pw_name);
#endif
    return u"unknown";
}

HRESULT Engine::Overall(const std::vector<HRESULT>& codes) {
    for (HRESULT c : codes)
        if (c != S_OK) return S_FALSE;
    return S_OK;
}

HRESULT Engine::ValidateItemId(std::u16string_view id) const {
    if (!IsWellFormedItemId(id)) return OPC_E_INVALIDITEMID;
    if (m_space->Find(id) < 0) return OPC_E_UNKNOWNITEMID;
    return S_OK;
}

std::vector<HRESULT> Engine::GetItemHandles(std::span<const std::u16string> ids,
                                            std::span<const OPCHANDLE> clients,
                                            std::vector<OPCHANDLE>* servers) {
    std::lock_guard lock(m_mutex);
    std::vector<HRESULT> codes(ids.size(), S_OK);
    servers->assign(ids.size(), 0);
    for (std::size_t k = 0; k < ids.size(); ++k) {
        codes[k] = ValidateItemId(ids[k]);
        if (codes[k] != S_OK) continue;
        if (m_handles.size() >= 0xFFFFFFF0u) {
            codes[k] = E_OUTOFMEMORY;
            continue;
        }
        // A distinct handle per association, even for a repeated item ID.
        while (m_nextHandle == 0 || m_handles.count(m_nextHandle)) ++m_nextHandle;
        OPCHANDLE h = m_nextHandle++;
        m_handles.emplace(h, Handle{m_space->Find(ids[k]), clients[k]});
        (*servers)[k] = h;
    }
    return codes;
}

std::vector<HRESULT> Engine::ReleaseItemHandles(std::span<const OPCHANDLE> servers) {
    std::lock_guard lock(m_mutex);
    std::vector<HRESULT> codes;
    codes.reserve(servers.size());
    for (OPCHANDLE h : servers) codes.push_back(m_handles.erase(h) ? S_OK : OPC_E_INVALIDHANDLE);
    return codes;
}

const Engine::Handle* Engine::Find(OPCHANDLE server) const {
    auto it = m_handles.find(server);
    return it == m_handles.end() ? nullptr : &it->second;
}

std::unique_ptr<Series> Engine::OpenSeries(const ItemDef& item) {
    if (item.kind == ItemKind::Generated) return std::make_unique<GeneratedSeries>(item.signal, item.vt);
    return m_store->OpenSeries(m_store->Key(item.id));
}

namespace {
void ClearData(ItemRead& r) {
    r.samples.clear();
}
void ClearData(ModifiedRead& r) {
    r.values.clear();
}
}  // namespace

template <class Read, class Fn>
HRESULT Engine::ReadEachItem(std::span<const OPCHANDLE> handles, std::vector<Read>& out, Fn&& readItem) {
    std::vector<HRESULT> codes;
    codes.reserve(handles.size());
    out.reserve(handles.size());
    for (std::size_t k = 0; k < handles.size(); ++k) {
        Read r;
        if (const Handle* hd = Find(handles[k])) {
            r.hClient = hd->client;
            try {
                readItem(k, m_space->items()[static_cast<std::size_t>(hd->item)], r);
            } catch (const SeriesError& e) {
                r.code = e.code();
                ClearData(r);
            }
        } else {
            r.code = OPC_E_INVALIDHANDLE;
        }
        codes.push_back(r.code);
        out.push_back(std::move(r));
    }
    return Overall(codes);
}

ReadCall Engine::ReadRaw(const TimeArg& start, const TimeArg& end, DWORD numValues, bool bounds,
                         std::span<const OPCHANDLE> handles, Ticks now) {
    std::lock_guard lock(m_mutex);
    ReadCall c;
    if (handles.empty() || !ResolveTime(start, now, &c.start) || !ResolveTime(end, now, &c.end)) {
        c.hr = E_INVALIDARG;
        return c;
    }
    const int given = (c.start ? 1 : 0) + (c.end ? 1 : 0) + (numValues ? 1 : 0);
    if (given < 2) {
        c.hr = E_INVALIDARG;
        return c;
    }
    if (numValues > m_config.maxValues || Exceeds(numValues, handles.size(), m_config.maxCallValues)) {
        c.hr = OPC_E_MAXEXCEEDED;
        return c;
    }
    // Without a count each item gets its share of the call's limit (at least one value).
    std::size_t cap = std::min(m_config.maxValues, m_config.maxCallValues / handles.size());
    if (cap == 0) cap = 1;
    m_store->BeginCall();
    const RawQuery q{c.start, c.end, numValues, bounds};
    c.hr = ReadEachItem(handles, c.items, [&](std::size_t, const ItemDef& item, ItemRead& r) {
        auto series = OpenSeries(item);
        ItemResult res = sim::ReadRaw(*series, q, cap);
        r.code = res.code;
        r.samples = std::move(res.samples);
    });
    return c;
}

ReadCall Engine::ReadProcessed(const TimeArg& start, const TimeArg& end, Ticks interval,
                               std::span<const OPCHANDLE> handles, std::span<const DWORD> aggregates,
                               Ticks now) {
    std::lock_guard lock(m_mutex);
    ReadCall c;
    if (handles.empty() || aggregates.size() != handles.size() || !ResolveTime(start, now, &c.start) ||
        !ResolveTime(end, now, &c.end) || !c.start || !c.end || *c.start == *c.end) {
        c.hr = E_INVALIDARG;
        return c;
    }
    const std::uint64_t intervals = IntervalCount(*c.start, *c.end, interval);
    if (intervals > m_config.maxValues || Exceeds(intervals, handles.size(), m_config.maxCallValues)) {
        c.hr = OPC_E_MAXEXCEEDED;
        return c;
    }
    // Generated history has no end: bound the samples one call computes (stored history is bounded
    // by what is stored).
    const Ticks lo = std::min(*c.start, *c.end), hi = std::max(*c.start, *c.end);
    std::uint64_t computed = 0;
    for (std::size_t k = 0; k < handles.size(); ++k) {
        const Handle* hd = Find(handles[k]);
        if (!hd || aggregates[k] == OPCHDA_INTERPOLATIVE) continue;
        const ItemDef& item = m_space->items()[static_cast<std::size_t>(hd->item)];
        if (item.kind != ItemKind::Generated) continue;
        computed += SampleCount(item.signal, lo, hi);
        if (computed / kGeneratedPerCallValue > m_config.maxCallValues) {
            c.hr = OPC_E_MAXEXCEEDED;
            return c;
        }
    }
    m_store->BeginCall();
    c.hr = ReadEachItem(handles, c.items, [&](std::size_t k, const ItemDef& item, ItemRead& r) {
        if (!IsKnownAggregate(aggregates[k])) {
            r.code = OPC_E_INVALIDAGGREGATE;
        } else if (!AggregateFitsType(aggregates[k], item.vt)) {
            r.code = OPC_E_NOT_AVAIL;
        } else {
            auto series = OpenSeries(item);
            ItemResult res = sim::ReadProcessed(*series, ItemTraits{item.vt, item.stepped}, aggregates[k],
                                                *c.start, *c.end, interval);
            r.code = res.code;
            r.samples = std::move(res.samples);
        }
    });
    // Every record names its aggregate, the refused ones too.
    for (std::size_t k = 0; k < c.items.size(); ++k) c.items[k].aggregate = aggregates[k];
    return c;
}

ReadCall Engine::ReadAtTime(std::span<const Ticks> times, std::span<const OPCHANDLE> handles) {
    std::lock_guard lock(m_mutex);
    ReadCall c;
    if (times.empty() || handles.empty()) {
        c.hr = E_INVALIDARG;
        return c;
    }
    if (times.size() > m_config.maxValues || Exceeds(times.size(), handles.size(), m_config.maxCallValues)) {
        c.hr = OPC_E_MAXEXCEEDED;
        return c;
    }
    m_store->BeginCall();
    c.hr = ReadEachItem(handles, c.items, [&](std::size_t, const ItemDef& item, ItemRead& r) {
        auto series = OpenSeries(item);
        ItemResult res = sim::ReadAtTime(*series, ItemTraits{item.vt, item.stepped}, times);
        r.code = res.code;
        r.samples = std::move(res.samples);
    });
    return c;
}

ModifiedCall Engine::ReadModified(const TimeArg& start, const TimeArg& end, DWORD numValues,
                                  std::span<const OPCHANDLE> handles, Ticks now) {
    std::lock_guard lock(m_mutex);
    ModifiedCall c;
    if (handles.empty() || !ResolveTime(start, now, &c.start) || !ResolveTime(end, now, &c.end)) {
        c.hr = E_INVALIDARG;
        return c;
    }
    const int given = (c.start ? 1 : 0) + (c.end ? 1 : 0) + (numValues ? 1 : 0);
    if (given < 2) {
        c.hr = E_INVALIDARG;
        return c;
    }
    if (numValues > m_config.maxValues || Exceeds(numValues, handles.size(), m_config.maxCallValues)) {
        c.hr = OPC_E_MAXEXCEEDED;
        return c;
    }
    std::size_t cap =
        numValues
            ? numValues
            : std::max<std::size_t>(1, std::min(m_config.maxValues, m_config.maxCallValues / handles.size()));
    m_store->BeginCall();
    const Domain d = MakeDomain(c.start, c.end);
    c.hr = ReadEachItem(handles, c.items, [&](std::size_t, const ItemDef& item, ModifiedRead& r) {
        if (item.kind == ItemKind::Writable)
            m_store->ReadModified(m_store->Key(item.id), d.lo, d.hi, d.backward, cap + 1, r.values);
        if (r.values.size() > cap) {
            r.values.resize(cap);
            r.code = OPC_S_MOREDATA;
        } else {
            r.code = r.values.empty() ? OPC_S_NODATA : S_OK;
        }
    });
    return c;
}

AttributeCall Engine::ReadAttribute(const TimeArg& start, const TimeArg& end, OPCHANDLE handle,
                                    std::span<const DWORD> attributeIds, Ticks now) {
    std::lock_guard lock(m_mutex);
    AttributeCall c;
    const Handle* hd = Find(handle);
    if (!hd) {
        c.hr = OPC_E_INVALIDHANDLE;
        return c;
    }
    if (attributeIds.empty() || !ResolveTime(start, now, &c.start) || !ResolveTime(end, now, &c.end) ||
        !c.start) {
        c.hr = E_INVALIDARG;
        return c;
    }
    m_store->BeginCall();
    c.hClient = hd->client;
    const ItemDef& item = m_space->items()[static_cast<std::size_t>(hd->item)];
    AttributeContext ctx = m_attrContext;
    ctx.storeWritable = m_store->state() == StoreState::Ok;
    // Attributes are configuration: only their current values are known. A request for now
    // (start NOW, end not given or NOW) gets them with S_OK, any other with OPC_S_CURRENTVALUE.
    const bool current = *c.start == now && (!c.end || *c.end == now);
    std::vector<HRESULT> codes;
    for (DWORD id : attributeIds) {
        AttributeRead a;
        a.id = id;
        std::optional<Value> v = FindAttribute(id) ? AttributeValue(item, id, ctx) : std::nullopt;
        if (!v) {
            a.code = OPC_E_INVALIDATTRID;
        } else {
            a.code = current ? S_OK : OPC_S_CURRENTVALUE;
            a.times.push_back(now);
            a.values.push_back(std::move(*v));
        }
        codes.push_back(a.code);
        c.attributes.push_back(std::move(a));
    }
    c.hr = Overall(codes);
    return c;
}

UpdateCall Engine::Update(EditOp op, std::span<const OPCHANDLE> handles, std::span<const Ticks> times,
                          std::span<const DWORD> qualities, const ValueConverter& convert, Ticks now) {
    std::lock_guard lock(m_mutex);
    UpdateCall c;
    const bool withValues = op != EditOp::DeleteAtTime;
    if (handles.empty() || times.size() != handles.size() ||
        (withValues && qualities.size() != handles.size())) {
        c.hr = E_INVALIDARG;
        return c;
    }
    if (handles.size() > m_config.maxCallValues) {
        c.hr = OPC_E_MAXEXCEEDED;
        return c;
    }
    m_store->BeginCall();
    std::vector<Edit> edits(handles.size());
    std::vector<std::int64_t> keys(m_space->items().size(), -2);
    for (std::size_t k = 0; k < handles.size(); ++k) {
        Edit& e = edits[k];
        e.t = times[k];
        const Handle* hd = Find(handles[k]);
        if (!hd) {
            e.code = OPC_E_INVALIDHANDLE;
            continue;
        }
        const std::size_t index = static_cast<std::size_t>(hd->item);
        const ItemDef& item = m_space->items()[index];
        if (item.kind != ItemKind::Writable) {
            e.code = OPC_E_BADRIGHTS;
            continue;
        }
        if (keys[index] == -2) keys[index] = m_store->Key(item.id);
        e.key = keys[index];
        if (withValues) {
            e.quality = DaPart(qualities[k]);  // HDA flags from a client are never stored
            std::optional<Value> v = convert(k, item.vt);
            if (!v) {
                e.code = OPC_E_BADTYPE;
                continue;
            }
            if (IsRealType(v->vt) && std::isnan(v->d)) {
                e.code = E_INVALIDARG;  // SQLite would store NaN as NULL: refuse rather than lose it
                continue;
            }
            e.v = std::move(*v);
        }
    }
    m_store->Apply(op, edits, now, User());
    c.codes.reserve(edits.size());
    for (const auto& e : edits) c.codes.push_back(e.code);
    c.hr = Overall(c.codes);
    return c;
}

UpdateCall Engine::DeleteAtTime(std::span<const OPCHANDLE> handles, std::span<const Ticks> times, Ticks now) {
    return Update(EditOp::DeleteAtTime, handles, times, {}, {}, now);
}

UpdateCall Engine::DeleteRaw(const TimeArg& start, const TimeArg& end, std::span<const OPCHANDLE> handles,
                             Ticks now) {
    std::lock_guard lock(m_mutex);
    UpdateCall c;
    if (handles.empty() || !ResolveTime(start, now, &c.start) || !ResolveTime(end, now, &c.end) || !c.start ||
        !c.end) {
        c.hr = E_INVALIDARG;
        return c;
    }
    m_store->BeginCall();
    // [start, end); end before start deletes (end, start].
    Ticks lo = 0, hi = 0;
    bool empty = *c.start == *c.end;
    if (*c.start < *c.end) {
        lo = *c.start;
        hi = *c.end - 1;
    } else if (*c.end < *c.start) {
        lo = *c.end + 1;
        hi = *c.start;
    }
    std::vector<RangeDelete> ranges(handles.size());
    for (std::size_t k = 0; k < handles.size(); ++k) {
        RangeDelete& r = ranges[k];
        const Handle* hd = Find(handles[k]);
        if (!hd) {
            r.code = OPC_E_INVALIDHANDLE;
            continue;
        }
        const ItemDef& item = m_space->items()[static_cast<std::size_t>(hd->item)];
        if (item.kind != ItemKind::Writable) {
            r.code = OPC_E_BADRIGHTS;
        } else if (empty) {
            r.code = OPC_S_NODATA;
        } else {
            r.key = m_store->Key(item.id);
            r.lo = lo;
            r.hi = hi;
        }
    }
    m_store->DeleteRanges(ranges, now, User());
    for (const auto& r : ranges) c.codes.push_back(r.code);
    c.hr = Overall(c.codes);
    return c;
}

}  // namespace sim

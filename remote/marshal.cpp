#include "remote/marshal.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "com/objbase.h"
#include "com/oleauto.h"

namespace vistrel::remote {

void SetGuid(wire::Guid::Builder b, const GUID& g) {
    std::uint64_t w[2];
    std::memcpy(w, &g, sizeof w);
    b.setLo(w[0]);
    b.setHi(w[1]);
}

GUID GetGuid(wire::Guid::Reader r) {
    std::uint64_t w[2] = {r.getLo(), r.getHi()};
    GUID g;
    std::memcpy(&g, w, sizeof g);
    return g;
}

kj::ArrayPtr<const kj::byte> StrBytes(const WCHAR* s) {
    return kj::ArrayPtr<const kj::byte>(reinterpret_cast<const kj::byte*>(s), com::WStrLen(s) * 2);
}

LPWSTR TaskStringFrom(capnp::Data::Reader d) {
    std::size_t n = d.size() / 2;
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
    if (p == nullptr) return nullptr;
    std::memcpy(p, d.begin(), n * 2);
    p[n] = 0;
    return p;
}

com::WString U16From(capnp::Data::Reader d) {
    com::WString s(d.size() / 2, 0);
    std::memcpy(s.data(), d.begin(), s.size() * 2);
    return s;
}

void SetTime(wire::HdaTime::Builder b, const OPCHDA_TIME& t) {
    b.setBString(t.bString);
    if (t.szTime != nullptr) b.setSzTime(StrBytes(t.szTime));
    b.setFtTime(FileTimeToU64(t.ftTime));
}

void GetTimeBack(wire::HdaTime::Reader r, OPCHDA_TIME* t) {
    t->bString = r.getBString();
    t->ftTime = U64ToFileTime(r.getFtTime());
}

void GetTimeIn(wire::HdaTime::Reader r, OPCHDA_TIME* t, com::WString* keep) {
    t->bString = r.getBString();
    t->ftTime = U64ToFileTime(r.getFtTime());
    if (r.hasSzTime()) {
        *keep = U16From(r.getSzTime());
        t->szTime = keep->data();
    } else {
        t->szTime = nullptr;
    }
}

// ---- VARIANTs ----

// 64-bit Windows pads its VARIANT to 24 bytes (a record's two pointers, which never cross), so there
// the entries are copied to and from their wire images one by one.
static_assert(sizeof(VARIANT) >= kWireVariant && offsetof(VARIANT, llVal) == 8);
static_assert(sizeof(FILETIME) == 8 && sizeof(OPCHDA_EDITTYPE) == 4);
static_assert(std::endian::native == std::endian::little, "the wire carries little-endian memory images");

namespace {

// The BSTR's length in units, checked against the block it lives in. (Windows' BSTRs come from
// OLE Automation's own cache, whose blocks the task allocator cannot measure: there the length is
// taken as the string states it.)
std::size_t CheckedBstrLen(BSTR s) {
#ifdef _WIN32
    return SysStringByteLen(s) / 2;
#else
    const char* block = reinterpret_cast<const char*>(s) - sizeof(DWORD);
    std::size_t size = com::TaskMemSize(block);
    UINT bytes = SysStringByteLen(s);
    if (size < sizeof(DWORD) + bytes) throw MarshalError{RPC_X_BAD_STUB_DATA_HR};
    return bytes / 2;
#endif
}

// Types whose value is a pointer that means nothing on the other side.
bool HoldsPointer(VARTYPE vt) {
    const VARTYPE base = vt & VT_TYPEMASK;
    return (vt & (VT_ARRAY | VT_BYREF)) != 0 || base == VT_UNKNOWN || base == VT_DISPATCH ||
           base == VT_LPSTR || base == VT_LPWSTR || base == VT_BSTR;
}

// A received entry: its pointer, if it holds one, becomes ours or NULL.
bool FixUp(VARIANT* v, ValuesView& view) {
    if (!HoldsPointer(v->vt)) return true;
    const bool present = v->llVal != 0;
    v->llVal = 0;
    if (v->vt != VT_BSTR || !present || view.nextString >= view.strings.size()) return true;
    auto d = view.strings[view.nextString++];
    v->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(d.begin()), UINT(d.size() / 2));
    if (v->bstrVal == nullptr) {
        v->vt = VT_EMPTY;
        return false;
    }
    return true;
}

}  // namespace

void SetValues(wire::Values::Builder b, const VARIANT* v, std::size_t n) {
    auto raw = b.initRaw(n * kWireVariant);
    if constexpr (sizeof(VARIANT) == kWireVariant) {
        std::memcpy(raw.begin(), static_cast<const void*>(v), n * kWireVariant);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            std::memcpy(raw.begin() + i * kWireVariant, static_cast<const void*>(&v[i]), kWireVariant);
    }
    std::size_t strings = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!HoldsPointer(v[i].vt)) continue;
        if (v[i].vt == VT_BSTR) {
            const LONGLONG present = v[i].bstrVal != nullptr ? 1 : 0;
            std::memcpy(raw.begin() + i * kWireVariant + offsetof(VARIANT, llVal), &present, sizeof present);
            if (v[i].bstrVal) ++strings;
        } else if (v[i].byref != nullptr) {
            throw MarshalError{RPC_X_BAD_STUB_DATA_HR};
        }
    }
    if (strings == 0) return;
    auto s = b.initStrings(strings);
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (v[i].vt == VT_BSTR && v[i].bstrVal != nullptr) {
            std::size_t len = CheckedBstrLen(v[i].bstrVal);
            s.set(k++,
                  kj::ArrayPtr<const kj::byte>(reinterpret_cast<const kj::byte*>(v[i].bstrVal), len * 2));
        }
}

namespace {

std::uint64_t HeadOf(const VARIANT& v) {
    std::uint64_t h;
    std::memcpy(&h, &v, sizeof h);
    return h;
}

}  // namespace

bool SetCompactValues(wire::Values::Builder b, const VARIANT* v, std::size_t n) {
    const std::uint64_t head = HeadOf(v[0]);
    if (HoldsPointer(v[0].vt)) return false;
    for (std::size_t i = 1; i < n; ++i)
        if (HeadOf(v[i]) != head) return false;
    b.setHead(head);
    auto tails = b.initTails(n * 8);
    for (std::size_t i = 0; i < n; ++i) std::memcpy(tails.begin() + i * 8, &v[i].llVal, 8);
    return true;
}

ValuesView::ValuesView(wire::Values::Reader r)
    : raw(r.getRaw()), strings(r.getStrings()), tails(r.getTails()), head(r.getHead()) {
    compact = tails.size() > 0;
    const auto vt = VARTYPE(head & 0xFFFF);  // the head's first two bytes
    bad = raw.size() % kWireVariant != 0 ||
          (compact && (raw.size() > 0 || tails.size() % 8 != 0 || HoldsPointer(vt)));
}

bool ValuesView::Get(std::size_t i, VARIANT* out) {
    if constexpr (sizeof(VARIANT) != kWireVariant) std::memset(static_cast<void*>(out), 0, sizeof(VARIANT));
    if (compact) {
        std::memcpy(static_cast<void*>(out), &head, sizeof head);
        std::memcpy(&out->llVal, tails.begin() + i * 8, 8);
        return true;
    }
    std::memcpy(static_cast<void*>(out), raw.begin() + i * kWireVariant, kWireVariant);
    return FixUp(out, *this);
}

bool ValuesView::GetAll(std::size_t n, VARIANT* out) {
    n = std::min(n, size());
    if (compact) {
        for (std::size_t i = 0; i < n; ++i) Get(i, &out[i]);  // no pointers: nothing to allocate
        return true;
    }
    if constexpr (sizeof(VARIANT) == kWireVariant) {
        std::memcpy(static_cast<void*>(out), raw.begin(), n * kWireVariant);
    } else {
        std::memset(static_cast<void*>(out), 0, n * sizeof(VARIANT));
        for (std::size_t i = 0; i < n; ++i)
            std::memcpy(static_cast<void*>(&out[i]), raw.begin() + i * kWireVariant, kWireVariant);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!FixUp(&out[i], *this)) {
            for (std::size_t k = i + 1; k < n; ++k)
                std::memset(static_cast<void*>(&out[k]), 0, sizeof(VARIANT));
            return false;
        }
    }
    return true;
}

void SetStrings(wire::Strings::Builder b, const LPWSTR* s, std::size_t n) {
    auto text = b.initText(n);
    bool anyNull = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (s[i] == nullptr)
            anyNull = true;
        else
            text.set(i, StrBytes(s[i]));
    }
    if (anyNull) {
        auto nulls = b.initIsNull(n);
        for (std::size_t i = 0; i < n; ++i) nulls.set(i, s[i] == nullptr);
    }
}

LPWSTR GetString(wire::Strings::Reader r, std::size_t i, bool* ok) {
    *ok = true;
    if (r.hasIsNull() && i < r.getIsNull().size() && r.getIsNull()[i]) return nullptr;
    if (i >= r.getText().size()) return nullptr;
    LPWSTR p = TaskStringFrom(r.getText()[i]);
    if (p == nullptr) *ok = false;
    return p;
}

// ---- Record arrays ----

namespace {

std::size_t RecordSize(SeriesKind kind) {
    switch (kind) {
        case SeriesKind::Item:
            return sizeof(OPCHDA_ITEM);
        case SeriesKind::Attribute:
            return sizeof(OPCHDA_ATTRIBUTE);
        case SeriesKind::Modified:
            return sizeof(OPCHDA_MODIFIEDITEM);
    }
    return 1;
}

void FreeValues(VARIANT* v) {
    if (v == nullptr) return;
    std::size_t n = com::TaskMemCount(v);
    for (std::size_t i = 0; i < n; ++i) VariantClear(&v[i]);
    CoTaskMemFree(v);
}

void FreeStrings(LPWSTR* s) {
    if (s == nullptr) return;
    std::size_t n = com::TaskMemCount(s);
    for (std::size_t i = 0; i < n; ++i) CoTaskMemFree(s[i]);
    CoTaskMemFree(s);
}

}  // namespace

void FreeSeries(SeriesKind kind, void* records, std::size_t claimed) {
    if (records == nullptr) return;
    std::size_t n =
        RealCount(static_cast<const char*>(records), claimed * RecordSize(kind)) / RecordSize(kind);
    for (std::size_t i = 0; i < n; ++i) {
        switch (kind) {
            case SeriesKind::Item: {
                auto& r = static_cast<OPCHDA_ITEM*>(records)[i];
                CoTaskMemFree(r.pftTimeStamps);
                CoTaskMemFree(r.pdwQualities);
                FreeValues(r.pvDataValues);
                break;
            }
            case SeriesKind::Attribute: {
                auto& r = static_cast<OPCHDA_ATTRIBUTE*>(records)[i];
                CoTaskMemFree(r.ftTimeStamps);
                FreeValues(r.vAttributeValues);
                break;
            }
            case SeriesKind::Modified: {
                auto& r = static_cast<OPCHDA_MODIFIEDITEM*>(records)[i];
                CoTaskMemFree(r.pftTimeStamps);
                CoTaskMemFree(r.pdwQualities);
                FreeValues(r.pvDataValues);
                CoTaskMemFree(r.pftModificationTime);
                CoTaskMemFree(r.pEditType);
                FreeStrings(r.szUser);
                break;
            }
        }
    }
    CoTaskMemFree(records);
}

std::size_t NativeSeries::Record::Longest() const {
    std::size_t n = 0;
    for (const Column* c : {&times, &qualities, &values, &modTimes, &editTypes, &users})
        if (c->len != kNullLen && c->len > n) n = c->len;
    return n;
}

NativeSeries::NativeSeries(SeriesKind kind, void* records, std::size_t claimed, bool compact)
    : m_kind(kind), m_records(records), m_null(records == nullptr), m_compact(compact) {
    if (records == nullptr) return;
    // The count the caller gave bounds the records; the server's block bounds them too.
    const std::size_t size = RecordSize(kind);
    std::size_t n = std::min(claimed, com::TaskMemSize(records) / size);
    m_list.resize(n);
    auto col = [](const auto* p, std::size_t claimedLen, Column* c) {
        c->p = p;
        c->len = p == nullptr ? kNullLen : RealCount(p, claimedLen);
    };
    // The arrays are read to their real length even past the claimed count, so the caller sees the
    // very blocks an in-process server would have given.
    constexpr std::size_t kAll = ~std::size_t(0);
    for (std::size_t i = 0; i < n; ++i) {
        Record& rec = m_list[i];
        switch (kind) {
            case SeriesKind::Item: {
                const auto& r = static_cast<const OPCHDA_ITEM*>(records)[i];
                rec.hClient = r.hClient;
                rec.tag = r.haAggregate;
                rec.count = r.dwCount;
                col(r.pftTimeStamps, kAll, &rec.times);
                col(r.pdwQualities, kAll, &rec.qualities);
                col(r.pvDataValues, kAll, &rec.values);
                break;
            }
            case SeriesKind::Attribute: {
                const auto& r = static_cast<const OPCHDA_ATTRIBUTE*>(records)[i];
                rec.hClient = r.hClient;
                rec.tag = r.dwAttributeID;
                rec.count = r.dwNumValues;
                col(r.ftTimeStamps, kAll, &rec.times);
                col(r.vAttributeValues, kAll, &rec.values);
                break;
            }
            case SeriesKind::Modified: {
                const auto& r = static_cast<const OPCHDA_MODIFIEDITEM*>(records)[i];
                rec.hClient = r.hClient;
                rec.count = r.dwCount;
                col(r.pftTimeStamps, kAll, &rec.times);
                col(r.pdwQualities, kAll, &rec.qualities);
                col(r.pvDataValues, kAll, &rec.values);
                col(r.pftModificationTime, kAll, &rec.modTimes);
                col(r.pEditType, kAll, &rec.editTypes);
                col(r.szUser, kAll, &rec.users);
                break;
            }
        }
    }
}

NativeSeries::~NativeSeries() {
    FreeSeries(m_kind, m_records, m_list.size());
}

void NativeSeries::WriteHeads(wire::Series::Builder b) const {
    if (m_null) return;
    auto heads = b.initHeads(m_list.size());
    for (std::size_t i = 0; i < m_list.size(); ++i) {
        const Record& r = m_list[i];
        auto h = heads[i];
        h.setHClient(r.hClient);
        h.setTag(r.tag);
        h.setCount(r.count);
        h.setTimesLen(std::uint32_t(r.times.len));
        h.setQualitiesLen(std::uint32_t(r.qualities.len));
        h.setValuesLen(std::uint32_t(r.values.len));
        h.setModTimesLen(std::uint32_t(r.modTimes.len));
        h.setEditTypesLen(std::uint32_t(r.editTypes.len));
        h.setUsersLen(std::uint32_t(r.users.len));
    }
}

namespace {

std::size_t Slice(const std::pair<std::size_t, std::size_t>& range, std::size_t len) {
    if (len == kNullLen || range.first >= len) return 0;
    return std::min(range.second, len - range.first);
}

}  // namespace

bool NativeSeries::Plan(std::size_t budget, std::vector<Piece>* plan) {
    std::size_t used = 0;
    while (m_record < m_list.size()) {
        const Record& rec = m_list[m_record];
        const std::size_t longest = rec.Longest();
        if (m_offset >= longest) {
            ++m_record;
            m_offset = 0;
            continue;
        }
        if (used >= budget) return false;
        // About 40 bytes an entry, plus the strings of the values and users.
        const std::size_t room = (budget - used) / 40 + 1;
        std::size_t n = std::min(longest - m_offset, room);
        const auto* values = static_cast<const VARIANT*>(rec.values.p);
        const auto* users = static_cast<const LPWSTR*>(rec.users.p);
        std::size_t bytes = 0;
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t i = m_offset + k;
            std::size_t extra = 40;
            if (values && i < rec.values.len && values[i].vt == VT_BSTR && values[i].bstrVal)
                extra += CheckedBstrLen(values[i].bstrVal) * 2;
            if (users && i < rec.users.len && users[i]) extra += com::WStrLen(users[i]) * 2;
            if (k > 0 && used + bytes + extra > budget) {
                n = k;
                break;
            }
            bytes += extra;
        }
        used += bytes;
        plan->push_back(Piece{m_record, m_offset, n});
        m_offset += n;
    }
    return true;
}

void NativeSeries::Fill(wire::Chunk::Builder c, const Piece& piece) const {
    const Record& rec = m_list[piece.record];
    const std::size_t off = piece.offset;
    c.setRecord(std::uint32_t(piece.record));
    c.setOffset(std::uint32_t(off));
    const std::pair<std::size_t, std::size_t> range{off, piece.n};
    auto bytes = [&](const Column& col, std::size_t size, auto init) {
        if (std::size_t k = Slice(range, col.len)) {
            auto d = init(k * size);
            std::memcpy(d.begin(), static_cast<const char*>(col.p) + off * size, k * size);
        }
    };
    bytes(rec.times, sizeof(FILETIME), [&](std::size_t n) { return c.initTimes(n); });
    const std::size_t nq = Slice(range, rec.qualities.len);
    const auto* q = static_cast<const DWORD*>(rec.qualities.p) + off;
    if (m_compact && nq > 1 && std::all_of(q + 1, q + nq, [&](DWORD x) { return x == q[0]; })) {
        std::memcpy(c.initQualities(sizeof(DWORD)).begin(), q, sizeof(DWORD));
        c.setQualitiesRepeat(std::uint32_t(nq));
    } else {
        bytes(rec.qualities, sizeof(DWORD), [&](std::size_t n) { return c.initQualities(n); });
    }
    if (std::size_t k = Slice(range, rec.values.len)) {
        const auto* v = static_cast<const VARIANT*>(rec.values.p) + off;
        auto b = c.initValues();
        if (!m_compact || !SetCompactValues(b, v, k)) SetValues(b, v, k);
    }
    bytes(rec.modTimes, sizeof(FILETIME), [&](std::size_t n) { return c.initModTimes(n); });
    bytes(rec.editTypes, sizeof(DWORD), [&](std::size_t n) { return c.initEditTypes(n); });
    if (std::size_t k = Slice(range, rec.users.len))
        SetStrings(c.initUsers(), static_cast<const LPWSTR*>(rec.users.p) + off, k);
}

// ---- The caller's side ----

// The caller's arrays are not cleared when allocated: the chunks fill them in order, and whatever
// no chunk filled (a failed call, a host that sent less) is cleared before the arrays are freed or
// handed over.
SeriesBuilder::~SeriesBuilder() {
    ClearTails();
    FreeSeries(m_kind, m_records, m_count);
}

void SeriesBuilder::ClearTails() {
    for (Pending& rec : m_pending)
        for (Column& col : rec.cols) {
            if (col.p == nullptr) continue;
            const std::size_t from = std::min(rec.next, col.len);
            std::memset(static_cast<char*>(col.p) + from * col.elem, 0, (col.len - from) * col.elem);
            col.p = nullptr;
        }
    m_pending.clear();
}

namespace {

template <class T>
bool AllocColumn(std::uint32_t len, T** out) {
    *out = nullptr;
    if (len == kNullLen) return true;
    *out = static_cast<T*>(CoTaskMemAlloc(std::size_t(len) * sizeof(T)));
    return *out != nullptr;
}

}  // namespace

bool SeriesBuilder::Begin(wire::Series::Reader r) {
    if (!r.hasHeads()) return true;
    auto heads = r.getHeads();
    const std::size_t size = RecordSize(m_kind);
    m_records = CoTaskMemAlloc(heads.size() * size);
    if (m_records == nullptr) return false;
    std::memset(m_records, 0, heads.size() * size);
    m_count = heads.size();
    m_pending.resize(heads.size());
    for (std::size_t i = 0; i < heads.size(); ++i) {
        auto h = heads[i];
        auto& cols = m_pending[i].cols;
        // In the order of a chunk's columns: times, qualities, values, modTimes, editTypes, users.
        auto alloc = [&](std::size_t col, std::uint32_t len, auto** out) {
            const bool ok = AllocColumn(len, out);
            cols[col] = Column{*out, *out ? std::size_t(len) : 0, sizeof(**out)};
            return ok;
        };
        bool ok = true;
        switch (m_kind) {
            case SeriesKind::Item: {
                auto& rec = static_cast<OPCHDA_ITEM*>(m_records)[i];
                rec.hClient = h.getHClient();
                rec.haAggregate = h.getTag();
                rec.dwCount = h.getCount();
                ok = alloc(0, h.getTimesLen(), &rec.pftTimeStamps) &&
                     alloc(1, h.getQualitiesLen(), &rec.pdwQualities) &&
                     alloc(2, h.getValuesLen(), &rec.pvDataValues);
                break;
            }
            case SeriesKind::Attribute: {
                auto& rec = static_cast<OPCHDA_ATTRIBUTE*>(m_records)[i];
                rec.hClient = h.getHClient();
                rec.dwAttributeID = h.getTag();
                rec.dwNumValues = h.getCount();
                ok = alloc(0, h.getTimesLen(), &rec.ftTimeStamps) &&
                     alloc(2, h.getValuesLen(), &rec.vAttributeValues);
                break;
            }
            case SeriesKind::Modified: {
                auto& rec = static_cast<OPCHDA_MODIFIEDITEM*>(m_records)[i];
                rec.hClient = h.getHClient();
                rec.dwCount = h.getCount();
                ok = alloc(0, h.getTimesLen(), &rec.pftTimeStamps) &&
                     alloc(1, h.getQualitiesLen(), &rec.pdwQualities) &&
                     alloc(2, h.getValuesLen(), &rec.pvDataValues) &&
                     alloc(3, h.getModTimesLen(), &rec.pftModificationTime) &&
                     alloc(4, h.getEditTypesLen(), &rec.pEditType) && alloc(5, h.getUsersLen(), &rec.szUser);
                break;
            }
        }
        if (!ok) return false;
    }
    return true;
}

HRESULT SeriesBuilder::Add(capnp::List<wire::Chunk>::Reader chunks) {
    for (auto c : chunks) {
        if (c.getRecord() >= m_count) return RPC_X_BAD_STUB_DATA_HR;
        Pending& rec = m_pending[c.getRecord()];
        // Each record's chunks come in order, each once: a chunk starts where the last one ended.
        const std::size_t off = c.getOffset();
        if (off != rec.next) return RPC_X_BAD_STUB_DATA_HR;
        const capnp::Data::Reader bytes[6] = {c.getTimes(),    c.getQualities(), {},
                                              c.getModTimes(), c.getEditTypes(), {}};
        ValuesView values(c.getValues());
        auto users = c.getUsers();
        std::size_t given[6];
        for (std::size_t k = 0; k < 6; ++k) {
            if (bytes[k].size() % rec.cols[k].elem != 0) return RPC_X_BAD_STUB_DATA_HR;
            given[k] = bytes[k].size() / rec.cols[k].elem;
        }
        // One quality for a run of entries: exactly one, for at least one entry.
        const std::size_t repeat = c.getQualitiesRepeat();
        if (repeat > 0) {
            if (bytes[1].size() != sizeof(DWORD)) return RPC_X_BAD_STUB_DATA_HR;
            given[1] = repeat;
        }
        if (values.bad) return RPC_X_BAD_STUB_DATA_HR;
        given[2] = values.size();
        given[5] = users.getText().size();
        const std::size_t n = *std::max_element(given, given + 6);
        // Every column carries its share of the chunk's entries: all of them, or up to its end.
        for (std::size_t k = 0; k < 6; ++k) {
            const Column& col = rec.cols[k];
            const std::size_t expected = col.p == nullptr || off >= col.len ? 0 : std::min(n, col.len - off);
            if (given[k] != expected) return RPC_X_BAD_STUB_DATA_HR;
        }
        for (std::size_t k : {0, 1, 3, 4}) {
            if (given[k] == 0) continue;
            char* to = static_cast<char*>(rec.cols[k].p) + off * rec.cols[k].elem;
            if (k == 1 && repeat > 0) {
                DWORD q;
                std::memcpy(&q, bytes[1].begin(), sizeof q);
                std::fill_n(reinterpret_cast<DWORD*>(to), repeat, q);
            } else {
                std::memcpy(to, bytes[k].begin(), bytes[k].size());
            }
        }
        rec.next = off + n;
        bool ok = true;
        if (given[2] > 0) ok = values.GetAll(given[2], static_cast<VARIANT*>(rec.cols[2].p) + off);
        auto* out = static_cast<LPWSTR*>(rec.cols[5].p);
        for (std::size_t j = 0; j < given[5]; ++j) {
            bool got = ok;
            out[off + j] = got ? GetString(users, j, &got) : nullptr;
            ok = got;
        }
        if (!ok) return E_OUTOFMEMORY;
    }
    return S_OK;
}

void* SeriesBuilder::Release() {
    ClearTails();
    m_count = 0;
    return std::exchange(m_records, nullptr);
}

}  // namespace vistrel::remote

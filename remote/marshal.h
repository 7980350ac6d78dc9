// Conversions between the records of the COM interfaces and their wire form (wire.capnp), both ways.
// Reading a native array never goes past what its owner really allocated (com::TaskMemCount for
// server-returned blocks); building one for a caller always uses CoTaskMemAlloc.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "com/text.h"
#include "hda/opchda.h"
#include "wire.capnp.h"

namespace vistrel::remote {

// HRESULT_FROM_WIN32(RPC_X_BAD_STUB_DATA): a value that cannot cross (an interface pointer, an
// array or a reference inside a VARIANT).
constexpr HRESULT RPC_X_BAD_STUB_DATA_HR = MAKE_HRESULT_U(0x800706F7);
constexpr HRESULT RPC_E_SERVERFAULT_HR = MAKE_HRESULT_U(0x80010105);
constexpr std::uint32_t kNullLen = 0xFFFFFFFFu;
// The wire carries each VARIANT as a 16-byte image: vt, the three reserved words and the 8-byte value.
constexpr std::size_t kWireVariant = 16;

// Thrown while marshalling; the call answers its code.
struct MarshalError {
    HRESULT hr;
};

void SetGuid(wire::Guid::Builder b, const GUID& g);
GUID GetGuid(wire::Guid::Reader r);

// UTF-16 units as Data; NULL stays absent.
kj::ArrayPtr<const kj::byte> StrBytes(const WCHAR* s);
LPWSTR TaskStringFrom(capnp::Data::Reader d);  // CoTaskMemAlloc'd
com::WString U16From(capnp::Data::Reader d);

void SetTime(wire::HdaTime::Builder b, const OPCHDA_TIME& t);
// Into a caller's record: a string the caller passed is left alone; the server's rewrite of ftTime
// and bString comes back. (A new szTime the server allocated is not carried back.)
void GetTimeBack(wire::HdaTime::Reader r, OPCHDA_TIME* t);
// A record the stub passes to the server: szTime is owned by `keep`.
void GetTimeIn(wire::HdaTime::Reader r, OPCHDA_TIME* t, com::WString* keep);

// Values: throws MarshalError for a value that cannot cross.
void SetValues(wire::Values::Builder b, const VARIANT* v, std::size_t n);
// The compact form of n > 0 values, when they allow it (same vt and reserved words, no pointer);
// false leaves `b` untouched.
bool SetCompactValues(wire::Values::Builder b, const VARIANT* v, std::size_t n);
// The columns of a Values, resolved once (each getter of a message walks its pointers again).
struct ValuesView {
    explicit ValuesView(wire::Values::Reader r);
    capnp::Data::Reader raw;
    capnp::List<capnp::Data>::Reader strings;
    capnp::Data::Reader tails;  // the compact form: `head` and the last 8 bytes of each entry
    std::uint64_t head = 0;
    bool compact = false;
    bool bad = false;  // contradicts itself (a partial entry, both forms, a pointer type made compact)
    std::size_t nextString = 0;
    std::size_t size() const { return bad ? 0 : compact ? tails.size() / 8 : raw.size() / kWireVariant; }
    // Entry i into `out` (BSTRs allocated with SysAllocStringLen); entries are read in order.
    // Returns false when out of memory.
    bool Get(std::size_t i, VARIANT* out);
    // Entries [0, n) into out[0..n), which must hold no strings yet; false when out of memory (the
    // entries not filled are VT_EMPTY).
    bool GetAll(std::size_t n, VARIANT* out);
};

void SetStrings(wire::Strings::Builder b, const LPWSTR* s, std::size_t n);
// Entry i as a task string (nullptr for a NULL entry; *ok false when out of memory).
LPWSTR GetString(wire::Strings::Reader r, std::size_t i, bool* ok);

template <class T>
inline std::size_t RealCount(const T* p, std::size_t claimed) {
    if (p == nullptr) return 0;
    std::size_t n = com::TaskMemCount(p);
    return n < claimed ? n : claimed;
}

// ---- Record arrays (OPCHDA_ITEM, OPCHDA_ATTRIBUTE, OPCHDA_MODIFIEDITEM) ----

enum class SeriesKind { Item, Attribute, Modified };

// What a server returned, owned by the stub until every chunk has been sent; frees it as the
// caller would.
class NativeSeries {
public:
    // compact: the receiver reads the compact forms of the wire.
    NativeSeries(SeriesKind kind, void* records, std::size_t claimed, bool compact = false);
    ~NativeSeries();
    NativeSeries(const NativeSeries&) = delete;
    NativeSeries& operator=(const NativeSeries&) = delete;

    void WriteHeads(wire::Series::Builder b) const;
    // Writes the next chunks into `list` (initialised by the call), up to about `budget` bytes.
    // Returns true when everything has been written.
    template <class Init>
    bool WriteChunks(std::size_t budget, Init init) {
        std::vector<Piece> plan;
        bool done = Plan(budget, &plan);
        auto list = init(plan.size());
        for (std::size_t i = 0; i < plan.size(); ++i) Fill(list[i], plan[i]);
        return done;
    }

private:
    struct Column {
        const void* p = nullptr;
        std::size_t len = kNullLen;
    };
    struct Record {
        OPCHANDLE hClient = 0;
        DWORD tag = 0;
        DWORD count = 0;
        Column times, qualities, values, modTimes, editTypes, users;
        std::size_t Longest() const;
    };
    struct Piece {
        std::size_t record, offset, n;
    };
    bool Plan(std::size_t budget, std::vector<Piece>* plan);
    void Fill(wire::Chunk::Builder c, const Piece& piece) const;

    SeriesKind m_kind;
    void* m_records;
    bool m_null;
    bool m_compact;
    std::vector<Record> m_list;
    std::size_t m_record = 0, m_offset = 0;
};

// Builds the caller's record array from the heads and the chunks as they come.
class SeriesBuilder {
public:
    explicit SeriesBuilder(SeriesKind kind) : m_kind(kind) {}
    ~SeriesBuilder();  // frees whatever was not handed over
    // false: out of memory, or heads that contradict themselves.
    bool Begin(wire::Series::Reader r);
    // S_OK; E_OUTOFMEMORY; RPC_X_BAD_STUB_DATA for a chunk out of order, sent twice, or whose
    // columns contradict the heads.
    HRESULT Add(capnp::List<wire::Chunk>::Reader chunks);
    // Hands the array over (nullptr for a NULL array).
    void* Release();

private:
    struct Column {
        void* p = nullptr;
        std::size_t len = 0;
        std::size_t elem = 1;
    };
    // One record's arrays, in a chunk's column order; entries [0, next) have been filled.
    struct Pending {
        std::size_t next = 0;
        Column cols[6];
    };
    void ClearTails();
    SeriesKind m_kind;
    void* m_records = nullptr;
    std::size_t m_count = 0;
    std::vector<Pending> m_pending;
};

void FreeSeries(SeriesKind kind, void* records, std::size_t claimed);

}  // namespace vistrel::remote

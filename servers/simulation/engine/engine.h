// The simulation historian's engine: one per server object. It owns the address space, the store
// and the item handles, and carries out every call of the HDA interfaces on plain C++ types; the
// COM objects only translate arguments and results. Calls are serialised by the engine.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "servers/simulation/engine/addressspace.h"
#include "servers/simulation/engine/aggregates.h"
#include "servers/simulation/engine/attributes.h"
#include "servers/simulation/engine/config.h"
#include "servers/simulation/engine/store.h"

namespace sim {

constexpr WORD kVersionMajor = 1;
constexpr WORD kVersionMinor = 0;
constexpr WORD kVersionBuild = 1;
// An aggregate call may compute this many generated samples for each value a call may return.
constexpr std::uint64_t kGeneratedPerCallValue = 100;

// An OPCHDA_TIME as given: a relative time string (empty: not given) or an absolute instant.
struct TimeArg {
    bool isString = true;
    std::u16string text;
    Ticks ft = 0;
    static TimeArg Null() { return TimeArg{}; }
    static TimeArg At(Ticks t) { return TimeArg{false, {}, t}; }
    static TimeArg Text(std::u16string s) { return TimeArg{true, std::move(s), 0}; }
};

// Resolves a time argument against now: empty when not given; false when unreadable.
bool ResolveTime(const TimeArg& arg, Ticks now, std::optional<Ticks>* out);

struct ItemRead {
    OPCHANDLE hClient = 0;
    DWORD aggregate = OPCHDA_NOAGGREGATE;
    HRESULT code = S_OK;
    std::vector<Sample> samples;
};

struct ReadCall {
    HRESULT hr = S_OK;  // a failure: the call failed and nothing else is valid
    std::vector<ItemRead> items;
    std::optional<Ticks> start, end;  // resolved times, to write back
};

struct ModifiedRead {
    OPCHANDLE hClient = 0;
    HRESULT code = S_OK;
    std::vector<ModifiedValue> values;
};

struct ModifiedCall {
    HRESULT hr = S_OK;
    std::vector<ModifiedRead> items;
    std::optional<Ticks> start, end;
};

struct AttributeRead {
    DWORD id = 0;
    HRESULT code = S_OK;
    std::vector<Ticks> times;
    std::vector<Value> values;
};

struct AttributeCall {
    HRESULT hr = S_OK;
    OPCHANDLE hClient = 0;
    std::vector<AttributeRead> attributes;
    std::optional<Ticks> start, end;
};

struct UpdateCall {
    HRESULT hr = S_OK;
    std::vector<HRESULT> codes;
    std::optional<Ticks> start, end;  // DeleteRaw
};

struct StatusInfo {
    OPCHDA_SERVERSTATUS status = OPCHDA_UP;
    Ticks now = 0, start = 0;
    DWORD maxValues = 0;
    std::u16string text, vendor;
};

// Converts entry `index` of an update call to a value of type vt; empty when it does not convert.
using ValueConverter = std::function<std::optional<Value>(std::size_t index, VARTYPE vt)>;

class Engine {
public:
    // Reads the items file, opens the store. Never fails: problems show in the status.
    Engine(Config config, Ticks startTime);

    const Config& config() const { return m_config; }
    std::shared_ptr<const AddressSpace> space() const { return m_space; }
    Store& store() { return *m_store; }

    StatusInfo Status(Ticks now);
    // What item attributes report about this server now.
    AttributeContext attributeContext() const;
    void SetClientName(std::u16string name);

    // Item handles.
    HRESULT ValidateItemId(std::u16string_view id) const;
    std::vector<HRESULT> GetItemHandles(std::span<const std::u16string> ids,
                                        std::span<const OPCHANDLE> clients, std::vector<OPCHANDLE>* servers);
    std::vector<HRESULT> ReleaseItemHandles(std::span<const OPCHANDLE> servers);

    // Reads. `now` is the instant relative times resolve against.
    ReadCall ReadRaw(const TimeArg& start, const TimeArg& end, DWORD numValues, bool bounds,
                     std::span<const OPCHANDLE> handles, Ticks now);
    ReadCall ReadProcessed(const TimeArg& start, const TimeArg& end, Ticks interval,
                           std::span<const OPCHANDLE> handles, std::span<const DWORD> aggregates, Ticks now);
    ReadCall ReadAtTime(std::span<const Ticks> times, std::span<const OPCHANDLE> handles);
    ModifiedCall ReadModified(const TimeArg& start, const TimeArg& end, DWORD numValues,
                              std::span<const OPCHANDLE> handles, Ticks now);
    AttributeCall ReadAttribute(const TimeArg& start, const TimeArg& end, OPCHANDLE handle,
                                std::span<const DWORD> attributeIds, Ticks now);

    // Updates: one entry per value, processed in order, in one transaction.
    UpdateCall Update(EditOp op, std::span<const OPCHANDLE> handles, std::span<const Ticks> times,
                      std::span<const DWORD> qualities, const ValueConverter& convert, Ticks now);
    UpdateCall DeleteAtTime(std::span<const OPCHANDLE> handles, std::span<const Ticks> times, Ticks now);
    UpdateCall DeleteRaw(const TimeArg& start, const TimeArg& end, std::span<const OPCHANDLE> handles,
                         Ticks now);

private:
    struct Handle {
        int item;
        OPCHANDLE client;
    };
    const Handle* Find(OPCHANDLE server) const;
    std::unique_ptr<Series> OpenSeries(const ItemDef& item);
    std::u16string User() const;
    static HRESULT Overall(const std::vector<HRESULT>& codes);
    // One record per handle, in handle order: an unknown handle gets OPC_E_INVALIDHANDLE, a store
    // failure its own code with no data; readItem(k, item, record) reads the others. Returns the
    // call's overall code.
    template <class Read, class Fn>
    HRESULT ReadEachItem(std::span<const OPCHANDLE> handles, std::vector<Read>& out, Fn&& readItem);

    mutable std::mutex m_mutex;
    Config m_config;
    Ticks m_startTime;
    std::shared_ptr<AddressSpace> m_space;
    std::unique_ptr<Store> m_store;
    std::vector<std::string> m_itemProblems;
    std::unordered_map<OPCHANDLE, Handle> m_handles;
    OPCHANDLE m_nextHandle = 1;
    std::u16string m_clientName;
    AttributeContext m_attrContext;
};

}  // namespace sim

// The history of writable items in SQLite: one row per value, one transaction per update call.
//
// Schema (user_version 1):
//   items(id INTEGER PRIMARY KEY, name TEXT UNIQUE)   stable keys for item IDs
//   samples(item, time, quality, value)               PRIMARY KEY (item, time), WITHOUT ROWID
//   modifications(item, time, modtime, edit, quality, value, user), indexed on (item, time)
// `time` holds FILETIME ticks; `quality` holds the DA quality in its low 16 bits and the value's
// VARTYPE in the high 16 bits; `value` is an INTEGER (integers, BOOL, CY ×10,000), a REAL (R4, R8,
// DATE) or TEXT (BSTR).
//
// The database runs in WAL mode with synchronous=NORMAL: a process killed at any moment leaves
// every call either wholly written or not at all (a power failure may lose the last calls, never
// part of one). A database that cannot be opened for writing, is corrupt or is locked leaves the
// store in a degraded state that the status text explains; reads of stored items and updates
// then fail with the code of the problem.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "servers/simulation/engine/series.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sim {

struct StoredColumns;

// Failure codes for a store that cannot do what was asked (Win32 codes as HRESULTs).
constexpr HRESULT kHrLocked = MAKE_HRESULT_U(0x80070021);      // ERROR_LOCK_VIOLATION
constexpr HRESULT kHrCorrupt = MAKE_HRESULT_U(0x80070570);     // ERROR_FILE_CORRUPT
constexpr HRESULT kHrDiskFull = MAKE_HRESULT_U(0x80070070);    // ERROR_DISK_FULL
constexpr HRESULT kHrOpenFailed = MAKE_HRESULT_U(0x8007006E);  // ERROR_OPEN_FAILED
constexpr HRESULT kHrReadOnly = E_ACCESSDENIED;

struct StoreOptions {
    std::string path;  // a file name, ":memory:", or an SQLite URI ("file:...?mode=ro")
    int busyTimeoutMs = 2000;
    std::size_t cacheValues = 2'000'000;  // values kept in memory for fast reads; 0 disables
};

enum class StoreState {
    Ok,
    ReadOnly,     // stored history reads; updates fail with kHrReadOnly
    Unavailable,  // nothing stored can be read or written; see failureCode()
};

enum class EditOp { Insert, Replace, InsertReplace, DeleteAtTime };

struct Edit {
    std::int64_t key = -1;  // from Key()
    Ticks t = 0;
    DWORD quality = 0;    // DA quality (low 16 bits kept)
    Value v;              // not used by DeleteAtTime
    HRESULT code = S_OK;  // in: S_OK to process, a failure to skip; out: the entry's result
};

struct RangeDelete {
    std::int64_t key = -1;
    Ticks lo = 0, hi = 0;  // closed range
    HRESULT code = S_OK;   // in/out as in Edit
};

struct ModifiedValue {
    Sample sample;  // the superseded value, quality DA | OPCHDA_RAW
    Ticks modTime = 0;
    OPCHDA_EDITTYPE edit = OPCHDA_REPLACE;
    std::u16string user;
};

class Store {
public:
    // Opens (or creates) the database and the rows of the given writable item IDs. Never throws:
    // problems leave the store degraded.
    Store(StoreOptions options, std::vector<std::u16string> itemIds);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    StoreState state() const { return m_state; }
    // The code updates and stored reads fail with when the store is degraded.
    HRESULT failureCode() const { return m_failure; }
    // One line about the database: where it is and what is wrong with it, if anything.
    std::string statusText() const;
    const std::string& path() const { return m_options.path; }

    // Key of an item ID, or -1 when the store knows no such item (then it has no history).
    std::int64_t Key(std::u16string_view itemId) const;

    // Call before each call's reads: retries a locked database and notices what other connections
    // committed since the last call.
    void BeginCall();

    // The stored history of one item, valid until the next update or BeginCall. Throws SeriesError
    // when the store is unavailable.
    std::unique_ptr<Series> OpenSeries(std::int64_t key);

    // Runs one update call in one transaction. Entries are processed in order, so a later entry
    // sees the effect of an earlier one. Per entry: Insert S_OK / OPC_E_DATAEXISTS; Replace S_OK /
    // OPC_E_NODATAEXISTS; InsertReplace OPC_S_INSERTED / OPC_S_REPLACED; DeleteAtTime S_OK /
    // OPC_S_NODATA. When the transaction cannot be written, every entry gets the failure code.
    // Replaced and deleted values are kept for ReadModified, with modTime and user.
    void Apply(EditOp op, std::vector<Edit>& edits, Ticks modTime, const std::u16string& user);
    // DeleteRaw: S_OK when anything was deleted, OPC_S_NODATA otherwise.
    void DeleteRanges(std::vector<RangeDelete>& ranges, Ticks modTime, const std::u16string& user);

    // Superseded values with lo <= time <= hi, by time (descending when backward), the newest
    // modification of an instant first; at most max. Throws SeriesError.
    std::size_t ReadModified(std::int64_t key, Ticks lo, Ticks hi, bool backward, std::size_t max,
                             std::vector<ModifiedValue>& out);

private:
    friend class SqlSeries;

public:
    struct Stmt;  // a prepared statement (opaque)

private:
    void Open();
    void Close();
    void Degrade(StoreState state, HRESULT code, std::string why);
    void Prepare();
    void RegisterItems();
    [[noreturn]] void Fail(int rc, const char* what);
    HRESULT CodeOf(int rc) const;
    void Exec(const char* sql);
    void Invalidate(std::int64_t key);
    void InvalidateAll();
    std::shared_ptr<const StoredColumns> Load(std::int64_t key);

    StoreOptions m_options;
    std::vector<std::u16string> m_itemIds;
    sqlite3* m_db = nullptr;
    StoreState m_state = StoreState::Unavailable;
    HRESULT m_failure = E_FAIL;
    std::string m_problem;
    bool m_retryOpen = false;  // the database was locked at open: try again on the next call
    std::map<std::u16string, std::int64_t, std::less<>> m_keys;
    std::vector<std::unique_ptr<Stmt>> m_stmts;
    Stmt* m_insertIgnore = nullptr;
    Stmt* m_selectAt = nullptr;
    Stmt* m_update = nullptr;
    Stmt* m_deleteAt = nullptr;
    Stmt* m_insertMod = nullptr;
    Stmt* m_modRange = nullptr;
    Stmt* m_deleteRange = nullptr;
    Stmt* m_readAsc = nullptr;
    Stmt* m_readDesc = nullptr;
    Stmt* m_floorAny = nullptr;
    Stmt* m_floorGood = nullptr;
    Stmt* m_ceilAny = nullptr;
    Stmt* m_ceilGood = nullptr;
    Stmt* m_modsAsc = nullptr;
    Stmt* m_modsDesc = nullptr;
    Stmt* m_loadAll = nullptr;
    Stmt* m_dataVersion = nullptr;
    std::int64_t m_lastDataVersion = -1;

    // Cache: whole histories of recently read items, least recently used dropped first.
    std::unordered_map<std::int64_t, std::shared_ptr<const StoredColumns>> m_cache;
    std::list<std::int64_t> m_lru;  // front = most recent
    std::set<std::int64_t> m_tooBig;
    std::size_t m_cacheTotal = 0;
};

}  // namespace sim

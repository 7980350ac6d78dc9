// The SQLite store.
#include "servers/simulation/engine/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>

#include "com/text.h"

namespace sim {

struct Store::Stmt {
    sqlite3_stmt* s = nullptr;
    ~Stmt() { sqlite3_finalize(s); }
};

namespace {

// Resets a statement when the scope ends, however it ends.
class Use {
public:
    explicit Use(Store::Stmt* st);
    ~Use() { sqlite3_reset(m_s); }
    sqlite3_stmt* operator*() const { return m_s; }

private:
    sqlite3_stmt* m_s;
};

std::int64_t Clamp64(Ticks t) {
    return static_cast<std::int64_t>(t > kMaxTicks ? kMaxTicks : t);
}
std::int64_t Limit(std::size_t n) {
    return n > static_cast<std::size_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(n);
}

DWORD PackQuality(VARTYPE vt, DWORD quality) {
    return (static_cast<DWORD>(vt) << 16) | DaPart(quality);
}

int BindValue(sqlite3_stmt* s, int index, const Value& v) {
    if (v.vt == VT_BSTR)
        return sqlite3_bind_text16(s, index, v.s.data(), static_cast<int>(v.s.size() * sizeof(char16_t)),
                                   SQLITE_TRANSIENT);
    if (IsRealType(v.vt)) return sqlite3_bind_double(s, index, v.d);
    return sqlite3_bind_int64(s, index, v.i);
}

// A stored value of the type recorded with it.
Value ColumnValue(sqlite3_stmt* s, int index, VARTYPE vt) {
    if (vt == VT_BSTR) {
        const void* p = sqlite3_column_text16(s, index);
        int bytes = sqlite3_column_bytes16(s, index);
        return Value::Text(
            p ? std::u16string(static_cast<const char16_t*>(p), static_cast<std::size_t>(bytes) / 2)
              : std::u16string());
    }
    if (IsRealType(vt)) return Value::Real(vt, sqlite3_column_double(s, index));
    return Value::Int(vt, sqlite3_column_int64(s, index));
}

// time, quality, value in columns 0..2.
Sample RowSample(sqlite3_stmt* s) {
    Sample r;
    r.t = static_cast<Ticks>(sqlite3_column_int64(s, 0));
    DWORD packed = static_cast<DWORD>(sqlite3_column_int64(s, 1));
    r.quality = DaPart(packed);
    r.v = ColumnValue(s, 2, static_cast<VARTYPE>(packed >> 16));
    return r;
}

std::u16string ToU16(const std::string& s) {
    return com::Utf8ToUtf16(s);
}

}  // namespace

Use::Use(Store::Stmt* st) : m_s(st->s) {}

// Whole histories in memory, column by column.
struct StoredColumns {
    std::vector<Ticks> t;
    std::vector<DWORD> q;              // packed as in the table
    std::vector<std::int64_t> bits;    // Value::i, or the bits of Value::d
    std::vector<std::u16string> text;  // parallel to t when any value is text, else empty

    Point PointAt(std::size_t k) const {
        const VARTYPE vt = static_cast<VARTYPE>(q[k] >> 16);
        Point p{t[k], DaPart(q[k]), 0, true};
        switch (vt) {
            case VT_R4:
            case VT_R8:
            case VT_DATE:
                p.x = std::bit_cast<double>(bits[k]);
                break;
            case VT_CY:
                p.x = static_cast<double>(bits[k]) / 10000.0;
                break;
            case VT_BOOL:
                p.x = bits[k] ? 1.0 : 0.0;
                break;
            case VT_BSTR:
                p.numeric = false;
                break;
            default:
                p.x = static_cast<double>(bits[k]);
                break;
        }
        return p;
    }

    Sample At(std::size_t k) const {
        Sample s;
        s.t = t[k];
        s.quality = DaPart(q[k]);
        VARTYPE vt = static_cast<VARTYPE>(q[k] >> 16);
        s.v.vt = vt;
        if (vt == VT_BSTR) {
            if (!text.empty()) s.v.s = text[k];
        } else if (IsRealType(vt)) {
            s.v.d = std::bit_cast<double>(bits[k]);
        } else {
            s.v.i = bits[k];
        }
        return s;
    }
};

namespace {

class ColumnSeries : public Series {
public:
    explicit ColumnSeries(std::shared_ptr<const StoredColumns> c) : m_c(std::move(c)), m_t(m_c->t) {}

    std::size_t Read(Ticks lo, Ticks hi, bool backward, std::size_t max, std::vector<Sample>& out) override {
        if (lo > hi || max == 0) return 0;
        std::size_t b = static_cast<std::size_t>(std::lower_bound(m_t.begin(), m_t.end(), lo) - m_t.begin());
        std::size_t e = static_cast<std::size_t>(std::upper_bound(m_t.begin(), m_t.end(), hi) - m_t.begin());
        std::size_t n = std::min(e - b, max);
        out.reserve(out.size() + n);
        for (std::size_t k = 0; k < n; ++k) out.push_back(m_c->At(backward ? e - 1 - k : b + k));
        return n;
    }
    std::size_t ReadPoints(Ticks lo, Ticks hi, std::size_t max, std::vector<Point>& out) override {
        if (lo > hi || max == 0) return 0;
        std::size_t b = static_cast<std::size_t>(std::lower_bound(m_t.begin(), m_t.end(), lo) - m_t.begin());
        std::size_t e = static_cast<std::size_t>(std::upper_bound(m_t.begin(), m_t.end(), hi) - m_t.begin());
        std::size_t n = std::min(e - b, max);
        out.reserve(out.size() + n);
        for (std::size_t k = b; k < b + n; ++k) out.push_back(m_c->PointAt(k));
        return n;
    }
    std::optional<Sample> Floor(Ticks t, bool goodOnly) override {
        std::size_t k = static_cast<std::size_t>(std::upper_bound(m_t.begin(), m_t.end(), t) - m_t.begin());
        while (k > 0) {
            --k;
            if (!goodOnly || IsGood(m_c->q[k])) return m_c->At(k);
        }
        return std::nullopt;
    }
    std::optional<Sample> Ceil(Ticks t, bool goodOnly) override {
        for (std::size_t k =
                 static_cast<std::size_t>(std::lower_bound(m_t.begin(), m_t.end(), t) - m_t.begin());
             k < m_t.size(); ++k)
            if (!goodOnly || IsGood(m_c->q[k])) return m_c->At(k);
        return std::nullopt;
    }

private:
    std::shared_ptr<const StoredColumns> m_c;
    const std::vector<Ticks>& m_t;
};

class EmptySeries : public Series {
public:
    std::size_t Read(Ticks, Ticks, bool, std::size_t, std::vector<Sample>&) override { return 0; }
    std::optional<Sample> Floor(Ticks, bool) override { return std::nullopt; }
    std::optional<Sample> Ceil(Ticks, bool) override { return std::nullopt; }
};

}  // namespace

// Reads one item's rows straight from the database.
class SqlSeries : public Series {
public:
    SqlSeries(Store& store, std::int64_t key) : m_store(store), m_key(key) {}

    std::size_t Read(Ticks lo, Ticks hi, bool backward, std::size_t max, std::vector<Sample>& out) override {
        if (lo > hi || max == 0 || lo > kMaxTicks) return 0;
        Use u(backward ? m_store.m_readDesc : m_store.m_readAsc);
        sqlite3_bind_int64(*u, 1, m_key);
        sqlite3_bind_int64(*u, 2, Clamp64(lo));
        sqlite3_bind_int64(*u, 3, Clamp64(hi));
        sqlite3_bind_int64(*u, 4, Limit(max));
        std::size_t n = 0;
        int rc;
        while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
            out.push_back(RowSample(*u));
            ++n;
        }
        if (rc != SQLITE_DONE) m_store.Fail(rc, "reading history");
        return n;
    }
    std::size_t ReadPoints(Ticks lo, Ticks hi, std::size_t max, std::vector<Point>& out) override {
        if (lo > hi || max == 0 || lo > kMaxTicks) return 0;
        Use u(m_store.m_readAsc);
        sqlite3_bind_int64(*u, 1, m_key);
        sqlite3_bind_int64(*u, 2, Clamp64(lo));
        sqlite3_bind_int64(*u, 3, Clamp64(hi));
        sqlite3_bind_int64(*u, 4, Limit(max));
        std::size_t n = 0;
        int rc;
        while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
            const DWORD packed = static_cast<DWORD>(sqlite3_column_int64(*u, 1));
            const VARTYPE vt = static_cast<VARTYPE>(packed >> 16);
            Point p{static_cast<Ticks>(sqlite3_column_int64(*u, 0)), DaPart(packed), 0, vt != VT_BSTR};
            if (vt == VT_CY)
                p.x = static_cast<double>(sqlite3_column_int64(*u, 2)) / 10000.0;
            else if (vt == VT_BOOL)
                p.x = sqlite3_column_int64(*u, 2) ? 1.0 : 0.0;
            else if (p.numeric)
                p.x = sqlite3_column_double(*u, 2);
            out.push_back(p);
            ++n;
        }
        if (rc != SQLITE_DONE) m_store.Fail(rc, "reading history");
        return n;
    }
    std::optional<Sample> Floor(Ticks t, bool goodOnly) override {
        return One(goodOnly ? m_store.m_floorGood : m_store.m_floorAny, Clamp64(t));
    }
    std::optional<Sample> Ceil(Ticks t, bool goodOnly) override {
        if (t > kMaxTicks) return std::nullopt;
        return One(goodOnly ? m_store.m_ceilGood : m_store.m_ceilAny, Clamp64(t));
    }

private:
    std::optional<Sample> One(Store::Stmt* st, std::int64_t t) {
        Use u(st);
        sqlite3_bind_int64(*u, 1, m_key);
        sqlite3_bind_int64(*u, 2, t);
        int rc = sqlite3_step(*u);
        if (rc == SQLITE_ROW) return RowSample(*u);
        if (rc != SQLITE_DONE) m_store.Fail(rc, "reading history");
        return std::nullopt;
    }

    Store& m_store;
    std::int64_t m_key;
};

Store::Store(StoreOptions options, std::vector<std::u16string> itemIds)
    : m_options(std::move(options)), m_itemIds(std::move(itemIds)) {
    Open();
}

Store::~Store() {
    Close();
}

void Store::Close() {
    InvalidateAll();
    m_stmts.clear();
    m_insertIgnore = m_selectAt = m_update = m_deleteAt = m_insertMod = m_modRange = m_deleteRange = nullptr;
    m_readAsc = m_readDesc = m_floorAny = m_floorGood = m_ceilAny = m_ceilGood = nullptr;
    m_modsAsc = m_modsDesc = m_loadAll = m_dataVersion = nullptr;
    m_keys.clear();
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

HRESULT Store::CodeOf(int rc) const {
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return kHrLocked;
        case SQLITE_READONLY:
            return kHrReadOnly;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return kHrCorrupt;
        case SQLITE_FULL:
            return kHrDiskFull;
        case SQLITE_CANTOPEN:
            return kHrOpenFailed;
        case SQLITE_NOMEM:
            return E_OUTOFMEMORY;
        default:
            return E_FAIL;
    }
}

void Store::Fail(int rc, const char* what) {
    std::string msg = std::string(what) + ": " + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
    const int primary = rc & 0xFF;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        // Nothing more is read or written: the file is left as it is for its owner to recover.
        m_state = StoreState::Unavailable;
        m_failure = kHrCorrupt;
        m_problem = "the history database is corrupt (" + msg + ")";
    }
    throw SeriesError(CodeOf(rc), msg);
}

void Store::Degrade(StoreState state, HRESULT code, std::string why) {
    m_state = state;
    m_failure = code;
    m_problem = std::move(why);
}

void Store::Exec(const char* sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) Fail(rc, sql);
}

void Store::Open() {
    m_retryOpen = false;
    const std::string& path = m_options.path;
    const bool notAFile = path == ":memory:" || path.rfind("file:", 0) == 0;
    if (!notAFile) {
        std::error_code ec;
        auto dir = std::filesystem::path(path).parent_path();
        if (!dir.empty()) std::filesystem::create_directories(dir, ec);
        if (ec) {
            Degrade(StoreState::Unavailable, kHrOpenFailed,
                    "cannot create the folder of the history database " + path + " (" + ec.message() + ")");
            return;
        }
    }
    const int common = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
    int rc =
        sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | common, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY | common, nullptr);
        if (rc != SQLITE_OK) {
            std::string msg = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
            Close();
            Degrade(StoreState::Unavailable, CodeOf(rc),
                    "cannot open the history database " + path + " (" + msg + ")");
            return;
        }
    }
    sqlite3_busy_timeout(m_db, m_options.busyTimeoutMs);
    bool readOnly = sqlite3_db_readonly(m_db, "main") == 1;
    try {
        if (!readOnly) {
            try {
                Exec("PRAGMA journal_mode=WAL");
                Exec("PRAGMA synchronous=NORMAL");
                Exec("BEGIN IMMEDIATE");
                try {
                    Exec(
                        "CREATE TABLE IF NOT EXISTS items(id INTEGER PRIMARY KEY, name TEXT NOT NULL "
                        "UNIQUE)");
                    Exec(
                        "CREATE TABLE IF NOT EXISTS samples(item INTEGER NOT NULL, time INTEGER NOT NULL, "
                        "quality INTEGER NOT NULL, value, PRIMARY KEY(item, time)) WITHOUT ROWID");
                    Exec(
                        "CREATE TABLE IF NOT EXISTS modifications(item INTEGER NOT NULL, time INTEGER NOT "
                        "NULL, "
                        "modtime INTEGER NOT NULL, edit INTEGER NOT NULL, quality INTEGER NOT NULL, value, "
                        "user TEXT NOT NULL)");
                    Exec("CREATE INDEX IF NOT EXISTS modifications_item_time ON modifications(item, time)");
                    Exec("PRAGMA user_version=1");
                    Exec("COMMIT");
                } catch (...) {
                    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
                    throw;
                }
            } catch (const SeriesError& e) {
                if (e.code() != kHrReadOnly && e.code() != kHrOpenFailed) throw;
                // The file is there but cannot be written (a read-only folder, say): read what it holds.
                readOnly = true;
            }
        }
        if (readOnly) {
            // Reads only: the tables may not even exist (then there is no history at all).
            Exec("SELECT count(*) FROM sqlite_master");
        }
        sqlite3_stmt* s = nullptr;
        bool haveTables = false;
        if (sqlite3_prepare_v2(m_db, "SELECT 1 FROM sqlite_master WHERE name='samples'", -1, &s, nullptr) ==
            SQLITE_OK)
            haveTables = sqlite3_step(s) == SQLITE_ROW;
        sqlite3_finalize(s);
        if (haveTables) {
            Prepare();
            RegisterItems();
        }
        if (readOnly)
            Degrade(StoreState::ReadOnly, kHrReadOnly,
                    "the history database " + path + " is read-only: updates are refused");
        else
            Degrade(StoreState::Ok, S_OK, "");
    } catch (const SeriesError& e) {
        std::string msg = e.what();
        Close();
        if (e.code() == kHrLocked) {
            m_retryOpen = true;
            Degrade(StoreState::Unavailable, kHrLocked,
                    "the history database " + path + " is locked by another process");
        } else if (e.code() == kHrCorrupt) {
            Degrade(StoreState::Unavailable, kHrCorrupt,
                    "the history database " + path + " is corrupt (" + msg + ")");
        } else {
            Degrade(StoreState::Unavailable, e.code(),
                    "the history database " + path + " cannot be used (" + msg + ")");
        }
    }
}

void Store::Prepare() {
    auto prep = [&](const char* sql) {
        auto st = std::make_unique<Stmt>();
        int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st->s, nullptr);
        if (rc != SQLITE_OK) Fail(rc, sql);
        Stmt* raw = st.get();
        m_stmts.push_back(std::move(st));
        return raw;
    };
    m_insertIgnore = prep("INSERT OR IGNORE INTO samples(item, time, quality, value) VALUES(?1, ?2, ?3, ?4)");
    m_selectAt = prep("SELECT time, quality, value FROM samples WHERE item=?1 AND time=?2");
    m_update = prep("UPDATE samples SET quality=?3, value=?4 WHERE item=?1 AND time=?2");
    m_deleteAt = prep("DELETE FROM samples WHERE item=?1 AND time=?2");
    m_insertMod = prep(
        "INSERT INTO modifications(item, time, modtime, edit, quality, value, user) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    m_modRange = prep(
        "INSERT INTO modifications(item, time, modtime, edit, quality, value, user) "
        "SELECT item, time, ?4, 4, quality, value, ?5 FROM samples WHERE item=?1 AND time BETWEEN ?2 AND ?3");
    m_deleteRange = prep("DELETE FROM samples WHERE item=?1 AND time BETWEEN ?2 AND ?3");
    m_readAsc = prep(
        "SELECT time, quality, value FROM samples WHERE item=?1 AND time BETWEEN ?2 AND ?3 "
        "ORDER BY time LIMIT ?4");
    m_readDesc = prep(
        "SELECT time, quality, value FROM samples WHERE item=?1 AND time BETWEEN ?2 AND ?3 "
        "ORDER BY time DESC LIMIT ?4");
    m_floorAny = prep(
        "SELECT time, quality, value FROM samples WHERE item=?1 AND time<=?2 ORDER BY time DESC LIMIT 1");
    m_floorGood = prep(
        "SELECT time, quality, value FROM samples WHERE item=?1 AND time<=?2 AND (quality & 192)=192 "
        "ORDER BY time DESC LIMIT 1");
    m_ceilAny =
        prep("SELECT time, quality, value FROM samples WHERE item=?1 AND time>=?2 ORDER BY time LIMIT 1");
    m_ceilGood = prep(
        "SELECT time, quality, value FROM samples WHERE item=?1 AND time>=?2 AND (quality & 192)=192 "
        "ORDER BY time LIMIT 1");
    m_modsAsc = prep(
        "SELECT time, quality, value, modtime, edit, user FROM modifications "
        "WHERE item=?1 AND time BETWEEN ?2 AND ?3 ORDER BY time, modtime DESC, rowid DESC LIMIT ?4");
    m_modsDesc = prep(
        "SELECT time, quality, value, modtime, edit, user FROM modifications "
        "WHERE item=?1 AND time BETWEEN ?2 AND ?3 ORDER BY time DESC, modtime DESC, rowid DESC LIMIT ?4");
    m_loadAll = prep("SELECT time, quality, value FROM samples WHERE item=?1 ORDER BY time LIMIT ?2");
    m_dataVersion = prep("PRAGMA data_version");
}

void Store::RegisterItems() {
    {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(m_db, "SELECT id, name FROM items", -1, &s, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "reading items");
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
            m_keys[ToU16(name ? name : "")] = sqlite3_column_int64(s, 0);
        }
        sqlite3_finalize(s);
        if (rc != SQLITE_DONE) Fail(rc, "reading items");
    }
    if (sqlite3_db_readonly(m_db, "main") == 1) return;
    std::vector<std::u16string> missing;
    for (const auto& id : m_itemIds)
        if (!m_keys.count(id)) missing.push_back(id);
    if (missing.empty()) return;
    Exec("BEGIN IMMEDIATE");
    try {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(m_db, "INSERT INTO items(name) VALUES(?1)", -1, &s, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "adding items");
        for (const auto& id : missing) {
            std::string utf8 = com::Utf16ToUtf8(id);
            sqlite3_bind_text(s, 1, utf8.c_str(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
            rc = sqlite3_step(s);
            sqlite3_reset(s);
            if (rc != SQLITE_DONE) {
                sqlite3_finalize(s);
                Fail(rc, "adding items");
            }
            m_keys[id] = sqlite3_last_insert_rowid(m_db);
        }
        sqlite3_finalize(s);
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        for (const auto& id : missing) m_keys.erase(id);
        throw;
    }
}

std::string Store::statusText() const {
    if (!m_problem.empty()) return m_problem;
    return "history database " + m_options.path;
}

std::int64_t Store::Key(std::u16string_view itemId) const {
    auto it = m_keys.find(itemId);
    return it == m_keys.end() ? -1 : it->second;
}

void Store::BeginCall() {
    if (m_retryOpen) {
        Close();
        Open();
        return;
    }
    if (!m_db || !m_dataVersion) return;
    Use u(m_dataVersion);
    if (sqlite3_step(*u) == SQLITE_ROW) {
        std::int64_t v = sqlite3_column_int64(*u, 0);
        if (v != m_lastDataVersion) InvalidateAll();
        m_lastDataVersion = v;
    }
}

void Store::Invalidate(std::int64_t key) {
    m_tooBig.erase(key);
    auto it = m_cache.find(key);
    if (it == m_cache.end()) return;
    m_cacheTotal -= it->second->t.size();
    m_cache.erase(it);
    m_lru.remove(key);
}

void Store::InvalidateAll() {
    m_cache.clear();
    m_lru.clear();
    m_tooBig.clear();
    m_cacheTotal = 0;
}

std::shared_ptr<const StoredColumns> Store::Load(std::int64_t key) {
    const std::size_t budget = m_options.cacheValues;
    if (budget == 0 || m_tooBig.count(key)) return nullptr;
    if (auto it = m_cache.find(key); it != m_cache.end()) {
        m_lru.remove(key);
        m_lru.push_front(key);
        return it->second;
    }
    auto cols = std::make_shared<StoredColumns>();
    {
        Use u(m_loadAll);
        sqlite3_bind_int64(*u, 1, key);
        sqlite3_bind_int64(*u, 2, Limit(budget) + (budget < static_cast<std::size_t>(INT64_MAX) ? 1 : 0));
        int rc;
        while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
            if (cols->t.size() >= budget) {
                m_tooBig.insert(key);
                return nullptr;
            }
            cols->t.push_back(static_cast<Ticks>(sqlite3_column_int64(*u, 0)));
            DWORD packed = static_cast<DWORD>(sqlite3_column_int64(*u, 1));
            cols->q.push_back(packed);
            VARTYPE vt = static_cast<VARTYPE>(packed >> 16);
            if (vt == VT_BSTR) {
                if (cols->text.empty()) cols->text.resize(cols->t.size() - 1);
                Value v = ColumnValue(*u, 2, VT_BSTR);
                cols->text.push_back(std::move(v.s));
                cols->bits.push_back(0);
            } else {
                if (!cols->text.empty()) cols->text.emplace_back();
                if (IsRealType(vt))
                    cols->bits.push_back(std::bit_cast<std::int64_t>(sqlite3_column_double(*u, 2)));
                else
                    cols->bits.push_back(sqlite3_column_int64(*u, 2));
            }
        }
        if (rc != SQLITE_DONE) Fail(rc, "reading history");
    }
    while (!m_lru.empty() && m_cacheTotal + cols->t.size() > budget) {
        std::int64_t victim = m_lru.back();
        m_lru.pop_back();
        auto it = m_cache.find(victim);
        m_cacheTotal -= it->second->t.size();
        m_cache.erase(it);
    }
    m_cacheTotal += cols->t.size();
    m_cache.emplace(key, cols);
    m_lru.push_front(key);
    return cols;
}

std::unique_ptr<Series> Store::OpenSeries(std::int64_t key) {
    if (m_state == StoreState::Unavailable) throw SeriesError(m_failure, m_problem);
    if (key < 0 || !m_readAsc) return std::make_unique<EmptySeries>();
    if (auto cols = Load(key)) return std::make_unique<ColumnSeries>(std::move(cols));
    return std::make_unique<SqlSeries>(*this, key);
}

void Store::Apply(EditOp op, std::vector<Edit>& edits, Ticks modTime, const std::u16string& user) {
    std::vector<Edit*> pending;
    for (auto& e : edits) {
        if (e.code != S_OK) continue;
        if (e.t > kMaxTicks) {
            e.code = E_INVALIDARG;  // no calendar date: nothing can be stored there
            continue;
        }
        pending.push_back(&e);
    }
    if (pending.empty()) return;
    if (m_state != StoreState::Ok || !m_insertIgnore) {
        for (Edit* e : pending) e->code = m_state == StoreState::Ok ? E_FAIL : m_failure;
        return;
    }
    const std::string userUtf8 = com::Utf16ToUtf8(user);
    int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        for (Edit* e : pending) e->code = CodeOf(rc);
        return;
    }
    std::set<std::int64_t> touched;
    auto step = [&](sqlite3_stmt* s) {
        int r = sqlite3_step(s);
        if (r != SQLITE_DONE && r != SQLITE_ROW) Fail(r, "writing history");
        return r;
    };
    // The value standing at an instant, recorded as superseded.
    auto supersede = [&](const Edit& e, OPCHDA_EDITTYPE how) {
        Use sel(m_selectAt);
        sqlite3_bind_int64(*sel, 1, e.key);
        sqlite3_bind_int64(*sel, 2, static_cast<std::int64_t>(e.t));
        if (step(*sel) != SQLITE_ROW) return false;
        Use ins(m_insertMod);
        sqlite3_bind_int64(*ins, 1, e.key);
        sqlite3_bind_int64(*ins, 2, static_cast<std::int64_t>(e.t));
        sqlite3_bind_int64(*ins, 3, Clamp64(modTime));
        sqlite3_bind_int64(*ins, 4, how);
        sqlite3_bind_value(*ins, 5, sqlite3_column_value(*sel, 1));
        sqlite3_bind_value(*ins, 6, sqlite3_column_value(*sel, 2));
        sqlite3_bind_text(*ins, 7, userUtf8.c_str(), static_cast<int>(userUtf8.size()), SQLITE_STATIC);
        step(*ins);
        return true;
    };
    auto write = [&](Stmt* st, const Edit& e) {
        Use u(st);
        sqlite3_bind_int64(*u, 1, e.key);
        sqlite3_bind_int64(*u, 2, static_cast<std::int64_t>(e.t));
        sqlite3_bind_int64(*u, 3, PackQuality(e.v.vt, e.quality));
        BindValue(*u, 4, e.v);
        step(*u);
        return sqlite3_changes(m_db) > 0;
    };
    try {
        for (Edit* e : pending) {
            switch (op) {
                case EditOp::Insert:
                    e->code = write(m_insertIgnore, *e) ? S_OK : OPC_E_DATAEXISTS;
                    break;
                case EditOp::Replace:
                    if (supersede(*e, OPCHDA_REPLACE)) {
                        write(m_update, *e);
                        e->code = S_OK;
                    } else {
                        e->code = OPC_E_NODATAEXISTS;
                    }
                    break;
                case EditOp::InsertReplace:
                    if (supersede(*e, OPCHDA_INSERTREPLACE)) {
                        write(m_update, *e);
                        e->code = OPC_S_REPLACED;
                    } else {
                        write(m_insertIgnore, *e);
                        e->code = OPC_S_INSERTED;
                    }
                    break;
                case EditOp::DeleteAtTime:
                    if (supersede(*e, OPCHDA_DELETE)) {
                        Use u(m_deleteAt);
                        sqlite3_bind_int64(*u, 1, e->key);
                        sqlite3_bind_int64(*u, 2, static_cast<std::int64_t>(e->t));
                        step(*u);
                        e->code = S_OK;
                    } else {
                        e->code = OPC_S_NODATA;
                    }
                    break;
            }
            if (SUCCEEDED(e->code)) touched.insert(e->key);
        }
        rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "committing");
    } catch (const SeriesError& err) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        for (Edit* e : pending) e->code = err.code();
        return;
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    for (std::int64_t k : touched) Invalidate(k);
}

void Store::DeleteRanges(std::vector<RangeDelete>& ranges, Ticks modTime, const std::u16string& user) {
    std::vector<RangeDelete*> pending;
    for (auto& r : ranges)
        if (r.code == S_OK) pending.push_back(&r);
    if (pending.empty()) return;
    if (m_state != StoreState::Ok || !m_deleteRange) {
        for (auto* r : pending) r->code = m_state == StoreState::Ok ? E_FAIL : m_failure;
        return;
    }
    const std::string userUtf8 = com::Utf16ToUtf8(user);
    int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        for (auto* r : pending) r->code = CodeOf(rc);
        return;
    }
    std::set<std::int64_t> touched;
    try {
        for (auto* r : pending) {
            if (r->lo > r->hi || r->lo > kMaxTicks) {
                r->code = OPC_S_NODATA;
                continue;
            }
            {
                Use u(m_modRange);
                sqlite3_bind_int64(*u, 1, r->key);
                sqlite3_bind_int64(*u, 2, Clamp64(r->lo));
                sqlite3_bind_int64(*u, 3, Clamp64(r->hi));
                sqlite3_bind_int64(*u, 4, Clamp64(modTime));
                sqlite3_bind_text(*u, 5, userUtf8.c_str(), static_cast<int>(userUtf8.size()), SQLITE_STATIC);
                int s = sqlite3_step(*u);
                if (s != SQLITE_DONE) Fail(s, "recording deleted values");
            }
            Use u(m_deleteRange);
            sqlite3_bind_int64(*u, 1, r->key);
            sqlite3_bind_int64(*u, 2, Clamp64(r->lo));
            sqlite3_bind_int64(*u, 3, Clamp64(r->hi));
            int s = sqlite3_step(*u);
            if (s != SQLITE_DONE) Fail(s, "deleting history");
            r->code = sqlite3_changes(m_db) > 0 ? S_OK : OPC_S_NODATA;
            if (r->code == S_OK) touched.insert(r->key);
        }
        rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "committing");
    } catch (const SeriesError& err) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        for (auto* r : pending) r->code = err.code();
        return;
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    for (std::int64_t k : touched) Invalidate(k);
}

std::size_t Store::ReadModified(std::int64_t key, Ticks lo, Ticks hi, bool backward, std::size_t max,
                                std::vector<ModifiedValue>& out) {
    if (m_state == StoreState::Unavailable) throw SeriesError(m_failure, m_problem);
    if (key < 0 || !m_modsAsc || lo > hi || lo > kMaxTicks || max == 0) return 0;
    Use u(backward ? m_modsDesc : m_modsAsc);
    sqlite3_bind_int64(*u, 1, key);
    sqlite3_bind_int64(*u, 2, Clamp64(lo));
    sqlite3_bind_int64(*u, 3, Clamp64(hi));
    sqlite3_bind_int64(*u, 4, Limit(max));
    std::size_t n = 0;
    int rc;
    while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
        ModifiedValue m;
        m.sample = RowSample(*u);
        m.sample.quality |= OPCHDA_RAW;
        m.modTime = static_cast<Ticks>(sqlite3_column_int64(*u, 3));
        m.edit = static_cast<OPCHDA_EDITTYPE>(sqlite3_column_int64(*u, 4));
        const char* user = reinterpret_cast<const char*>(sqlite3_column_text(*u, 5));
        m.user = ToU16(user ? user : "");
        out.push_back(std::move(m));
        ++n;
    }
    if (rc != SQLITE_DONE) Fail(rc, "reading modifications");
    return n;
}

}  // namespace sim

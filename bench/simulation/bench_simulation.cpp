// Throughput of the simulation historian through its COM interfaces, next to plain SQLite doing the
// same work on a table of the same shape:
//   Insert of 1,000,000 values into one item in calls of 10,000      vs  prepared-statement inserts
//   ReadRaw of 1,000,000 stored values, paged by the server maximum  vs  one range scan
//   ReadProcessed AVERAGE over 1,000,000 stored values, 1,000 intervals (values per second)
//   ReadRaw of 1,000,000 values of a generated item (values per second)
// "Cold" runs make a new server object for every iteration, so nothing is cached in memory;
// "Uncached" runs switch the cache off; the others read what the first iteration cached.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "hda/opchda.h"

namespace {

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::uint64_t kStart = 133485588000000000ULL;  // 2024-01-01 05:00 UTC
constexpr int kValues = 1'000'000;
constexpr int kPerCall = 10'000;

struct Setup {
    std::string dir;
    std::string readDb;  // 1,000,000 values of Writable.Real8, one a second from kStart
    CLSID clsid{};

    Setup() {
        char tmpl[] = "/tmp/simbench.XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("VISTREL_CLASS_STORE", (dir + "/classes").c_str(), 1);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (com::RegisterServerLibrary(SIM_PLUGIN_PATH) != S_OK ||
            CLSIDFromProgID(u"Brindlex.OPC.Simulation", &clsid) != S_OK)
            std::abort();
        readDb = dir + "/read.db";
    }
    ~Setup() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Setup& S() {
    static Setup s;
    return s;
}

struct Server {
    IOPCHDA_Server* server = nullptr;
    IOPCHDA_SyncRead* read = nullptr;
    IOPCHDA_SyncUpdate* update = nullptr;
    OPCHANDLE h = 0;

    Server(const std::string& db, const char16_t* item, const char* cache = nullptr) {
        setenv("VISTREL_SIM_DB", db.c_str(), 1);
        if (cache)
            setenv("VISTREL_SIM_CACHE_VALUES", cache, 1);
        else
            unsetenv("VISTREL_SIM_CACHE_VALUES");
        if (CoCreateInstance(S().clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCHDA_Server,
                             reinterpret_cast<void**>(&server)) != S_OK)
            std::abort();
        server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void**>(&read));
        server->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void**>(&update));
        LPWSTR id[] = {const_cast<LPWSTR>(item)};
        OPCHANDLE client = 1, *servers = nullptr;
        HRESULT* errors = nullptr;
        if (server->GetItemHandles(1, id, &client, &servers, &errors) != S_OK) std::abort();
        h = servers[0];
        CoTaskMemFree(servers);
        CoTaskMemFree(errors);
    }
    ~Server() {
        update->Release();
        read->Release();
        server->Release();
    }
};

void FreeItems(OPCHDA_ITEM* items, HRESULT* errors, DWORD n) {
    for (DWORD k = 0; k < n; ++k) {
        for (DWORD j = 0; j < items[k].dwCount; ++j) VariantClear(&items[k].pvDataValues[j]);
        CoTaskMemFree(items[k].pftTimeStamps);
        CoTaskMemFree(items[k].pdwQualities);
        CoTaskMemFree(items[k].pvDataValues);
    }
    CoTaskMemFree(items);
    CoTaskMemFree(errors);
}

// Inserts 1,000,000 values in calls of 10,000; values given as text (as the client sends them) or
// as VT_R8.
void InsertAll(Server& s, bool asText) {
    std::vector<OPCHANDLE> handles(kPerCall, s.h);
    std::vector<FILETIME> times(kPerCall);
    std::vector<VARIANT> values(kPerCall);
    std::vector<DWORD> qualities(kPerCall, OPC_QUALITY_GOOD);
    for (int k = 0; k < kPerCall; ++k) {
        VariantInit(&values[k]);
        if (asText) {
            values[k].vt = VT_BSTR;
            values[k].bstrVal = SysAllocString(k % 2 ? u"12.5" : u"-3.25");
        } else {
            values[k].vt = VT_R8;
            values[k].dblVal = k * 0.5;
        }
    }
    for (int call = 0; call < kValues / kPerCall; ++call) {
        for (int k = 0; k < kPerCall; ++k)
            times[k] = U64ToFileTime(kStart + static_cast<std::uint64_t>(call * kPerCall + k) * kSecond);
        HRESULT* errors = nullptr;
        if (s.update->Insert(kPerCall, handles.data(), times.data(), values.data(), qualities.data(),
                             &errors) != S_OK)
            std::abort();
        CoTaskMemFree(errors);
    }
    for (auto& v : values) VariantClear(&v);
}

void EnsureReadDb() {
    static bool made = [] {
        Server s(S().readDb, u"Writable.Real8", "0");
        InsertAll(s, false);
        return true;
    }();
    (void)made;
}

// ---- Insert ----

void BM_PlainSqliteInsert(benchmark::State& state) {
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = S().dir + "/plain" + std::to_string(run++) + ".db";
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
        sqlite3_exec(
            db,
            "CREATE TABLE samples(item INTEGER NOT NULL, time INTEGER NOT NULL, quality INTEGER NOT NULL, "
            "value, PRIMARY KEY(item, time)) WITHOUT ROWID",
            nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO samples(item, time, quality, value) VALUES(?1, ?2, ?3, ?4)", -1,
                           &st, nullptr);
        state.ResumeTiming();
        for (int call = 0; call < kValues / kPerCall; ++call) {
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            for (int k = 0; k < kPerCall; ++k) {
                sqlite3_bind_int64(st, 1, 8);
                sqlite3_bind_int64(st, 2,
                                   static_cast<std::int64_t>(kStart + (call * kPerCall + k) * kSecond));
                sqlite3_bind_int64(st, 3, (VT_R8 << 16) | OPC_QUALITY_GOOD);
                sqlite3_bind_double(st, 4, k * 0.5);
                if (sqlite3_step(st) != SQLITE_DONE) std::abort();
                sqlite3_reset(st);
            }
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        }
        state.PauseTiming();
        sqlite3_finalize(st);
        sqlite3_close(db);
        std::filesystem::remove(path);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_PlainSqliteInsert)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ServerInsert(benchmark::State& state) {
    const bool asText = state.range(0) != 0;
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = S().dir + "/insert" + std::to_string(run++) + ".db";
        {
            auto s = std::make_unique<Server>(path, u"Writable.Real8");
            state.ResumeTiming();
            InsertAll(*s, asText);
            state.PauseTiming();
        }
        std::filesystem::remove(path);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetLabel(asText ? "values as VT_BSTR" : "values as VT_R8");
}
BENCHMARK(BM_ServerInsert)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// ---- Range reads ----

void BM_PlainSqliteRangeScan(benchmark::State& state) {
    EnsureReadDb();
    sqlite3* db = nullptr;
    sqlite3_open(S().readDb.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT time, quality, value FROM samples WHERE item=?1 AND time>=?2 AND time<?3 ORDER BY time",
        -1, &st, nullptr);
    std::int64_t item = 0;
    {
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, "SELECT id FROM items WHERE name='Writable.Real8'", -1, &q, nullptr);
        if (sqlite3_step(q) == SQLITE_ROW) item = sqlite3_column_int64(q, 0);
        sqlite3_finalize(q);
    }
    struct Row {
        std::int64_t t;
        std::int64_t q;
        double v;
    };
    std::vector<Row> rows;
    rows.reserve(kValues);
    for (auto _ : state) {
        rows.clear();
        sqlite3_bind_int64(st, 1, item);
        sqlite3_bind_int64(st, 2, static_cast<std::int64_t>(kStart));
        sqlite3_bind_int64(st, 3, static_cast<std::int64_t>(kStart + kValues * kSecond));
        while (sqlite3_step(st) == SQLITE_ROW)
            rows.push_back(
                {sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1), sqlite3_column_double(st, 2)});
        sqlite3_reset(st);
        if (rows.size() != kValues) std::abort();
        benchmark::DoNotOptimize(rows.data());
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_PlainSqliteRangeScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reads everything from `from` on, continuing each page from its last timestamp.
std::size_t ReadAllPaged(Server& s, std::uint64_t from, std::uint64_t to) {
    std::size_t total = 0;
    OPCHDA_TIME start{FALSE, const_cast<LPWSTR>(u""), U64ToFileTime(from)};
    OPCHDA_TIME end{FALSE, const_cast<LPWSTR>(u""), U64ToFileTime(to)};
    bool first = true;
    while (true) {
        OPCHDA_ITEM* items = nullptr;
        HRESULT* errors = nullptr;
        if (FAILED(s.read->ReadRaw(&start, &end, 0, FALSE, 1, &s.h, &items, &errors))) std::abort();
        const DWORD n = items[0].dwCount;
        total += first ? n : n - 1;  // a continuation repeats the previous page's last value
        first = false;
        const bool more = errors[0] == OPC_S_MOREDATA;
        if (more) start.ftTime = items[0].pftTimeStamps[n - 1];
        FreeItems(items, errors, 1);
        if (!more) break;
    }
    return total;
}

void BM_ServerReadRawStored(benchmark::State& state) {
    EnsureReadDb();
    const int mode = static_cast<int>(state.range(0));  // 0 cached, 1 cold, 2 uncached
    std::unique_ptr<Server> s;
    if (mode != 1) s = std::make_unique<Server>(S().readDb, u"Writable.Real8", mode == 2 ? "0" : nullptr);
    for (auto _ : state) {
        if (mode == 1) {
            state.PauseTiming();
            s = std::make_unique<Server>(S().readDb, u"Writable.Real8");
            state.ResumeTiming();
        }
        if (ReadAllPaged(*s, kStart, kStart + kValues * kSecond) != kValues) std::abort();
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetLabel(mode == 0 ? "cached" : mode == 1 ? "cold: new server each time" : "cache off");
}
BENCHMARK(BM_ServerReadRawStored)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ServerReadProcessedAverage(benchmark::State& state) {
    EnsureReadDb();
    const int mode = static_cast<int>(state.range(0));
    std::unique_ptr<Server> s;
    if (mode != 1) s = std::make_unique<Server>(S().readDb, u"Writable.Real8", mode == 2 ? "0" : nullptr);
    for (auto _ : state) {
        if (mode == 1) {
            state.PauseTiming();
            s = std::make_unique<Server>(S().readDb, u"Writable.Real8");
            state.ResumeTiming();
        }
        OPCHDA_TIME start{FALSE, const_cast<LPWSTR>(u""), U64ToFileTime(kStart)};
        OPCHDA_TIME end{FALSE, const_cast<LPWSTR>(u""), U64ToFileTime(kStart + kValues * kSecond)};
        DWORD agg = OPCHDA_AVERAGE;
        OPCHDA_ITEM* items = nullptr;
        HRESULT* errors = nullptr;
        if (s->read->ReadProcessed(&start, &end, U64ToFileTime(kValues / 1000 * kSecond), 1, &s->h, &agg,
                                   &items, &errors) != S_OK ||
            items[0].dwCount != 1000)
            std::abort();
        FreeItems(items, errors, 1);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetLabel(mode == 0 ? "cached" : mode == 1 ? "cold: new server each time" : "cache off");
}
BENCHMARK(BM_ServerReadProcessedAverage)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ServerReadRawGenerated(benchmark::State& state) {
    Server s(S().dir + "/generated.db", u"Generated.Waves.Sine");  // one sample a second
    for (auto _ : state)
        if (ReadAllPaged(s, kStart, kStart + kValues * kSecond) != kValues) std::abort();
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_ServerReadRawGenerated)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

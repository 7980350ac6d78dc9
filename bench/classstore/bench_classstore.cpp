// Server discovery at client start-up: the category manager enumerates the HDA servers of the store
// and each ProgID is read back. Target: 50 registered classes well under 300 ms, from a cold cache.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "com/classstore.h"
#include "com/objbase.h"
#include "hda/opchda.h"

namespace {

class Store {
public:
    explicit Store(int classes) {
        std::string pattern = (std::filesystem::temp_directory_path() / "vistrel-bench-XXXXXX").string();
        m_dir = mkdtemp(pattern.data());
        setenv("VISTREL_CLASS_STORE", m_dir.c_str(), 1);
        for (int i = 0; i < classes; ++i) {
            com::ClassRegistration reg;
            reg.clsid = CLSID{0xBE000000u + static_cast<DWORD>(i), 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
            reg.progId = u"Bench.Server" + std::u16string(1, char16_t(u'A' + i % 26)) + u".1";
            reg.libraryPath = "/opt/bench/libserver" + std::to_string(i) + ".so";
            reg.categories = {CATID_OPCHDAServer10};
            com::RegisterComClass(reg);
        }
    }
    ~Store() {
        unsetenv("VISTREL_CLASS_STORE");
        std::filesystem::remove_all(m_dir);
    }

private:
    std::string m_dir;
};

int Discover() {
    int found = 0;
    ICatInformation* cat = nullptr;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatInformation, reinterpret_cast<void**>(&cat))))
        return -1;
    CATID hda = CATID_OPCHDAServer10;
    IEnumCLSID* e = nullptr;
    if (SUCCEEDED(cat->EnumClassesOfCategories(1, &hda, 0, nullptr, &e))) {
        CLSID c;
        ULONG n = 0;
        while (e->Next(1, &c, &n) == S_OK) {
            LPOLESTR progId = nullptr;
            if (SUCCEEDED(ProgIDFromCLSID(c, &progId))) ++found;
            CoTaskMemFree(progId);
        }
        e->Release();
    }
    cat->Release();
    return found;
}

void BM_DiscoverServersColdCache(benchmark::State& state) {
    Store store(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        com::ResetRuntimeForTests();  // drops the parsed store: every entry is read again
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        benchmark::DoNotOptimize(Discover());
        CoUninitialize();
    }
}
BENCHMARK(BM_DiscoverServersColdCache)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond);

void BM_DiscoverServersWarmCache(benchmark::State& state) {
    Store store(static_cast<int>(state.range(0)));
    com::ResetRuntimeForTests();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (auto _ : state) benchmark::DoNotOptimize(Discover());
    CoUninitialize();
}
BENCHMARK(BM_DiscoverServersWarmCache)->Arg(50)->Unit(benchmark::kMillisecond);

void BM_ClsidFromProgId(benchmark::State& state) {
    Store store(50);
    CLSID c;
    for (auto _ : state) benchmark::DoNotOptimize(CLSIDFromProgID(u"Bench.ServerX.1", &c));
}
BENCHMARK(BM_ClsidFromProgId)->Unit(benchmark::kMicrosecond);

}  // namespace

// The end of a benchmark's main() that runs against a server it set up: sets the server up, runs the
// registered benchmarks with it in `slot`, then uninitialises the runtime and removes the benchmark's
// temporary directory. Returns main()'s exit code.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "com/objbase.h"

namespace benchsupport {

template <class Bench>
int RunWith(int& argc, char** argv, Bench*& slot, const char* pszDir, const char* pszSetupFailure) {
    int rc = 0;
    {
        Bench bench;
        if (!bench.Setup()) {
            std::fprintf(stderr, "%s\n", pszSetupFailure);
            rc = 1;
        } else {
            slot = &bench;
            benchmark::Initialize(&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
            slot = nullptr;
        }
    }
    CoUninitialize();
    std::error_code ec;
    std::filesystem::remove_all(pszDir, ec);
    return rc;
}

}  // namespace benchsupport

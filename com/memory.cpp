// Task memory: the allocator of every block that crosses an interface.
#include <atomic>
#include <cstdlib>

#include "com/objbase.h"

namespace {
std::atomic<long> g_liveBlocks{0};
}

extern "C" LPVOID CoTaskMemAlloc(SIZE_T cb) {
    void* p = std::malloc(cb == 0 ? 1 : cb);
    if (p) ++g_liveBlocks;
    return p;
}

extern "C" LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv == nullptr) return CoTaskMemAlloc(cb);
    if (cb == 0) {
        CoTaskMemFree(pv);
        return nullptr;
    }
    // On failure the old block stays valid and still counted.
    return std::realloc(pv, cb);
}

extern "C" void CoTaskMemFree(LPVOID pv) {
    if (pv == nullptr) return;
    --g_liveBlocks;
    std::free(pv);
}

namespace com {
long LiveTaskMemBlocks() { return g_liveBlocks.load(); }
}  // namespace com

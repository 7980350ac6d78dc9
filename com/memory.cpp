// Task memory: the allocator of every block that crosses an interface. Each block carries a small
// header with its requested size, so that a caller can learn how much a server really allocated
// (com::TaskMemSize) before trusting the counts that came with it.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "com/objbase.h"

namespace {
std::atomic<long> g_liveBlocks{0};

constexpr std::uint64_t kMagic = 0x4B534154'4D454D31ULL;  // "1MEMTASK"
struct alignas(16) Header {
    std::uint64_t size;
    std::uint64_t magic;
};
static_assert(sizeof(Header) == 16);

Header* headerOf(void* pv) {
    return reinterpret_cast<Header*>(static_cast<char*>(pv) - sizeof(Header));
}
}  // namespace

extern "C" LPVOID CoTaskMemAlloc(SIZE_T cb) {
    if (cb > SIZE_MAX - sizeof(Header) - 1) return nullptr;
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + (cb == 0 ? 1 : cb)));
    if (!h) return nullptr;
    h->size = cb;
    h->magic = kMagic;
    ++g_liveBlocks;
    return h + 1;
}

extern "C" LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv == nullptr) return CoTaskMemAlloc(cb);
    if (cb == 0) {
        CoTaskMemFree(pv);
        return nullptr;
    }
    if (cb > SIZE_MAX - sizeof(Header)) return nullptr;
    // On failure the old block stays valid and still counted.
    auto* h = static_cast<Header*>(std::realloc(headerOf(pv), sizeof(Header) + cb));
    if (!h) return nullptr;
    h->size = cb;
    return h + 1;
}

extern "C" void CoTaskMemFree(LPVOID pv) {
    if (pv == nullptr) return;
    Header* h = headerOf(pv);
    h->magic = 0;
    --g_liveBlocks;
    std::free(h);
}

namespace com {
long LiveTaskMemBlocks() {
    return g_liveBlocks.load();
}

SIZE_T TaskMemSize(const void* pv) {
    if (pv == nullptr) return 0;
    const Header* h = reinterpret_cast<const Header*>(static_cast<const char*>(pv) - sizeof(Header));
    return h->magic == kMagic ? static_cast<SIZE_T>(h->size) : 0;
}
}  // namespace com

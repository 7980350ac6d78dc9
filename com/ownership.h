// Ownership across the COM boundary: one toolkit for every block and reference that crosses an
// interface, so that no caller writes a release loop of its own.
//
//   ComPtr<I>          one reference to an interface (unknwn.h)
//   TaskMem<T>         owns a CoTaskMemAlloc block (an object or an array)
//   TaskMemStrDup      a task-memory copy of a string, for in-arguments and for what a server returns
//   Received<T, D>     an array a server returned: read and released no further than the block it
//                      really allocated (TaskMemSize), whatever count came with it; D releases what
//                      each element owns (VariantClear, CoTaskMemFree)
//   ReceivedText       a string a server returned, read within its block, whether terminated or not
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/unknwn.h"

namespace com {

struct TaskMemDeleter {
    void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};
// TaskMem<T> for one object, TaskMem<T[]> for an array.
template <class T>
using TaskMem = std::unique_ptr<T, TaskMemDeleter>;

// n elements (room for one when n is 0, so that success never looks like a failed allocation),
// zero-filled; null when memory runs out or n * sizeof(T) does not fit.
template <class T>
TaskMem<T[]> TaskMemArray(std::size_t n) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) return nullptr;
    const std::size_t cb = std::max<std::size_t>(n, 1) * sizeof(T);
    void* p = CoTaskMemAlloc(cb);
    if (p) std::memset(p, 0, cb);
    return TaskMem<T[]>(static_cast<T*>(p));
}

// A copy of the values in task memory; null when memory runs out.
template <class T>
TaskMem<T[]> TaskMemCopy(std::span<const T> values) {
    TaskMem<T[]> p = TaskMemArray<T>(values.size());
    if (p && !values.empty()) std::memcpy(p.get(), values.data(), values.size() * sizeof(T));
    return p;
}

// A NUL-terminated task-memory copy of s; null when memory runs out.
inline TaskMem<WCHAR[]> TaskMemStrDup(std::u16string_view s) {
    if (s.size() >= std::numeric_limits<std::size_t>::max() / sizeof(WCHAR)) return nullptr;
    auto* p = static_cast<WCHAR*>(CoTaskMemAlloc((s.size() + 1) * sizeof(WCHAR)));
    if (p) {
        if (!s.empty()) std::memcpy(p, s.data(), s.size() * sizeof(WCHAR));
        p[s.size()] = 0;
    }
    return TaskMem<WCHAR[]>(p);
}

// What an element of a received array owns, released before the array goes.
struct NoDisposer {
    template <class T>
    void operator()(T&) const noexcept {}
};
struct ClearVariant {
    void operator()(VARIANT& v) const noexcept { VariantClear(&v); }
};
struct FreeTaskMemElement {
    template <class T>
    void operator()(T*& p) const noexcept {
        CoTaskMemFree(p);
        p = nullptr;
    }
};

// An array a server returned through an out-argument. Filled through Out(); the count the server
// claimed (or the caller asked for) is given with Claim(). size() is never more than the block holds:
// elements past it are neither read nor released.
template <class T, class Disposer = NoDisposer>
class Received {
public:
    Received() = default;
    // Takes over a block; the count defaults to whatever the block holds.
    explicit Received(T* p, std::size_t claimed = std::numeric_limits<std::size_t>::max())
        : m_p(p), m_claimed(claimed) {}
    ~Received() { Reset(); }
    Received(Received&& o) noexcept
        : m_p(std::exchange(o.m_p, nullptr)), m_claimed(std::exchange(o.m_claimed, kAll)) {}
    Received& operator=(Received&& o) noexcept {
        if (this != &o) {
            Reset();
            m_p = std::exchange(o.m_p, nullptr);
            m_claimed = std::exchange(o.m_claimed, kAll);
        }
        return *this;
    }
    Received(const Received&) = delete;
    Received& operator=(const Received&) = delete;

    // Releases what is held and gives the address for the call to fill.
    T** Out() {
        Reset();
        return &m_p;
    }
    void Claim(std::size_t n) { m_claimed = n; }

    T* get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Elements that may be read: the claimed count, bounded by the block.
    std::size_t size() const { return m_p ? std::min<std::size_t>(m_claimed, TaskMemCount(m_p)) : 0; }
    // Whole elements the block really holds, whatever was claimed.
    std::size_t capacity() const { return m_p ? TaskMemCount(m_p) : 0; }
    std::size_t blockBytes() const { return m_p ? TaskMemSize(m_p) : 0; }
    std::span<T> view() const { return std::span<T>(m_p, size()); }
    T& operator[](std::size_t i) const { return m_p[i]; }

    // Gives the block up without releasing anything.
    T* Detach() {
        m_claimed = kAll;
        return std::exchange(m_p, nullptr);
    }
    void Reset() {
        if (T* p = std::exchange(m_p, nullptr)) {
            const std::size_t n = std::min<std::size_t>(m_claimed, TaskMemCount(p));
            for (std::size_t i = 0; i < n; ++i) Disposer()(p[i]);
            CoTaskMemFree(p);
        }
        m_claimed = kAll;
    }

private:
    static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
    T* m_p = nullptr;
    std::size_t m_claimed = kAll;
};

// A string a server returned, read no further than its task-memory block reaches.
struct ReceivedText {
    bool present = false;     // the server gave a pointer at all
    bool terminated = false;  // a NUL lies inside the block
    std::size_t blockBytes = 0;
    std::u16string text;  // up to the NUL, or cut at the block's end
};

inline ReceivedText ReadReceivedText(const WCHAR* psz) {
    ReceivedText r;
    if (!psz) return r;
    r.present = true;
    r.blockBytes = TaskMemSize(psz);
    const std::size_t cch = r.blockBytes / sizeof(WCHAR);
    std::size_t n = 0;
    while (n < cch && psz[n] != 0) ++n;
    r.terminated = n < cch;
    r.text.assign(psz, n);
    return r;
}

// Takes over a string a server returned: its text read within the block, the block freed.
inline ReceivedText TakeReceivedText(WCHAR*& psz) {
    ReceivedText r = ReadReceivedText(psz);
    CoTaskMemFree(std::exchange(psz, nullptr));
    return r;
}

// The text of a BSTR a server returned, no further than its block reaches whatever its length prefix
// claims (a BSTR's block begins at the prefix, 4 bytes before the text).
inline std::u16string_view ReadReceivedBstr(BSTR bstr) {
    if (!bstr) return {};
    const std::size_t block = TaskMemSize(reinterpret_cast<const char*>(bstr) - sizeof(DWORD));
    const std::size_t room = block >= sizeof(DWORD) ? (block - sizeof(DWORD)) / sizeof(OLECHAR) : 0;
    return std::u16string_view(bstr, std::min<std::size_t>(SysStringLen(bstr), room));
}

// One object a server returned (a FILETIME, ...): readable only when the block holds all of it.
template <class T>
struct ReceivedOne {
    bool present = false;
    std::size_t blockBytes = 0;
    bool complete = false;  // the block holds a whole T
    T value{};
};

template <class T>
ReceivedOne<T> TakeReceivedOne(T*& p) {
    static_assert(std::is_trivially_copyable_v<T>);
    ReceivedOne<T> r;
    if (p) {
        r.present = true;
        r.blockBytes = TaskMemSize(p);
        r.complete = r.blockBytes >= sizeof(T);
        if (r.complete) std::memcpy(&r.value, p, sizeof(T));
    }
    CoTaskMemFree(std::exchange(p, nullptr));
    return r;
}

// An interface pointer a call returned through a void** or typed out-argument, owned from then on.
template <class I>
ComPtr<I> AdoptInterface(I* p) {
    return ComPtr<I>::Attach(p);
}

}  // namespace com

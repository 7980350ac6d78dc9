// libFuzzer entry points: one binary, the target chosen by VISTREL_FUZZ_TARGET.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz.h"

namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);

struct Entry {
    const char* name;
    Target fn;
};

constexpr Entry kTargets[] = {
    {"variant", fuzz::Variant},       {"timetext", fuzz::TimeText},   {"format", fuzz::Format},
    {"classstore", fuzz::ClassStore}, {"itemsfile", fuzz::ItemsFile}, {"reltime", fuzz::RelTime},
    {"browse", fuzz::Browse},
};

Target g_target = nullptr;

}  // namespace

namespace fuzz {

std::u16string Utf16Of(const std::uint8_t* data, std::size_t size) {
    std::u16string s(size / 2, u'\0');
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char16_t>(data[2 * i] | (static_cast<unsigned>(data[2 * i + 1]) << 8));
    return s;
}

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* name = std::getenv("VISTREL_FUZZ_TARGET");
    for (const Entry& e : kTargets)
        if (name && std::strcmp(name, e.name) == 0) g_target = e.fn;
    if (!g_target) {
        std::fprintf(stderr, "Set VISTREL_FUZZ_TARGET to one of:");
        for (const Entry& e : kTargets) std::fprintf(stderr, " %s", e.name);
        std::fprintf(stderr, "\n");
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return g_target(data, size);
}

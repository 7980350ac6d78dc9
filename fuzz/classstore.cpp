// The class store's entry files: any bytes in an entry file are read without harm, a readable entry
// names the class of its file, and what the store writes back from it reads the same.
#include "com/classstore.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "com/objbase.h"
#include "fuzz/fuzz.h"

namespace fuzz {

namespace {

constexpr const char* kNames[] = {
    "{7D7C1C1D-E92C-4F82-9F4B-6BE53134DBB5}.class",
    "{7de5b060-e089-11d2-a5e6-000086339399}.class",
    "not-a-guid.class",
    "{7D7C1C1D-E92C-4F82-9F4B-6BE53134DBB5}",
};

// A store of its own (in memory when /dev/shm exists), removed when the process ends.
char g_storeDir[64] = "/dev/shm/vistrel-fuzz-store-XXXXXX";

std::string StoreDir() {
    static const bool made = [] {
        if (!mkdtemp(g_storeDir)) {
            std::snprintf(g_storeDir, sizeof g_storeDir, "/tmp/vistrel-fuzz-store-%d",
                          static_cast<int>(getpid()));
            std::filesystem::create_directories(g_storeDir);
        }
        setenv("VISTREL_CLASS_STORE", g_storeDir, 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(g_storeDir, ec);
        });
        return true;
    }();
    (void)made;
    return g_storeDir;
}

// Writes beside and renames, so that the store sees a new file every time.
void WriteEntry(const std::string& dir, const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string tmp = dir + "/.fuzz-tmp";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Require(fd >= 0, "the entry file");
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        Require(n > 0, "writing the entry");
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    Require(rename(tmp.c_str(), (dir + "/" + name).c_str()) == 0, "placing the entry");
}

// A malformed entry earns one line on stderr; the fuzzer's own output should stay readable.
template <class Fn>
auto Quietly(Fn fn) {
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 2);
    close(null);
    auto r = fn();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    return r;
}

bool Same(const com::ClassRegistration& a, const com::ClassRegistration& b) {
    return a.clsid == b.clsid && a.progId == b.progId &&
           a.versionIndependentProgId == b.versionIndependentProgId && a.description == b.description &&
           a.libraryPath == b.libraryPath && a.categories == b.categories;
}

}  // namespace

int ClassStore(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string dir = StoreDir();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string name = kNames[data[0] % 4];
    WriteEntry(dir, name, data + 1, size - 1);

    const auto all = Quietly([] { return com::EnumerateComClasses(); });
    Require(all.size() <= 1, "one file, at most one class");
    if (all.empty()) return 0;
    const com::ClassRegistration& reg = all.front();
    Require(name.size() == 44 && name.ends_with(".class"), "only a {CLSID}.class file is an entry");
    GUID stem{};
    Require(com::GuidFromUtf8(name.substr(0, 38), &stem) && stem == reg.clsid,
            "the entry names its file's class");
    Require(!reg.libraryPath.empty() && reg.libraryPath.front() == '/', "the library path is absolute");

    // Written back by the store, the entry reads the same (the library path in its normal form).
    std::filesystem::remove(dir + "/" + name);
    const HRESULT hr = com::RegisterComClass(reg);
    if (FAILED(hr)) {
        Require(hr == E_INVALIDARG, "only unstorable text is refused");
        return 0;
    }
    com::ClassRegistration want = reg;
    want.libraryPath = std::filesystem::path(reg.libraryPath).lexically_normal().string();
    const auto again = Quietly([] { return com::EnumerateComClasses(); });
    Require(again.size() == 1 && Same(again.front(), want), "a written entry reads back");
    return 0;
}

}  // namespace fuzz

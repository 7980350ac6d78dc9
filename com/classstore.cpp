// The class store: one UTF-8 text file per class, named after its CLSID ("{...}.class"), holding
// key=value lines:
//
//   # HDA Vistrel class entry
//   clsid={7DE5B060-E089-11D2-A5E6-000086339399}
//   order=3
//   progid=Brindlex.OPC.Simulation.1
//   viprogid=Brindlex.OPC.Simulation
//   description=Simulation historian
//   library=/usr/lib/vistrel/libsimulation.so
//   category={7DE5B060-E089-11D2-A5E6-000086339399}
//
// Lines starting with '#' and blank lines are ignored, a CR before the LF is tolerated, keys this
// version does not know are ignored (newer writers may add some). In values, "\\", "\n" and "\r"
// stand for a backslash, LF and CR. Required: clsid (equal to the file name's) and library (an
// absolute path). Optional: progid, viprogid, description, order, category (repeatable).
// Anything else (no '=', a bad escape, invalid UTF-8, a bad GUID, a repeated single key) makes the
// entry malformed: it is skipped with one diagnostic on stderr until the file changes.
//
// "order" is the class's place in its scope: one more than the largest in the directory when the
// class is first registered there, kept when it is registered again. Entries without one follow,
// by CLSID text. Files whose names start with '.' (the writer's temporary files) are never read.
//
// The parsed store is cached per directory; each lookup lists the directories and re-reads only
// files whose inode, size or modification time changed (every write replaces the inode).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "com/runtime_state.h"
#include "com/text.h"

namespace fs = std::filesystem;

namespace {

using com::ClassRegistration;
using com::StoreScope;
using com::detail::ClassList;

constexpr std::string_view kSuffix = ".class";
constexpr off_t kMaxEntryBytes = 64 << 20;

std::string EnvValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

void Diagnose(const std::string& text) {
    std::fprintf(stderr, "vistrel: class store: %s\n", text.c_str());
}

HRESULT HResultFromErrno(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
        case EROFS:
            return E_ACCESSDENIED;
        case ENOMEM:
            return E_OUTOFMEMORY;
        default:
            return REGDB_E_WRITEREGDB;
    }
}

// ---- Entry text ----

std::string Escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

bool Unescape(std::string_view s, std::string* out) {
    out->clear();
    out->reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            *out += s[i];
            continue;
        }
        if (++i == s.size()) return false;
        switch (s[i]) {
            case '\\':
                *out += '\\';
                break;
            case 'n':
                *out += '\n';
                break;
            case 'r':
                *out += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

bool IsValidUtf8(std::string_view s) {
    return com::Utf16ToUtf8(com::Utf8ToUtf16(s)) == s;
}

// Text that survives the round trip through UTF-8: no NUL, no unpaired surrogate.
bool IsStorableText(std::u16string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == 0) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

struct ParsedEntry {
    bool valid = false;
    ClassRegistration reg;
    bool hasOrder = false;
    unsigned long long order = 0;
};

ParsedEntry ParseEntry(std::string_view fileStem, std::string_view text, std::string* why) {
    ParsedEntry e;
    bool haveClsid = false, haveLibrary = false;
    std::set<std::string> seen;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    auto fail = [&](const std::string& reason) {
        *why = "line " + std::to_string(lineNo) + ": " + reason;
        return ParsedEntry{};
    };
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return fail("expected key=value");
        std::string key(line.substr(0, eq));
        std::string value;
        if (!Unescape(line.substr(eq + 1), &value)) return fail("bad escape in the value of '" + key + "'");
        if (!IsValidUtf8(value)) return fail("the value of '" + key + "' is not UTF-8");
        if (key != "category" && !seen.insert(key).second) return fail("'" + key + "' given twice");
        if (key == "clsid") {
            if (!com::GuidFromUtf8(value, &e.reg.clsid)) return fail("bad clsid '" + value + "'");
            haveClsid = true;
        } else if (key == "order") {
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), e.order);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size())
                return fail("bad order '" + value + "'");
            e.hasOrder = true;
        } else if (key == "progid") {
            e.reg.progId = com::Utf8ToUtf16(value);
        } else if (key == "viprogid") {
            e.reg.versionIndependentProgId = com::Utf8ToUtf16(value);
        } else if (key == "description") {
            e.reg.description = com::Utf8ToUtf16(value);
        } else if (key == "library") {
            if (value.empty() || value.front() != '/')
                return fail("library '" + value + "' is not an absolute path");
            e.reg.libraryPath = value;
            haveLibrary = true;
        } else if (key == "category") {
            CATID cat;
            if (!com::GuidFromUtf8(value, &cat)) return fail("bad category '" + value + "'");
            e.reg.categories.push_back(cat);
        }
    }
    if (!haveClsid) {
        *why = "no clsid";
        return ParsedEntry{};
    }
    if (!haveLibrary) {
        *why = "no library";
        return ParsedEntry{};
    }
    GUID stem;
    if (!com::GuidFromUtf8(fileStem, &stem) || stem != e.reg.clsid) {
        *why = "the file name does not match clsid " + com::GuidToUtf8(e.reg.clsid);
        return ParsedEntry{};
    }
    e.valid = true;
    return e;
}

std::string SerializeEntry(const ClassRegistration& reg, unsigned long long order) {
    std::string s = "# HDA Vistrel class entry\n";
    s += "clsid=" + com::GuidToUtf8(reg.clsid) + "\n";
    s += "order=" + std::to_string(order) + "\n";
    s += "progid=" + Escape(com::Utf16ToUtf8(reg.progId)) + "\n";
    s += "viprogid=" + Escape(com::Utf16ToUtf8(reg.versionIndependentProgId)) + "\n";
    s += "description=" + Escape(com::Utf16ToUtf8(reg.description)) + "\n";
    s += "library=" + Escape(reg.libraryPath) + "\n";
    for (const CATID& cat : reg.categories) s += "category=" + com::GuidToUtf8(cat) + "\n";
    return s;
}

// ---- Directory cache ----

struct FileKey {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    time_t mtimeSec = 0;
    long mtimeNsec = 0;
    bool operator==(const FileKey&) const = default;
};

struct CachedFile {
    FileKey key;
    ParsedEntry entry;
};

struct DirCache {
    std::map<std::string, CachedFile> files;  // by file name
    int lastErrno = 0;
};

struct StoreCache {
    std::mutex mutex;
    std::map<std::string, DirCache> dirs;
    std::vector<std::string> lastDirs;
    std::shared_ptr<const ClassList> snapshot;
};

StoreCache& Cache() {
    static StoreCache cache;
    return cache;
}

bool ReadWholeFile(int dirFd, const std::string& name, off_t size, std::string* out, int* err) {
    int fd = openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return false;
    }
    out->assign(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    while (true) {
        if (got == out->size()) out->resize(out->size() + 4096);
        ssize_t n = read(fd, out->data() + got, out->size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            close(fd);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        if (got > static_cast<std::size_t>(kMaxEntryBytes)) {
            *err = EFBIG;
            close(fd);
            return false;
        }
    }
    out->resize(got);
    close(fd);
    return true;
}

// Brings one directory's cache up to date; true when anything in it changed.
bool RefreshDir(DirCache& dc, const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        int err = errno;
        if (err != ENOENT && err != ENOTDIR && err != dc.lastErrno)
            Diagnose("cannot read directory '" + dir + "': " + std::strerror(err));
        dc.lastErrno = err;
        bool changed = !dc.files.empty();
        dc.files.clear();
        return changed;
    }
    dc.lastErrno = 0;
    bool changed = false;
    std::set<std::string> present;
    int dirFd = dirfd(d);
    while (dirent* de = readdir(d)) {
        std::string name = de->d_name;
        if (name.empty() || name[0] == '.' || name.size() <= kSuffix.size() ||
            name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
            continue;
        struct stat st;
        if (fstatat(dirFd, name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        FileKey key{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
        present.insert(name);
        auto it = dc.files.find(name);
        if (it != dc.files.end() && it->second.key == key) continue;
        changed = true;
        CachedFile cf;
        cf.key = key;
        std::string text, why;
        int err = 0;
        std::string path = dir + "/" + name;
        if (st.st_size > kMaxEntryBytes) {
            Diagnose("skipping malformed entry '" + path + "': larger than " +
                     std::to_string(kMaxEntryBytes) + " bytes");
        } else if (!ReadWholeFile(dirFd, name, st.st_size, &text, &err)) {
            Diagnose("skipping entry '" + path + "': " + std::strerror(err));
        } else {
            cf.entry = ParseEntry(std::string_view(name).substr(0, name.size() - kSuffix.size()), text, &why);
            if (!cf.entry.valid) Diagnose("skipping malformed entry '" + path + "': " + why);
        }
        dc.files[name] = std::move(cf);
    }
    closedir(d);
    for (auto it = dc.files.begin(); it != dc.files.end();) {
        if (present.count(it->first) == 0) {
            it = dc.files.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    return changed;
}

// One directory's valid entries in store order.
std::vector<const ParsedEntry*> OrderedEntries(const DirCache& dc) {
    std::vector<const ParsedEntry*> v;
    for (const auto& [name, cf] : dc.files)
        if (cf.entry.valid) v.push_back(&cf.entry);
    std::stable_sort(v.begin(), v.end(), [](const ParsedEntry* a, const ParsedEntry* b) {
        if (a->hasOrder != b->hasOrder) return a->hasOrder;
        if (a->hasOrder && a->order != b->order) return a->order < b->order;
        return com::GuidToUtf8(a->reg.clsid) < com::GuidToUtf8(b->reg.clsid);
    });
    return v;
}

// The directories searched, in order.
std::vector<std::string> SearchDirectories() {
    std::vector<std::string> dirs;
    std::string env = com::ClassStoreDirectory(StoreScope::Environment);
    if (!env.empty()) {
        dirs.push_back(env);
        return dirs;
    }
    for (StoreScope s : {StoreScope::User, StoreScope::System}) {
        std::string d = com::ClassStoreDirectory(s);
        if (!d.empty() && std::find(dirs.begin(), dirs.end(), d) == dirs.end()) dirs.push_back(d);
    }
    return dirs;
}

std::shared_ptr<const ClassList> BuildList(const std::vector<const DirCache*>& dirs) {
    auto list = std::make_shared<ClassList>();
    std::set<GUID> seen;
    for (const DirCache* dc : dirs)
        for (const ParsedEntry* e : OrderedEntries(*dc))
            if (seen.insert(e->reg.clsid).second) list->push_back(e->reg);
    return list;
}

// ---- Registration context (set by the registration command around DllRegisterServer) ----

struct RegistrationContext {
    std::mutex mutex;
    bool set = false;
    StoreScope scope = StoreScope::Default;
    std::string libraryPath;
};

RegistrationContext& Context() {
    static RegistrationContext ctx;
    return ctx;
}

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

// The directory a registration writes to, and the library path it records.
HRESULT WriteTarget(const std::string& givenPath, std::string* dir, std::string* libraryPath) {
    StoreScope scope = StoreScope::Default;
    std::string contextPath;
    {
        auto& ctx = Context();
        std::lock_guard lock(ctx.mutex);
        if (ctx.set) {
            scope = ctx.scope;
            contextPath = ctx.libraryPath;
        }
    }
    *dir = com::ClassStoreDirectory(scope);
    if (dir->empty()) return REGDB_E_WRITEREGDB;
    *libraryPath = givenPath.empty() ? contextPath : givenPath;
    if (libraryPath->empty()) return E_INVALIDARG;
    if (libraryPath->find('\0') != std::string::npos || !IsValidUtf8(*libraryPath)) return E_INVALIDARG;
    std::error_code ec;
    fs::path abs = fs::absolute(*libraryPath, ec);
    if (ec) return E_INVALIDARG;
    *libraryPath = abs.lexically_normal().string();
    return S_OK;
}

HRESULT SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return HResultFromErrno(errno);
    int rc = fsync(fd);
    int err = errno;
    close(fd);
    return rc == 0 ? S_OK : HResultFromErrno(err);
}

HRESULT WriteFileAtomically(const std::string& dir, const std::string& name, const std::string& content) {
    static std::atomic<unsigned> counter{0};
    std::string tmp =
        dir + "/." + name + "." + std::to_string(getpid()) + "." + std::to_string(++counter) + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return HResultFromErrno(errno);
    auto failWith = [&](int err) {
        close(fd);
        unlink(tmp.c_str());
        return HResultFromErrno(err);
    };
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failWith(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0) return failWith(errno);
    if (close(fd) != 0) {
        int err = errno;
        unlink(tmp.c_str());
        return HResultFromErrno(err);
    }
    // rename() replaces the old entry in one step: a reader sees the old file or the new one.
    if (rename(tmp.c_str(), (dir + "/" + name).c_str()) != 0) {
        int err = errno;
        unlink(tmp.c_str());
        return HResultFromErrno(err);
    }
    return SyncDirectory(dir);
}

// After this process wrote or removed an entry: the next lookup reads it again, even if a reused
// inode with the same size and time stamp would make it look unchanged.
void ForgetEntry(const std::string& dir, const std::string& name) {
    auto& cache = Cache();
    std::lock_guard lock(cache.mutex);
    auto it = cache.dirs.find(dir);
    if (it != cache.dirs.end()) it->second.files.erase(name);
    cache.snapshot.reset();
}

std::string EntryFileName(REFCLSID clsid) {
    return com::GuidToUtf8(clsid) + std::string(kSuffix);
}

}  // namespace

namespace com {

std::string ClassStoreDirectory(StoreScope scope) {
    switch (scope) {
        case StoreScope::Environment:
            return EnvValue("VISTREL_CLASS_STORE");
        case StoreScope::User: {
            std::string xdg = EnvValue("XDG_DATA_HOME");
            if (!xdg.empty() && xdg.front() == '/') return xdg + "/vistrel/classes";
            std::string home = EnvValue("HOME");
            if (home.empty()) return {};
            return home + "/.local/share/vistrel/classes";
        }
        case StoreScope::System: {
            std::string sys = EnvValue("VISTREL_SYSTEM_CLASS_STORE");
            return sys.empty() ? std::string("/etc/vistrel/classes") : sys;
        }
        case StoreScope::Default:
        default: {
            std::string env = EnvValue("VISTREL_CLASS_STORE");
            return env.empty() ? ClassStoreDirectory(StoreScope::User) : env;
        }
    }
}

HRESULT RegisterComClass(const ClassRegistration& reg) {
    if (reg.clsid == CLSID_NULL) return E_INVALIDARG;
    if (!IsStorableText(reg.progId) || !IsStorableText(reg.versionIndependentProgId) ||
        !IsStorableText(reg.description))
        return E_INVALIDARG;
    std::string dir, library;
    HRESULT hr = WriteTarget(reg.libraryPath, &dir, &library);
    if (FAILED(hr)) return hr;

    std::lock_guard writeLock(WriteMutex());
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return HResultFromErrno(ec.value());

    const std::string name = EntryFileName(reg.clsid);
    unsigned long long order = 1;
    {
        auto& cache = Cache();
        std::lock_guard lock(cache.mutex);
        DirCache& dc = cache.dirs[dir];
        if (RefreshDir(dc, dir)) cache.snapshot.reset();
        auto mine = dc.files.find(name);
        if (mine != dc.files.end() && mine->second.entry.valid && mine->second.entry.hasOrder) {
            order = mine->second.entry.order;
        } else {
            for (const auto& [n, cf] : dc.files)
                if (cf.entry.valid && cf.entry.hasOrder) order = std::max(order, cf.entry.order + 1);
        }
    }
    ClassRegistration stored = reg;
    stored.libraryPath = library;
    hr = WriteFileAtomically(dir, name, SerializeEntry(stored, order));
    ForgetEntry(dir, name);
    return hr;
}

HRESULT UnregisterComClass(REFCLSID clsid) {
    std::string dir;
    StoreScope scope = StoreScope::Default;
    {
        auto& ctx = Context();
        std::lock_guard lock(ctx.mutex);
        if (ctx.set) scope = ctx.scope;
    }
    dir = ClassStoreDirectory(scope);
    if (dir.empty()) return REGDB_E_WRITEREGDB;
    std::lock_guard writeLock(WriteMutex());
    const std::string name = EntryFileName(clsid);
    if (unlink((dir + "/" + name).c_str()) != 0) {
        if (errno == ENOENT) return S_FALSE;  // nothing registered: success, but nothing was removed
        return HResultFromErrno(errno);
    }
    ForgetEntry(dir, name);
    return SyncDirectory(dir);
}

std::vector<ClassRegistration> EnumerateComClasses() {
    return *detail::ClassStoreSnapshot();
}

bool FindComClass(REFCLSID clsid, ClassRegistration* out) {
    auto snapshot = detail::ClassStoreSnapshot();
    auto reg = std::find_if(snapshot->begin(), snapshot->end(),
                            [&](const ClassRegistration& r) { return r.clsid == clsid; });
    if (reg == snapshot->end()) return false;
    *out = *reg;
    return true;
}

std::vector<ClassRegistration> EnumerateComClasses(StoreScope scope) {
    if (scope == StoreScope::Default) return EnumerateComClasses();
    std::string dir = ClassStoreDirectory(scope);
    if (dir.empty()) return {};
    auto& cache = Cache();
    std::lock_guard lock(cache.mutex);
    DirCache& dc = cache.dirs[dir];
    if (RefreshDir(dc, dir)) cache.snapshot.reset();
    std::vector<ClassRegistration> out;
    for (const ParsedEntry* e : OrderedEntries(dc)) out.push_back(e->reg);
    return out;
}

std::string ModulePathOf(const void* addressInModule) {
    Dl_info info{};
    if (dladdr(addressInModule, &info) == 0 || info.dli_fname == nullptr) return {};
    std::string name = info.dli_fname;
    std::error_code ec;
    if (name.find('/') == std::string::npos) {
        // The main program is reported by the name it was started with.
        fs::path exe = fs::read_symlink("/proc/self/exe", ec);
        return ec ? std::string() : exe.string();
    }
    fs::path abs = fs::absolute(name, ec);
    return ec ? name : abs.lexically_normal().string();
}

void SetRegistrationContext(StoreScope scope, const std::string& libraryPath) {
    auto& ctx = Context();
    std::lock_guard lock(ctx.mutex);
    ctx.set = true;
    ctx.scope = scope;
    ctx.libraryPath = libraryPath;
}

void ClearRegistrationContext() {
    auto& ctx = Context();
    std::lock_guard lock(ctx.mutex);
    ctx.set = false;
    ctx.scope = StoreScope::Default;
    ctx.libraryPath.clear();
}

namespace {

HRESULT CallServerExport(const std::string& libraryPath, StoreScope scope, const char* exportName) {
    if (libraryPath.empty() || libraryPath.find('\0') != std::string::npos) return E_INVALIDARG;
    std::error_code ec;
    std::string abs = fs::absolute(libraryPath, ec).lexically_normal().string();
    if (ec) return E_INVALIDARG;
    void* handle = nullptr;
    HRESULT hr = detail::LoadServerLibrary(abs, &handle);
    if (FAILED(hr)) return hr;
    void* address = nullptr;
    hr = detail::FindServerExport(handle, abs, exportName, &address);
    if (FAILED(hr)) return hr;
    auto fn = reinterpret_cast<PFN_DllRegisterServer>(address);
    SetRegistrationContext(scope, abs);
    try {
        hr = fn();
    } catch (...) {
        detail::SetLastServerLibraryError(std::string(exportName) + " in '" + abs + "' threw an exception");
        hr = E_UNEXPECTED;
    }
    ClearRegistrationContext();
    return hr;
}

}  // namespace

HRESULT RegisterServerLibrary(const std::string& libraryPath, StoreScope scope) {
    return CallServerExport(libraryPath, scope, "DllRegisterServer");
}

HRESULT UnregisterServerLibrary(const std::string& libraryPath, StoreScope scope) {
    return CallServerExport(libraryPath, scope, "DllUnregisterServer");
}

namespace detail {

std::shared_ptr<const ClassList> ClassStoreSnapshot() {
    std::vector<std::string> dirs = SearchDirectories();
    auto& cache = Cache();
    std::lock_guard lock(cache.mutex);
    bool changed = !cache.snapshot || dirs != cache.lastDirs;
    std::vector<const DirCache*> searched;
    for (const std::string& d : dirs) {
        DirCache& dc = cache.dirs[d];
        if (RefreshDir(dc, d)) changed = true;
        searched.push_back(&dc);
    }
    // Directories no longer searched (a test's removed store) are forgotten.
    for (auto it = cache.dirs.begin(); it != cache.dirs.end();) {
        if (std::find(dirs.begin(), dirs.end(), it->first) == dirs.end())
            it = cache.dirs.erase(it);
        else
            ++it;
    }
    if (changed) {
        cache.snapshot = BuildList(searched);
        cache.lastDirs = dirs;
    }
    return cache.snapshot;
}

void DropClassStoreCache() {
    auto& cache = Cache();
    std::lock_guard lock(cache.mutex);
    cache.dirs.clear();
    cache.lastDirs.clear();
    cache.snapshot.reset();
}

const ClassRegistration* FindByClsid(const ClassList& list, REFCLSID clsid) {
    for (const auto& reg : list)
        if (reg.clsid == clsid) return &reg;
    return nullptr;
}

namespace {
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}
}  // namespace

const ClassRegistration* FindByProgId(const ClassList& list, std::u16string_view progId) {
    if (progId.empty()) return nullptr;
    for (const auto& reg : list)
        if (EqualsIgnoringAsciiCase(reg.progId, progId) ||
            EqualsIgnoringAsciiCase(reg.versionIndependentProgId, progId))
            return &reg;
    return nullptr;
}

}  // namespace detail
}  // namespace com

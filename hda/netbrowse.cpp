#include "hda/netbrowse.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

#include "com/text.h"

namespace {

// ---- The enumeration ----

struct EnumState {
    std::vector<hda::NetEntry> entries;
    std::size_t next = 0;
};

struct Network {
    std::mutex mutex;
    hda::NetworkSource source;  // empty: the default
    std::set<EnumState*> open;  // the handles given out and not yet closed
};

Network& TheNetwork() {
    static Network network;
    return network;
}

DWORD DefaultSource(std::vector<hda::NetEntry>* pEntries) {
    for (std::u16string& name : hda::FindComputers(hda::DefaultComputerSources(), std::cerr))
        pEntries->push_back({RESOURCEDISPLAYTYPE_SERVER, std::move(name)});
    return NO_ERROR;
}

// ---- Names in files ----

std::string EnvValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::u16string Folded(const std::u16string& s) {
    std::u16string out(s);
    std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
    return out;
}

std::u16string WithoutBackslashes(std::u16string_view s) {
    const std::size_t start = s.find_first_not_of(u'\\');
    return start == std::u16string_view::npos ? std::u16string() : std::u16string(s.substr(start));
}

// No computer name is longer than a DNS name.
constexpr std::size_t kMaxNameChars = 255;

// The whole of a small file, or false with the reason. A missing file is empty and no failure.
bool ReadSmallFile(const std::string& path, std::string* pText, std::string* pWhy) {
    pText->clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        *pWhy = std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        *pWhy = "not a regular file";
        ::close(fd);
        return false;
    }
    constexpr std::size_t kMaxBytes = 4u << 20;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *pWhy = std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        pText->append(buf, static_cast<std::size_t>(n));
        if (pText->size() > kMaxBytes) {
            *pWhy = "larger than 4 MiB";
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

// The names of a list file, in file order.
void ReadNameFile(const std::string& path, std::vector<std::u16string>* pNames, std::ostream& diagnostics) {
    std::string text, why;
    if (!ReadSmallFile(path, &text, &why)) {
        diagnostics << "hda-vistrel: the computer list " << path << " cannot be read (" << why
                    << "); its computers are not offered.\n";
        return;
    }
    std::size_t lineNo = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (const std::size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        std::u16string name = WithoutBackslashes(com::Utf8ToUtf16(line));
        const bool bad =
            name.empty() || name.size() > kMaxNameChars ||
            std::any_of(name.begin(), name.end(), [](char16_t c) { return c <= u' ' || c == 0x7F; });
        if (bad) {
            diagnostics << "hda-vistrel: " << path << ":" << lineNo
                        << ": not a computer name; line ignored.\n";
            continue;
        }
        pNames->push_back(std::move(name));
    }
}

// ---- DNS-SD through Avahi, loaded at run time ----
// The few entry points used, declared as libavahi-client 0.8 (ABI version 3) exports them.

struct AvahiPoll;
struct AvahiSimplePoll;
struct AvahiClient;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;
struct AvahiAddress;
struct AvahiStringList;

constexpr int AVAHI_IF_UNSPEC = -1;
constexpr int AVAHI_PROTO_UNSPEC = -1;
constexpr int AVAHI_CLIENT_FAILURE = 100;
constexpr int AVAHI_BROWSER_NEW = 0;
constexpr int AVAHI_BROWSER_ALL_FOR_NOW = 3;
constexpr int AVAHI_BROWSER_FAILURE = 4;
constexpr int AVAHI_RESOLVER_FOUND = 0;

using ClientCallback = void (*)(AvahiClient*, int state, void* userdata);
using BrowserCallback = void (*)(AvahiServiceBrowser*, int iface, int protocol, int event, const char* name,
                                 const char* type, const char* domain, int flags, void* userdata);
using ResolverCallback = void (*)(AvahiServiceResolver*, int iface, int protocol, int event, const char* name,
                                  const char* type, const char* domain, const char* hostName,
                                  const AvahiAddress* address, std::uint16_t port, AvahiStringList* txt,
                                  int flags, void* userdata);

struct Avahi {
    AvahiSimplePoll* (*simple_poll_new)() = nullptr;
    const AvahiPoll* (*simple_poll_get)(AvahiSimplePoll*) = nullptr;
    int (*simple_poll_iterate)(AvahiSimplePoll*, int sleepMs) = nullptr;
    void (*simple_poll_free)(AvahiSimplePoll*) = nullptr;
    AvahiClient* (*client_new)(const AvahiPoll*, int flags, ClientCallback, void*, int* error) = nullptr;
    void (*client_free)(AvahiClient*) = nullptr;
    AvahiServiceBrowser* (*service_browser_new)(AvahiClient*, int iface, int protocol, const char* type,
                                                const char* domain, int flags, BrowserCallback,
                                                void*) = nullptr;
    AvahiServiceResolver* (*service_resolver_new)(AvahiClient*, int iface, int protocol, const char* name,
                                                  const char* type, const char* domain, int aprotocol,
                                                  int flags, ResolverCallback, void*) = nullptr;
    int (*service_resolver_free)(AvahiServiceResolver*) = nullptr;
    bool loaded = false;
};

template <class F>
bool Bind(void* lib, const char* name, F* fn) {
    *fn = reinterpret_cast<F>(dlsym(lib, name));
    return *fn != nullptr;
}

constexpr char kAvahiLibrary[] = "libavahi-client.so.3";

// Loaded once and never unloaded (D-Bus does not survive being unmapped); null when absent.
void* AvahiLibrary() {
    static void* const lib = dlopen(kAvahiLibrary, RTLD_NOW | RTLD_LOCAL);
    return lib;
}

const Avahi& TheAvahi() {
    static const Avahi avahi = [] {
        Avahi a;
        void* lib = AvahiLibrary();
        if (!lib) return a;
        a.loaded = Bind(lib, "avahi_simple_poll_new", &a.simple_poll_new) &&
                   Bind(lib, "avahi_simple_poll_get", &a.simple_poll_get) &&
                   Bind(lib, "avahi_simple_poll_iterate", &a.simple_poll_iterate) &&
                   Bind(lib, "avahi_simple_poll_free", &a.simple_poll_free) &&
                   Bind(lib, "avahi_client_new", &a.client_new) &&
                   Bind(lib, "avahi_client_free", &a.client_free) &&
                   Bind(lib, "avahi_service_browser_new", &a.service_browser_new) &&
                   Bind(lib, "avahi_service_resolver_new", &a.service_resolver_new) &&
                   Bind(lib, "avahi_service_resolver_free", &a.service_resolver_free);
        return a;
    }();
    return avahi;
}

struct BrowseState {
    const Avahi* avahi = nullptr;
    AvahiClient* client = nullptr;
    int pending = 0;  // resolvers not yet answered
    bool allForNow = false;
    bool failed = false;
    std::set<std::u16string> names;
};

void OnResolved(AvahiServiceResolver* r, int, int, int event, const char*, const char*, const char*,
                const char* hostName, const AvahiAddress*, std::uint16_t port, AvahiStringList*, int,
                void* userdata) {
    auto* s = static_cast<BrowseState*>(userdata);
    if (event == AVAHI_RESOLVER_FOUND && hostName && *hostName) {
        std::u16string name = com::Utf8ToUtf16(hostName);
        if (port != hda::kDefaultHostPort) name += com::Utf8ToUtf16(":" + std::to_string(port));
        if (name.size() <= kMaxNameChars) s->names.insert(u"\\\\" + name);
    }
    s->avahi->service_resolver_free(r);
    --s->pending;
}

void OnBrowsed(AvahiServiceBrowser*, int iface, int protocol, int event, const char* name, const char* type,
               const char* domain, int, void* userdata) {
    auto* s = static_cast<BrowseState*>(userdata);
    if (event == AVAHI_BROWSER_NEW) {
        if (s->avahi->service_resolver_new(s->client, iface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                                           0, &OnResolved, s))
            ++s->pending;
    } else if (event == AVAHI_BROWSER_ALL_FOR_NOW) {
        s->allForNow = true;
    } else if (event == AVAHI_BROWSER_FAILURE) {
        s->failed = true;
    }
}

void OnClientState(AvahiClient*, int state, void* userdata) {
    if (state == AVAHI_CLIENT_FAILURE) static_cast<BrowseState*>(userdata)->failed = true;
}

// ---- Advertising the host service ----

struct AvahiThreadedPoll;
struct AvahiEntryGroup;

constexpr int AVAHI_CLIENT_S_REGISTERING = 1;
constexpr int AVAHI_CLIENT_S_RUNNING = 2;
constexpr int AVAHI_CLIENT_S_COLLISION = 3;
constexpr int AVAHI_ENTRY_GROUP_ESTABLISHED = 2;
constexpr int AVAHI_ENTRY_GROUP_COLLISION = 3;
constexpr int AVAHI_ENTRY_GROUP_FAILURE = 4;

using GroupCallback = void (*)(AvahiEntryGroup*, int state, void* userdata);

struct AvahiPublish {
    AvahiThreadedPoll* (*threaded_poll_new)() = nullptr;
    const AvahiPoll* (*threaded_poll_get)(AvahiThreadedPoll*) = nullptr;
    int (*threaded_poll_start)(AvahiThreadedPoll*) = nullptr;
    int (*threaded_poll_stop)(AvahiThreadedPoll*) = nullptr;
    void (*threaded_poll_free)(AvahiThreadedPoll*) = nullptr;
    AvahiClient* (*client_new)(const AvahiPoll*, int flags, ClientCallback, void*, int* error) = nullptr;
    void (*client_free)(AvahiClient*) = nullptr;
    int (*client_errno)(AvahiClient*) = nullptr;
    const char* (*strerror)(int) = nullptr;
    AvahiEntryGroup* (*entry_group_new)(AvahiClient*, GroupCallback, void*) = nullptr;
    int (*entry_group_add_service)(AvahiEntryGroup*, int iface, int protocol, int flags, const char* name,
                                   const char* type, const char* domain, const char* host, std::uint16_t port,
                                   ...) = nullptr;
    int (*entry_group_commit)(AvahiEntryGroup*) = nullptr;
    int (*entry_group_reset)(AvahiEntryGroup*) = nullptr;
    AvahiClient* (*entry_group_get_client)(AvahiEntryGroup*) = nullptr;
    char* (*alternative_service_name)(const char*) = nullptr;
    void (*free)(void*) = nullptr;
    bool loaded = false;
};

const AvahiPublish& ThePublisher() {
    static const AvahiPublish avahi = [] {
        AvahiPublish a;
        void* lib = AvahiLibrary();
        if (!lib) return a;
        a.loaded =
            Bind(lib, "avahi_threaded_poll_new", &a.threaded_poll_new) &&
            Bind(lib, "avahi_threaded_poll_get", &a.threaded_poll_get) &&
            Bind(lib, "avahi_threaded_poll_start", &a.threaded_poll_start) &&
            Bind(lib, "avahi_threaded_poll_stop", &a.threaded_poll_stop) &&
            Bind(lib, "avahi_threaded_poll_free", &a.threaded_poll_free) &&
            Bind(lib, "avahi_client_new", &a.client_new) && Bind(lib, "avahi_client_free", &a.client_free) &&
            Bind(lib, "avahi_client_errno", &a.client_errno) && Bind(lib, "avahi_strerror", &a.strerror) &&
            Bind(lib, "avahi_entry_group_new", &a.entry_group_new) &&
            Bind(lib, "avahi_entry_group_add_service", &a.entry_group_add_service) &&
            Bind(lib, "avahi_entry_group_commit", &a.entry_group_commit) &&
            Bind(lib, "avahi_entry_group_reset", &a.entry_group_reset) &&
            Bind(lib, "avahi_entry_group_get_client", &a.entry_group_get_client) &&
            Bind(lib, "avahi_alternative_service_name", &a.alternative_service_name) &&
            Bind(lib, "avahi_free", &a.free);
        return a;
    }();
    return avahi;
}

// A listen address that only this computer can reach.
bool LoopbackOnly(std::string address) {
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    std::transform(address.begin(), address.end(), address.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return address == "localhost" || address == "ip6-localhost" || address == "::1" ||
           address.rfind("127.", 0) == 0 || address.rfind("localhost.", 0) == 0;
}

}  // namespace

namespace hda {

// Everything below runs on the poll's thread once it started (or in client_new, before it does).
struct HostAdvertisement::Impl {
    const AvahiPublish* avahi = nullptr;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    std::string name;
    std::uint16_t port = 0;
    std::function<void(const std::string&)> log;
    bool reported = false;  // one line, whatever happens

    void Report(const std::string& line) {
        if (reported || !log) return;
        reported = true;
        log("DNS-SD: " + line);
    }
    std::string Why(AvahiClient* c) const { return avahi->strerror(avahi->client_errno(c)); }

    void AddService(AvahiClient* c) {
        if (!group) group = avahi->entry_group_new(c, &OnGroup, this);
        if (!group) return Report("not advertised (" + Why(c) + ")");
        const int rc = avahi->entry_group_add_service(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, 0,
                                                      name.c_str(), kHostServiceType, nullptr, nullptr, port,
                                                      static_cast<const char*>(nullptr));
        if (rc < 0 || avahi->entry_group_commit(group) < 0) Report("not advertised (" + Why(c) + ")");
    }
    void Rename() {
        char* other = avahi->alternative_service_name(name.c_str());
        if (other) name = other;
        avahi->free(other);
    }
    static void OnClient(AvahiClient* c, int state, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        if (state == AVAHI_CLIENT_S_RUNNING) {
            if (!self->group) self->AddService(c);
        } else if ((state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) &&
                   self->group) {
            self->avahi->entry_group_reset(self->group);  // added again once the daemon runs again
        } else if (state == AVAHI_CLIENT_FAILURE) {
            self->Report("advertising stopped (" + self->Why(c) + ")");
        }
    }
    static void OnGroup(AvahiEntryGroup* g, int state, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        self->group = g;
        if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
            self->Report("advertised as '" + self->name + "' (" + kHostServiceType + ", port " +
                         std::to_string(self->port) + ")");
        } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
            self->Rename();
            self->avahi->entry_group_reset(g);
            self->AddService(self->avahi->entry_group_get_client(g));
        } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
            self->Report("not advertised (" + self->Why(self->avahi->entry_group_get_client(g)) + ")");
        }
    }
};

HostAdvertisement::HostAdvertisement(const std::string& strListen, std::uint16_t port,
                                     std::function<void(const std::string&)> log)
    : m_impl(std::make_unique<Impl>()) {
    Impl& a = *m_impl;
    a.port = port;
    a.log = std::move(log);
    if (LoopbackOnly(strListen)) return;  // nobody else could connect
    a.avahi = &ThePublisher();
    if (!a.avahi->loaded) {
        a.Report(std::string("not advertised (") + kAvahiLibrary + " is not installed)");
        return;
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    a.name = std::string("vistrel-host on ") + host;
    a.poll = a.avahi->threaded_poll_new();
    if (!a.poll) {
        a.Report("not advertised (no memory for the poll)");
        return;
    }
    int error = 0;
    a.client = a.avahi->client_new(a.avahi->threaded_poll_get(a.poll), 0, &Impl::OnClient, &a, &error);
    if (!a.client) {
        a.Report(std::string("not advertised (no Avahi daemon answers: ") + a.avahi->strerror(error) + ")");
        a.avahi->threaded_poll_free(a.poll);
        a.poll = nullptr;
        return;
    }
    a.avahi->threaded_poll_start(a.poll);
}

HostAdvertisement::~HostAdvertisement() {
    Impl& a = *m_impl;
    if (!a.poll) return;
    a.avahi->threaded_poll_stop(a.poll);
    a.avahi->client_free(a.client);  // withdraws the service with its group
    a.avahi->threaded_poll_free(a.poll);
}

}  // namespace hda

namespace {}  // namespace

// ---- The enumeration ----

DWORD WNetOpenEnumW(DWORD dwScope, DWORD, DWORD, const NETRESOURCEW* lpNetResource, HANDLE* lphEnum) {
    if (!lphEnum) return ERROR_INVALID_PARAMETER;
    *lphEnum = nullptr;
    // The computers of this network are all there is: no containers, no connected or remembered shares.
    if (dwScope != RESOURCE_CONTEXT || lpNetResource) return ERROR_NO_NETWORK;
    hda::NetworkSource source;
    {
        std::lock_guard<std::mutex> lock(TheNetwork().mutex);
        source = TheNetwork().source;
    }
    auto state = std::make_unique<EnumState>();
    const DWORD rc = source ? source(&state->entries) : DefaultSource(&state->entries);
    if (rc != NO_ERROR) return rc;
    std::lock_guard<std::mutex> lock(TheNetwork().mutex);
    TheNetwork().open.insert(state.get());
    *lphEnum = state.release();
    return NO_ERROR;
}

DWORD WNetEnumResourceW(HANDLE hEnum, DWORD* lpcCount, void* lpBuffer, DWORD* lpBufferSize) {
    std::lock_guard<std::mutex> lock(TheNetwork().mutex);
    auto* state = static_cast<EnumState*>(hEnum);
    if (!state || !TheNetwork().open.count(state)) return ERROR_INVALID_HANDLE;
    if (!lpcCount || !lpBufferSize || *lpcCount == 0 || (!lpBuffer && *lpBufferSize))
        return ERROR_INVALID_PARAMETER;
    const DWORD wanted = *lpcCount;
    *lpcCount = 0;
    if (state->next >= state->entries.size()) return ERROR_NO_MORE_ITEMS;

    // How many entries fit: each takes its record and its name with the terminator.
    auto bytesOf = [](const hda::NetEntry& e) {
        return sizeof(NETRESOURCEW) + (e.strRemoteName.size() + 1) * sizeof(WCHAR);
    };
    std::size_t total = 0, n = 0;
    while (n < wanted && state->next + n < state->entries.size()) {
        const std::size_t need = bytesOf(state->entries[state->next + n]);
        if (total + need > *lpBufferSize) break;
        total += need;
        ++n;
    }
    if (n == 0) {
        *lpBufferSize =
            static_cast<DWORD>(std::min<std::size_t>(bytesOf(state->entries[state->next]), 0xFFFFFFFFu));
        return ERROR_MORE_DATA;
    }
    auto* records = static_cast<NETRESOURCEW*>(lpBuffer);
    auto* strings = reinterpret_cast<WCHAR*>(records + n);
    for (std::size_t i = 0; i < n; ++i) {
        const hda::NetEntry& e = state->entries[state->next + i];
        std::copy(e.strRemoteName.begin(), e.strRemoteName.end(), strings);
        strings[e.strRemoteName.size()] = 0;
        records[i] = NETRESOURCEW{RESOURCE_GLOBALNET,
                                  RESOURCETYPE_ANY,
                                  e.dwDisplayType,
                                  RESOURCEUSAGE_CONTAINER,
                                  nullptr,
                                  strings,
                                  nullptr,
                                  nullptr};
        strings += e.strRemoteName.size() + 1;
    }
    state->next += n;
    *lpcCount = static_cast<DWORD>(n);
    return NO_ERROR;
}

DWORD WNetCloseEnum(HANDLE hEnum) {
    auto* state = static_cast<EnumState*>(hEnum);
    {
        std::lock_guard<std::mutex> lock(TheNetwork().mutex);
        if (!state || TheNetwork().open.erase(state) == 0) return ERROR_INVALID_HANDLE;
    }
    delete state;
    return NO_ERROR;
}

namespace hda {

NetworkSource SetNetworkSource(NetworkSource source) {
    std::lock_guard<std::mutex> lock(TheNetwork().mutex);
    std::swap(TheNetwork().source, source);
    return source;
}

std::string ConfigDirectory() {
    if (std::string d = EnvValue("VISTREL_CONFIG_DIR"); !d.empty()) return d;
    if (std::string x = EnvValue("XDG_CONFIG_HOME"); !x.empty() && x[0] == '/') return x + "/vistrel";
    return EnvValue("HOME") + "/.config/vistrel";
}

ComputerSources DefaultComputerSources() {
    const std::string dir = ConfigDirectory();
    return ComputerSources{dir + "/reached-hosts", dir + "/hosts", [] { return BrowseDnsSd(); }};
}

std::vector<std::u16string> FindComputers(const ComputerSources& sources, std::ostream& diagnostics) {
    std::vector<std::u16string> names;
    if (!sources.strReachedHostsPath.empty()) ReadNameFile(sources.strReachedHostsPath, &names, diagnostics);
    if (!sources.strHostsPath.empty()) ReadNameFile(sources.strHostsPath, &names, diagnostics);
    if (sources.dnsSd)
        for (const std::u16string& name : sources.dnsSd()) {
            std::u16string bare = WithoutBackslashes(name);
            if (!bare.empty() && bare.size() <= kMaxNameChars) names.push_back(std::move(bare));
        }

    std::vector<std::u16string> computers;
    std::set<std::u16string> seen;
    for (const std::u16string& name : names)
        if (seen.insert(Folded(name)).second) computers.push_back(u"\\\\" + name);
    return computers;
}

std::vector<std::u16string> BrowseDnsSd(unsigned timeoutMs) {
    const Avahi& avahi = TheAvahi();
    if (!avahi.loaded) return {};
    AvahiSimplePoll* poll = avahi.simple_poll_new();
    if (!poll) return {};
    BrowseState state;
    state.avahi = &avahi;
    int error = 0;
    state.client = avahi.client_new(avahi.simple_poll_get(poll), 0, &OnClientState, &state, &error);
    if (state.client && avahi.service_browser_new(state.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                  hda::kHostServiceType, nullptr, 0, &OnBrowsed, &state)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!state.failed && !(state.allForNow && state.pending == 0)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            if (avahi.simple_poll_iterate(poll, static_cast<int>(std::min<long long>(left, 100))) != 0) break;
        }
    }
    // Freeing the client frees its browser and any resolver still waiting.
    if (state.client) avahi.client_free(state.client);
    avahi.simple_poll_free(poll);
    return {state.names.begin(), state.names.end()};
}

bool RememberReachedHost(const std::u16string& strComputer, const std::string& strPath,
                         std::ostream& diagnostics) {
    const std::u16string name = WithoutBackslashes(strComputer);
    if (name.empty() || name.size() > kMaxNameChars ||
        std::any_of(name.begin(), name.end(), [](char16_t c) { return c <= u' ' || c == 0x7F; }))
        return false;
    std::vector<std::u16string> known;
    std::ostringstream ignored;
    ReadNameFile(strPath, &known, ignored);
    for (const std::u16string& k : known)
        if (Folded(k) == Folded(name)) return true;

    const std::size_t slash = strPath.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        // Each missing directory of the path, from the top.
        for (std::size_t p = strPath.find('/', 1); p != std::string::npos && p <= slash;
             p = strPath.find('/', p + 1))
            ::mkdir(strPath.substr(0, p).c_str(), 0700);
    }
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const std::string line = com::Utf16ToUtf8(name) + "\n";
    bool ok = fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const int err = errno;
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok)
        diagnostics << "hda-vistrel: cannot note " << com::Utf16ToUtf8(name) << " in " << strPath << " ("
                    << std::strerror(err) << ").\n";
    return ok;
}

}  // namespace hda

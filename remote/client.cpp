// The client side: computer names, connections to hosts (kept while they live, made again after a
// host restarts), and the runtime's remote activator.
#include <arpa/inet.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "com/classstore.h"
#include "com/text.h"
#include "remote/internal.h"
#include "remote/tls.h"

extern char** environ;

namespace vistrel::remote {

// ---- Computer names ----

namespace {

bool ParsePort(std::string_view s, std::uint16_t* port) {
    if (s.empty() || s.size() > 5) return false;
    unsigned v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + unsigned(c - '0');
    }
    if (v == 0 || v > 65535) return false;
    *port = std::uint16_t(v);
    return true;
}

// Dotted decimal with optional leading zeros; false when it is not four decimal octets.
bool ParseDecimalIpv4(std::string_view s, std::string* out) {
    unsigned parts[4];
    int n = 0;
    std::size_t i = 0;
    while (n < 4) {
        std::size_t start = i;
        unsigned v = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 3)
            v = v * 10 + unsigned(s[i++] - '0');
        if (i == start || v > 255) return false;
        parts[n++] = v;
        if (n < 4) {
            if (i >= s.size() || s[i] != '.') return false;
            ++i;
        }
    }
    if (i != s.size()) return false;
    *out = std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
    return true;
}

bool IsDnsName(std::string_view s) {
    if (s.empty() || s.size() > 253) return false;
    std::size_t label = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '_';
        if (!ok || ++label > 63) return false;
    }
    return true;
}

}  // namespace

bool ParseComputerName(std::u16string_view name, ComputerAddress* out) {
    if (name.size() >= 80) return false;
    for (char16_t c : name)
        if (c < 0x21 || c > 0x7E) return false;
    std::string s = com::Utf16ToUtf8(name);
    std::size_t start = s.find_first_not_of('\\');
    if (start == std::string::npos) return false;
    std::string_view rest = std::string_view(s).substr(start);
    ComputerAddress a;
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return false;
        std::string host(rest.substr(1, close - 1));
        in6_addr v6;
        if (inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
        std::string_view after = rest.substr(close + 1);
        if (!after.empty() && (after[0] != ':' || !ParsePort(after.substr(1), &a.port))) return false;
        a.host = host;
        *out = a;
        return true;
    }
    std::size_t colon = rest.find(':');
    if (colon != std::string_view::npos && rest.find(':', colon + 1) != std::string_view::npos) {
        std::string host(rest);  // a bare IPv6 address, without a port
        in6_addr v6;
        if (inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
        a.host = host;
        *out = a;
        return true;
    }
    std::string_view host = rest.substr(0, colon);
    if (colon != std::string_view::npos && !ParsePort(rest.substr(colon + 1), &a.port)) return false;
    if (host.find_first_not_of("0123456789.") == std::string_view::npos) {
        if (!ParseDecimalIpv4(host, &a.host)) return false;  // numbers that are not an address
    } else {
        if (!IsDnsName(host)) return false;
        a.host = std::string(host);
    }
    *out = a;
    return true;
}

// ---- The client's state ----

namespace {

thread_local std::string t_lastError;

struct ClientState {
    std::mutex mutex;
    ClientOptions options;
    HostKeyPrompt prompt;
    std::unique_ptr<LoopThread> loop;  // made on first use, never destroyed
    std::map<std::string, std::shared_ptr<Connection>> byHost;
    std::vector<std::weak_ptr<Connection>> all;
};

ClientState& State() {
    static ClientState* state = new ClientState;  // lives to the end of the process
    return *state;
}

unsigned TimeoutMs(const ClientOptions& o) {
    if (o.timeoutMs) return o.timeoutMs;
    if (const char* e = getenv("VISTREL_REMOTE_TIMEOUT_MS")) {
        char* end = nullptr;
        unsigned long v = strtoul(e, &end, 10);
        if (end && *end == 0 && v > 0 && v < 0xFFFFFFFFul) return unsigned(v);
    }
    return kDefaultTimeoutMs;
}

// Under the state's mutex.
LoopThread& LoopLocked(ClientState& st) {
    if (!st.loop) st.loop = std::make_unique<LoopThread>();
    return *st.loop;
}

std::string KnownHostsPath(const std::string& dir) {
    return dir + "/known-hosts";
}

std::string PinnedFingerprint(const std::string& dir, const std::string& key) {
    std::ifstream f(KnownHostsPath(dir));
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string k, fp;
        if (in >> k >> fp && k == key) return fp;
    }
    return {};
}

void Pin(const std::string& dir, const std::string& key, const std::string& fp) {
    mkdir(dir.c_str(), 0700);
    std::ofstream f(KnownHostsPath(dir), std::ios::app);
    f << key << ' ' << fp << '\n';
}

std::string HostKey(const ComputerAddress& a) {
    return (a.host.find(':') != std::string::npos ? "[" + a.host + "]" : a.host) + ":" +
           std::to_string(a.port);
}

HRESULT Open(const ComputerAddress& addr, std::shared_ptr<Connection>* out) {
    ClientState& st = State();
    ClientOptions options;
    HostKeyPrompt prompt;
    LoopThread* loop;
    {
        std::lock_guard lock(st.mutex);
        options = st.options;
        prompt = st.prompt;
        loop = &LoopLocked(st);
    }
    const std::string dir = options.configDir.empty() ? ConfigDirectory() : options.configDir;
    const std::string key = HostKey(addr);
    Identity me;
    std::string error;
    if (!EnsureIdentity(dir, "client", &me, &error)) {
        t_lastError = "This client's key and certificate could not be made: " + error;
        return E_ACCESSDENIED;
    }
    const std::string pinned = PinnedFingerprint(dir, key);
    std::string refusal;
    auto authorise = [&](const TlsPeer& peer) {
        if (pinned.empty() || pinned == peer.fingerprint) return true;
        refusal = "The host " + key + " presented a certificate with fingerprint " + peer.fingerprint +
                  ", but this client knows it by " + pinned +
                  ". If the host's key was changed on purpose, remove its line from " + KnownHostsPath(dir) +
                  " and connect again.";
        return false;
    };
    auto tls = std::make_shared<TlsEndpoint>(false, me, authorise, &error);
    if (!tls->ok()) {
        t_lastError = "TLS could not be set up: " + error;
        return E_ACCESSDENIED;
    }
    auto conn = Connection::Create(*loop, key, TimeoutMs(options));
    auto peer = std::make_shared<TlsPeer>();
    HRESULT hr;
    try {
        hr = loop->executor().executeSync([&]() -> kj::Promise<HRESULT> {
            auto step =
                loop->io()
                    .getNetwork()
                    .parseAddress(addr.host, addr.port)
                    .then([](kj::Own<kj::NetworkAddress> a) { return a->connect().attach(kj::mv(a)); })
                    .then([&](kj::Own<kj::AsyncIoStream> s) { return tls->Wrap(kj::mv(s), peer); })
                    .then([&](kj::Own<kj::AsyncIoStream> s) { return conn->Start(kj::mv(s)); })
                    .then([]() -> HRESULT { return S_OK; });
            auto timeout =
                loop->timer().afterDelay(TimeoutMs(options) * kj::MILLISECONDS).then([]() -> HRESULT {
                    return RPC_S_SERVER_UNAVAILABLE_HR;
                });
            return step.exclusiveJoin(kj::mv(timeout)).catch_([&](kj::Exception&& e) -> HRESULT {
                if (!refusal.empty()) return E_ACCESSDENIED;
                HRESULT mapped = MapException(e);
                if (mapped == E_ACCESSDENIED) {
                    refusal = "The host " + key +
                              " does not trust this client. On the host, run: vistrel-host trust " +
                              me.fingerprint + "  (this client's certificate: " + me.certPath + ")";
                    return E_ACCESSDENIED;
                }
                return RPC_S_SERVER_UNAVAILABLE_HR;
            });
        });
    } catch (const kj::Exception&) {
        hr = RPC_S_SERVER_UNAVAILABLE_HR;
    }
    if (FAILED(hr)) {
        t_lastError = refusal.empty() ? "The host " + key + " cannot be reached." : refusal;
        if (!refusal.empty() && prompt.refused) prompt.refused(refusal);
        return hr;
    }
    if (pinned.empty() && !peer->fingerprint.empty()) {
        // Asked on this thread, with the handshake done and nothing yet sent to the host's servers.
        if (prompt.firstContact && !prompt.firstContact(key, peer->fingerprint)) {
            try {
                loop->executor().executeSync([&] { conn->Close(); });
            } catch (const kj::Exception&) {
            }
            refusal = "The host " + key + " with fingerprint " + peer->fingerprint +
                      " was not accepted; nothing was pinned.";
            t_lastError = refusal;
            if (prompt.refused) prompt.refused(refusal);
            return E_ACCESSDENIED;
        }
        Pin(dir, key, peer->fingerprint);
    }
    t_lastError.clear();
    std::lock_guard lock(st.mutex);
    st.all.push_back(conn);
    st.byHost[key] = conn;
    *out = conn;
    return S_OK;
}

HRESULT ConnectionFor(const ComputerAddress& addr, bool fresh, std::shared_ptr<Connection>* out) {
    ClientState& st = State();
    const std::string key = HostKey(addr);
    {
        std::lock_guard lock(st.mutex);
        auto it = st.byHost.find(key);
        if (it != st.byHost.end()) {
            if (!fresh && !it->second->lost()) {
                *out = it->second;
                return S_OK;
            }
            st.byHost.erase(it);
        }
    }
    return Open(addr, out);
}

void FailAll(DWORD count, MULTI_QI* results, HRESULT hr) {
    for (DWORD i = 0; i < count; ++i) {
        results[i].pItf = nullptr;
        results[i].hr = hr;
    }
}

HRESULT RemoteActivate(REFCLSID clsid, const COSERVERINFO* info, DWORD count, MULTI_QI* results) {
    if (info == nullptr || info->pwszName == nullptr) {
        FailAll(count, results, REGDB_E_CLASSNOTREG);
        return REGDB_E_CLASSNOTREG;
    }
    ComputerAddress addr;
    if (!ParseComputerName(info->pwszName, &addr)) {
        t_lastError = "'" + com::Utf16ToUtf8(info->pwszName) + "' is not a computer name.";
        FailAll(count, results, RPC_S_SERVER_UNAVAILABLE_HR);
        return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<Connection> conn;
        HRESULT hr = ConnectionFor(addr, attempt > 0, &conn);
        if (FAILED(hr)) {
            FailAll(count, results, hr);
            return hr;
        }
        hr = ActivateThrough(conn, clsid, count, results);
        // A host that restarted since the last activation: connect again, once.
        if (hr != RPC_E_DISCONNECTED) return hr;
    }
    return RPC_E_DISCONNECTED;
}

HRESULT ActivateOverSocketWithChild(int fd, pid_t child, REFCLSID clsid, DWORD count, MULTI_QI* results);

std::string SurrogatePath(const ClientOptions& o) {
    if (!o.surrogate.empty()) return o.surrogate;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, std::size_t(n));
        dir = dir.substr(0, dir.rfind('/') + 1);
        struct stat st;
        if (stat((dir + "vistrel-host").c_str(), &st) == 0) return dir + "vistrel-host";
    }
    return "vistrel-host";
}

bool LocalActivate(REFCLSID clsid, DWORD ctx, DWORD count, MULTI_QI* results, HRESULT* hr) {
    ClientOptions options;
    {
        std::lock_guard lock(State().mutex);
        options = State().options;
    }
    const char* env = getenv("VISTREL_ISOLATE");
    const bool isolate = options.isolate || (env && std::string_view(env) == "1");
    if ((ctx & CLSCTX_INPROC_SERVER) != 0 && !isolate) return false;
    bool registered = false;
    for (const auto& reg : com::EnumerateComClasses())
        if (reg.clsid == clsid) registered = true;
    if (!registered) return false;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        FailAll(count, results, CO_E_SERVER_EXEC_FAILURE);
        *hr = CO_E_SERVER_EXEC_FAILURE;
        return true;
    }
    if (sv[1] == 3) {  // dup2 onto itself would keep close-on-exec
        int moved = fcntl(sv[1], F_DUPFD_CLOEXEC, 10);
        close(sv[1]);
        sv[1] = moved;
    }
    const std::string path = SurrogatePath(options);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 3);
    const char* argv[] = {path.c_str(), "surrogate", "--fd", "3", nullptr};
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, path.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(sv[1]);
    if (rc != 0) {
        close(sv[0]);
        t_lastError = "The surrogate " + path + " could not be started.";
        FailAll(count, results, CO_E_SERVER_EXEC_FAILURE);
        *hr = CO_E_SERVER_EXEC_FAILURE;
        return true;
    }
    *hr = ActivateOverSocketWithChild(sv[0], pid, clsid, count, results);
    return true;
}

}  // namespace

HostKeyPrompt SetHostKeyPrompt(HostKeyPrompt prompt) {
    ClientState& st = State();
    std::lock_guard lock(st.mutex);
    std::swap(st.prompt, prompt);
    return prompt;
}

void InstallRemoteActivator(const ClientOptions& options) {
    {
        std::lock_guard lock(State().mutex);
        State().options = options;
    }
    com::SetRemoteActivator(&RemoteActivate);
    com::SetLocalActivator(&LocalActivate);
}

void SetIsolate(bool isolate) {
    {
        std::lock_guard lock(State().mutex);
        State().options.isolate = isolate;
    }
    com::SetLocalActivator(&LocalActivate);
}

void ShutdownClient() {
    ClientState& st = State();
    LoopThread* loop;
    std::vector<std::weak_ptr<Connection>> all;
    {
        std::lock_guard lock(st.mutex);
        st.byHost.clear();
        all.swap(st.all);
        loop = st.loop.get();
    }
    // The thread stays: connections still owned by proxies are destroyed on it when they go.
    if (!loop) return;
    loop->executor().executeSync([&] {
        for (auto& w : all)
            if (auto c = w.lock()) c->Close();
    });
}

std::string LastRemoteError() {
    return t_lastError;
}

HRESULT ActivateOverSocket(int fd, REFCLSID clsid, DWORD count, MULTI_QI* results) {
    return ActivateOverSocketWithChild(fd, -1, clsid, count, results);
}

namespace {

HRESULT ActivateOverSocketWithChild(int fd, pid_t child, REFCLSID clsid, DWORD count, MULTI_QI* results) {
    ClientState& st = State();
    LoopThread* loop;
    unsigned timeout;
    {
        std::lock_guard lock(st.mutex);
        loop = &LoopLocked(st);
        timeout = TimeoutMs(st.options);
    }
    auto conn = Connection::Create(*loop, "local socket", timeout);
    conn->SetChild(child);
    HRESULT hr;
    try {
        hr = loop->executor().executeSync([&]() -> kj::Promise<HRESULT> {
            auto stream = loop->lowLevel().wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
            return conn->Start(kj::mv(stream))
                .then([]() -> HRESULT { return S_OK; },
                      [](kj::Exception&&) -> HRESULT { return RPC_S_SERVER_UNAVAILABLE_HR; });
        });
    } catch (const kj::Exception&) {
        hr = RPC_S_SERVER_UNAVAILABLE_HR;
    }
    if (FAILED(hr)) {
        FailAll(count, results, hr);
        return hr;
    }
    {
        std::lock_guard lock(st.mutex);
        st.all.push_back(conn);
    }
    return ActivateThrough(conn, clsid, count, results);
}

}  // namespace

}  // namespace vistrel::remote

// Servers on other computers: the client side that reaches a computer's host, and the host that serves
// that computer's registered HDA servers. Calls travel as Cap'n Proto RPC over mutually
// authenticated TLS 1.3; each COM interface pointer that crosses is a capability.
//
// Failures are the codes DCOM callers know: host unreachable or connection refused 0x800706BA, not
// authorised 0x80070005, connection lost during or before a call 0x80010108 (for every later call on
// that object too), call timed out 0x8001011F.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/objbase.h"

namespace vistrel::remote {

// The host's TCP port when a computer name gives none.
constexpr std::uint16_t kDefaultPort = 4747;
// A call that has not been answered by then fails with RPC_E_TIMEOUT.
constexpr unsigned kDefaultTimeoutMs = 120000;

// ---- Computer names ----
// A DNS name, an IPv4 address whose octets may carry leading zeros (decimal: "192.168.001.010" is
// 192.168.1.10), an IPv6 address in brackets, each optionally after UNC backslashes and before
// ":port". Names of 80 characters or more, empty names, bad ports and bad characters are refused.
struct ComputerAddress {
    std::string host;  // DNS name, dotted IPv4 without leading zeros, or IPv6 without brackets
    std::uint16_t port = kDefaultPort;
};
bool ParseComputerName(std::u16string_view name, ComputerAddress* out);

// ---- Identities (a private key and a self-signed certificate, made on first use) ----
struct Identity {
    std::string keyPath, certPath;
    std::string fingerprint;  // SHA-256 of the certificate, "AB:CD:..."
    std::string commonName;
};
// The configuration directory: $VISTREL_CONFIG_DIR, else $XDG_CONFIG_HOME/vistrel, else
// ~/.config/vistrel.
std::string ConfigDirectory();
// Loads "<dir>/<role>.key" and "<dir>/<role>.crt", making them when missing (key mode 0600). role is
// "host" or "client".
bool EnsureIdentity(const std::string& dir, const std::string& role, Identity* out, std::string* error);
// The fingerprint of a PEM certificate file.
bool CertificateFingerprint(const std::string& certPath, std::string* fingerprint, std::string* error);

// ---- Client ----
struct ClientOptions {
    std::string configDir;   // empty: ConfigDirectory()
    unsigned timeoutMs = 0;  // 0: $VISTREL_REMOTE_TIMEOUT_MS, else kDefaultTimeoutMs
    // Run in-process servers out of process too (also when $VISTREL_ISOLATE is 1): a server that
    // crashes then costs only its own objects, never the client.
    bool isolate = false;
    // The surrogate executable (vistrel-host); empty: vistrel-host beside this program, else on PATH.
    std::string surrogate;
};
// Installs the runtime's remote and local activators: CoCreateInstanceEx with CLSCTX_REMOTE_SERVER
// and a COSERVERINFO naming another computer goes to that computer's host; a request allowing
// CLSCTX_LOCAL_SERVER but not CLSCTX_INPROC_SERVER (or any, when isolating) runs the class in a
// surrogate process of its own on this computer, reached over a Unix socket pair.
void InstallRemoteActivator(const ClientOptions& options = {});
// Turns ClientOptions::isolate on or off for the activations from now on, keeping the other options,
// and installs the local activator that carries it out.
void SetIsolate(bool isolate);
// How the client decides about a host's certificate, on the thread that activates. firstContact: a
// host with no line in known-hosts yet, by its "host:port" and fingerprint; true pins the fingerprint
// and connects, false refuses (E_ACCESSDENIED) with nothing pinned. Without it the host is pinned
// silently. refused: the sentence of a refusal by the transport (a changed host key, a host that does
// not trust this client, a first contact declined), as LastRemoteError() gives it.
struct HostKeyPrompt {
    std::function<bool(const std::string& host, const std::string& fingerprint)> firstContact;
    std::function<void(const std::string& sentence)> refused;
};
// Replaces the prompt (an empty one restores silent pinning); returns the previous one.
HostKeyPrompt SetHostKeyPrompt(HostKeyPrompt prompt);
// Drops every connection (proxies still held fail with RPC_E_DISCONNECTED). For the end of a process
// and for tests.
void ShutdownClient();
// The last refusal of the transport on this thread, as a sentence (empty when none): a changed host
// key names both fingerprints and the file to edit.
std::string LastRemoteError();
// Activation over an already connected stream socket with no TLS (a Unix socket pair to a host in
// this process or a child; never a network port). Takes over fd.
HRESULT ActivateOverSocket(int fd, REFCLSID clsid, DWORD count, MULTI_QI* results);

// ---- Host ----
struct HostOptions {
    std::string listen = "0.0.0.0";
    std::uint16_t port = kDefaultPort;  // 0: any free port (Port() tells which)
    std::string configDir;              // empty: ConfigDirectory()
    // Most result bytes in one message: pages this size let the host make the next page while the
    // client takes in the last one, and keep both sides' buffers small.
    std::size_t pageBytes = 2u << 20;
    std::size_t maxMessageWords = 8u << 20;  // largest message a client may send (64 MiB)
    std::size_t maxObjects = 10000;          // objects one connection may hold
    std::size_t maxCallWords = 32u << 20;    // bytes of calls in flight per connection, in words
    // An executable run as `<surrogate> surrogate --fd 3` for every activation of a registered class,
    // serving it on fd 3 (vistrel-host itself): a server that crashes or hangs then costs only its
    // own objects. Empty: classes are created in the host's process.
    std::string surrogate;
};

class Host {
public:
    explicit Host(HostOptions options, std::function<void(const std::string&)> log = nullptr);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Listens with TLS; false and *error when the identity, the trust list or the port fail.
    bool Start(std::string* error);
    std::uint16_t Port() const;
    // Serves one already connected socket without TLS (see ActivateOverSocket). Takes over fd.
    void ServeSocket(int fd);
    // Connections being served now.
    long Connections() const;
    // Surrogates started and not yet ended.
    long Surrogates() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// ---- The host's list of trusted clients ("<configDir>/trusted-clients") ----
// Each line: the fingerprint, optionally "only=PROGID,PROGID", then a name.
struct TrustedClient {
    std::string fingerprint;
    std::string name;
    std::vector<std::string> only;  // the ProgIDs it may activate; empty: every class
};
std::vector<TrustedClient> ListTrusted(const std::string& configDir);
// FILE (a PEM certificate) or a SHA-256 fingerprint (hex, colons optional). Trusting a client again
// replaces its list of classes.
bool Trust(const std::string& configDir, const std::string& fileOrFingerprint, std::string* error,
           const std::vector<std::string>& only = {});
bool Untrust(const std::string& configDir, const std::string& fingerprint, std::string* error);

}  // namespace vistrel::remote

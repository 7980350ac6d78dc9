// TLS 1.3 with mutual authentication over KJ streams, on OpenSSL. Peers are known by the SHA-256
// fingerprint of their (self-signed) certificate, not by a certificate authority: the host trusts a
// list of client fingerprints, a client pins each host's fingerprint on first contact.
#pragma once

#include <kj/async-io.h>

#include <functional>
#include <memory>
#include <string>

#include "remote/remote.h"

namespace vistrel::remote {

struct TlsPeer {
    std::string fingerprint;
    std::string commonName;
};

class TlsEndpoint {
public:
    // server: the host side. authorise(peer) decides, after the handshake and before any byte of
    // the application is read, whether the peer may talk; a refused peer gets an "access denied"
    // alert and the stream fails.
    TlsEndpoint(bool server, const Identity& own, std::function<bool(const TlsPeer&)> authorise,
                std::string* error);
    ~TlsEndpoint();
    bool ok() const;
    // Performs the handshake; the promise carries the encrypted stream and the peer.
    kj::Promise<kj::Own<kj::AsyncIoStream>> Wrap(kj::Own<kj::AsyncIoStream> inner,
                                                 std::shared_ptr<TlsPeer> peer);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vistrel::remote

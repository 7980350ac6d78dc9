// TLS over KJ streams with OpenSSL: the SSL object reads what the network delivered straight from the
// stream's receive buffer, and writes what it has to send into blocks of bounded size, which are
// handed to the network in order (no copy between the SSL object and the socket beyond that).
#include "remote/tls.h"

#include <kj/debug.h>
#include <kj/vector.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

namespace vistrel::remote {

std::string FingerprintOf(X509* cert);
std::string CommonNameOf(X509* cert);

namespace {

constexpr const char kRefused[] = "vistrel: not authorised: ";

std::string OpenSslError() {
    char buf[256] = {};
    unsigned long e = ERR_get_error();
    ERR_error_string_n(e, buf, sizeof buf);
    ERR_clear_error();
    return buf;
}

bool IsRefusalAlert(unsigned long e) {
    switch (ERR_GET_REASON(e)) {
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
        case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
        case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
            return true;
        default:
            return false;
    }
}

[[noreturn]] void ThrowSsl(const char* what) {
    unsigned long e = ERR_peek_error();
    std::string text = OpenSslError();
    if (IsRefusalAlert(e))
        kj::throwFatalException(KJ_EXCEPTION(FAILED, kRefused, "the peer refused this certificate", text));
    kj::throwFatalException(KJ_EXCEPTION(DISCONNECTED, what, text));
}

struct Decision {
    std::function<bool(const TlsPeer&)>* authorise = nullptr;
    std::shared_ptr<TlsPeer> peer;
    int decided = -1;  // -1 not yet, 0 refused, 1 accepted
};

int g_decisionIndex = -1;

// Called for each certificate of the peer's chain; the leaf (depth 0) decides, by its fingerprint.
int Verify(int, X509_STORE_CTX* store) {
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* d = static_cast<Decision*>(SSL_get_ex_data(ssl, g_decisionIndex));
    if (d == nullptr) return 0;
    if (d->decided < 0) {
        X509* cert = X509_STORE_CTX_get_current_cert(store);
        d->peer->fingerprint = FingerprintOf(cert);
        d->peer->commonName = CommonNameOf(cert);
        d->decided = (*d->authorise)(*d->peer) ? 1 : 0;
    }
    if (d->decided == 0) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
        return 0;
    }
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

// The bytes the SSL object has to send, in blocks of 64 KiB (small enough for the allocator to reuse
// them from its heap, large enough for few system calls); the blocks go to the network as they are,
// without another copy.
struct Outgoing {
    static constexpr std::size_t kBlock = 64 * 1024;
    struct Taken {
        kj::Array<kj::Array<kj::byte>> blocks;
        std::size_t lastUsed = 0;  // bytes of the last block in use
    };
    kj::Vector<kj::Array<kj::byte>> blocks;
    std::size_t used = 0;  // bytes of the last block written
    std::size_t pending = 0;

    void Append(const char* p, std::size_t n) {
        pending += n;
        while (n > 0) {
            if (blocks.empty() || used == blocks.back().size()) {
                blocks.add(kj::heapArray<kj::byte>(kBlock));
                used = 0;
            }
            std::size_t k = std::min(n, blocks.back().size() - used);
            std::memcpy(blocks.back().begin() + used, p, k);
            used += k;
            p += k;
            n -= k;
        }
    }
    Taken Take() {
        Taken t{blocks.releaseAsArray(), used};
        pending = 0;
        used = 0;
        return t;
    }
};

// What the network delivered and the SSL object has not read yet.
struct Incoming {
    kj::Array<kj::byte> buffer = kj::heapArray<kj::byte>(64 * 1024);
    std::size_t begin = 0, end = 0;
};

int OutWrite(BIO* b, const char* data, int len) {
    static_cast<Outgoing*>(BIO_get_data(b))->Append(data, std::size_t(len));
    return len;
}

int InRead(BIO* b, char* data, int len) {
    auto* in = static_cast<Incoming*>(BIO_get_data(b));
    BIO_clear_retry_flags(b);
    std::size_t have = in->end - in->begin;
    if (have == 0) {
        BIO_set_retry_read(b);
        return -1;
    }
    std::size_t k = std::min(have, std::size_t(len));
    std::memcpy(data, in->buffer.begin() + in->begin, k);
    in->begin += k;
    if (in->begin == in->end) in->begin = in->end = 0;
    return int(k);
}

// Flushing has nothing to do (the stream hands the blocks over); PENDING is what is buffered.
long Ctrl(BIO* b, int cmd, bool in) {
    if (cmd == BIO_CTRL_FLUSH) return 1;
    if (cmd != BIO_CTRL_PENDING) return 0;
    if (in) {
        auto* buffered = static_cast<Incoming*>(BIO_get_data(b));
        return long(buffered->end - buffered->begin);
    }
    return long(static_cast<Outgoing*>(BIO_get_data(b))->pending);
}

int Create(BIO* b) {
    BIO_set_init(b, 1);
    return 1;
}

BIO_METHOD* MakeMethod(bool in) {
    BIO_METHOD* m =
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, in ? "vistrel-tls-in" : "vistrel-tls-out");
    if (in) {
        BIO_meth_set_read(m, InRead);
        BIO_meth_set_ctrl(m, [](BIO* b, int cmd, long, void*) { return Ctrl(b, cmd, true); });
    } else {
        BIO_meth_set_write(m, OutWrite);
        BIO_meth_set_ctrl(m, [](BIO* b, int cmd, long, void*) { return Ctrl(b, cmd, false); });
    }
    BIO_meth_set_create(m, Create);
    return m;
}

// The methods of the stream's two BIOs: reading from an Incoming, writing to an Outgoing.
BIO_METHOD* Method(bool in) {
    static BIO_METHOD* const methods[2] = {MakeMethod(false), MakeMethod(true)};
    return methods[in ? 1 : 0];
}

class TlsStream final : public kj::AsyncIoStream {
public:
    TlsStream(SSL_CTX* ctx, bool server, kj::Own<kj::AsyncIoStream> inner,
              std::function<bool(const TlsPeer&)>* authorise, std::shared_ptr<TlsPeer> peer)
        : m_inner(kj::mv(inner)), m_ssl(SSL_new(ctx)) {
        m_decision.authorise = authorise;
        m_decision.peer = std::move(peer);
        BIO* rbio = BIO_new(Method(true));
        BIO* wbio = BIO_new(Method(false));
        BIO_set_data(rbio, &m_in);
        BIO_set_data(wbio, &m_out);
        SSL_set_bio(m_ssl, rbio, wbio);
        SSL_set_ex_data(m_ssl, g_decisionIndex, &m_decision);
        if (server)
            SSL_set_accept_state(m_ssl);
        else
            SSL_set_connect_state(m_ssl);
    }
    ~TlsStream() noexcept(false) { SSL_free(m_ssl); }

    kj::Promise<void> Handshake() {
        ERR_clear_error();
        int r = SSL_do_handshake(m_ssl);
        if (r == 1) return Flush();
        int err = SSL_get_error(m_ssl, r);
        if (err == SSL_ERROR_WANT_READ) {
            return Flush().then([this] { return Fill(); }).then([this] {
                if (m_eof)
                    kj::throwFatalException(
                        KJ_EXCEPTION(DISCONNECTED, "the peer closed during the handshake"));
                return Handshake();
            });
        }
        // Send our alert before giving up, so the peer learns why.
        unsigned long e = ERR_peek_error();
        std::string text = OpenSslError();
        bool refused = m_decision.decided == 0 || IsRefusalAlert(e);
        // The peer may have sent more already: closing with unread input would reset the connection
        // and could lose the alert, so the input is read to its end first (the caller bounds the time).
        return Flush()
            .then([this] {
                m_inner->shutdownWrite();
                return DrainInput();
            })
            .then([refused, text]() {
                if (refused)
                    kj::throwFatalException(KJ_EXCEPTION(FAILED, kRefused, "certificate refused", text));
                kj::throwFatalException(KJ_EXCEPTION(DISCONNECTED, "TLS handshake failed", text));
            });
    }

    kj::Promise<size_t> tryRead(void* buffer, size_t minBytes, size_t maxBytes) override {
        return ReadLoop(static_cast<kj::byte*>(buffer), minBytes, maxBytes, 0);
    }

    kj::Promise<void> write(const void* buffer, size_t size) override {
        WriteAll(static_cast<const kj::byte*>(buffer), size);
        return Flush();
    }
    kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override {
        for (auto p : pieces) WriteAll(p.begin(), p.size());
        return Flush();
    }
    kj::Promise<void> whenWriteDisconnected() override { return m_inner->whenWriteDisconnected(); }
    void shutdownWrite() override {
        SSL_shutdown(m_ssl);
        m_shutdown = Flush().then([this] { m_inner->shutdownWrite(); }).eagerlyEvaluate(nullptr);
    }
    void abortRead() override { m_inner->abortRead(); }

private:
    void WriteAll(const kj::byte* p, size_t n) {
        while (n > 0) {
            ERR_clear_error();
            int chunk = int(std::min<size_t>(n, 1u << 30));
            int r = SSL_write(m_ssl, p, chunk);
            if (r <= 0) ThrowSsl("TLS write failed");
            p += r;
            n -= size_t(r);
        }
    }

    // Moves what the SSL object wrote to the network, after everything flushed before.
    kj::Promise<void> Flush() {
        if (m_out.pending > 0) {
            auto taken = m_out.Take();
            auto fork = m_writes
                            .then([this, taken = kj::mv(taken)]() mutable {
                                auto& blocks = taken.blocks;
                                auto pieces = kj::heapArray<kj::ArrayPtr<const kj::byte>>(blocks.size());
                                for (std::size_t i = 0; i < blocks.size(); ++i) pieces[i] = blocks[i];
                                pieces.back() = pieces.back().slice(0, taken.lastUsed);
                                auto p = pieces.size() == 1
                                             ? m_inner->write(pieces[0].begin(), pieces[0].size())
                                             : m_inner->write(pieces);
                                return p.attach(kj::mv(pieces), kj::mv(taken));
                            })
                            .fork();
            m_writes = fork.addBranch();
            return fork.addBranch();
        }
        auto fork = m_writes.fork();
        m_writes = fork.addBranch();
        return fork.addBranch();
    }

    kj::Promise<void> DrainInput() {
        return m_inner->tryRead(m_in.buffer.begin(), 1, m_in.buffer.size())
            .then([this](size_t n) -> kj::Promise<void> {
                if (n == 0) return kj::READY_NOW;
                return DrainInput();
            });
    }

    // Called only when the SSL object has read everything delivered so far.
    kj::Promise<void> Fill() {
        m_in.begin = m_in.end = 0;
        return m_inner->tryRead(m_in.buffer.begin(), 1, m_in.buffer.size()).then([this](size_t n) {
            if (n == 0)
                m_eof = true;
            else
                m_in.end = n;
        });
    }

    kj::Promise<size_t> ReadLoop(kj::byte* buf, size_t minBytes, size_t maxBytes, size_t done) {
        while (done < maxBytes) {
            ERR_clear_error();
            int r = SSL_read(m_ssl, buf + done, int(std::min<size_t>(maxBytes - done, 1u << 30)));
            if (r > 0) {
                done += size_t(r);
                if (done >= minBytes) return done;
                continue;
            }
            int err = SSL_get_error(m_ssl, r);
            if (err == SSL_ERROR_ZERO_RETURN) return done;
            if (err == SSL_ERROR_WANT_READ) {
                if (m_eof) return done;
                // Whatever the SSL object answered (a key update) goes out first.
                return Flush().then([this] { return Fill(); }).then([this, buf, minBytes, maxBytes, done] {
                    return ReadLoop(buf, minBytes, maxBytes, done);
                });
            }
            ThrowSsl("TLS read failed");
        }
        return done;
    }

    kj::Own<kj::AsyncIoStream> m_inner;
    SSL* m_ssl;
    Incoming m_in;
    Outgoing m_out;
    Decision m_decision;
    kj::Promise<void> m_writes = kj::READY_NOW;
    kj::Promise<void> m_shutdown = nullptr;
    bool m_eof = false;
};

}  // namespace

struct TlsEndpoint::Impl {
    SSL_CTX* ctx = nullptr;
    bool server = false;
    std::function<bool(const TlsPeer&)> authorise;
};

TlsEndpoint::TlsEndpoint(bool server, const Identity& own, std::function<bool(const TlsPeer&)> authorise,
                         std::string* error)
    : m_impl(std::make_unique<Impl>()) {
    if (g_decisionIndex < 0) g_decisionIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    m_impl->server = server;
    m_impl->authorise = std::move(authorise);
    SSL_CTX* ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
    if (ctx == nullptr) {
        *error = OpenSslError();
        return;
    }
    // AES-128-GCM first: both ends are this program, and it costs less per byte than AES-256.
    bool ok = SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION) == 1 &&
              SSL_CTX_set_ciphersuites(
                  ctx, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256") == 1 &&
              SSL_CTX_use_certificate_file(ctx, own.certPath.c_str(), SSL_FILETYPE_PEM) == 1 &&
              SSL_CTX_use_PrivateKey_file(ctx, own.keyPath.c_str(), SSL_FILETYPE_PEM) == 1 &&
              SSL_CTX_check_private_key(ctx) == 1;
    if (!ok) {
        *error = OpenSslError();
        SSL_CTX_free(ctx);
        return;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, &Verify);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx, 0);
    m_impl->ctx = ctx;
}

TlsEndpoint::~TlsEndpoint() {
    if (m_impl->ctx) SSL_CTX_free(m_impl->ctx);
}

bool TlsEndpoint::ok() const {
    return m_impl->ctx != nullptr;
}

kj::Promise<kj::Own<kj::AsyncIoStream>> TlsEndpoint::Wrap(kj::Own<kj::AsyncIoStream> inner,
                                                          std::shared_ptr<TlsPeer> peer) {
    auto stream =
        kj::heap<TlsStream>(m_impl->ctx, m_impl->server, kj::mv(inner), &m_impl->authorise, std::move(peer));
    auto& ref = *stream;
    return ref.Handshake().then(
        [stream = kj::mv(stream)]() mutable -> kj::Own<kj::AsyncIoStream> { return kj::mv(stream); });
}

}  // namespace vistrel::remote

// The host: serves the classes of this computer's class store to authorised clients.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

#include "remote/internal.h"
#include "remote/tls.h"

namespace vistrel::remote {

namespace {

// One client connection: its RPC system lives until the client goes.
struct HostConnection {
    kj::Own<kj::AsyncIoStream> stream;
    kj::Own<capnp::TwoPartyVatNetwork> network;
    kj::Own<capnp::RpcSystem<capnp::rpc::twoparty::VatId>> rpc;
};

}  // namespace

struct Host::Impl {
    HostOptions options;
    std::function<void(const std::string&)> log;
    std::unique_ptr<LoopThread> loop;
    std::atomic<long> connections{0};
    std::atomic<long> surrogates{0};
    std::atomic<std::uint16_t> port{0};
    std::unique_ptr<TlsEndpoint> tls;          // loop thread
    kj::Own<kj::ConnectionReceiver> listener;  // loop thread
    kj::Promise<void> acceptLoop = nullptr;
    std::string configDir;

    void Log(const std::string& text) {
        if (log) log(text);
    }

    static std::string PeerAddress(kj::AsyncIoStream& s) {
        sockaddr_storage ss{};
        kj::uint len = sizeof ss;
        try {
            s.getpeername(reinterpret_cast<sockaddr*>(&ss), &len);
        } catch (...) {
            return "?";
        }
        char host[INET6_ADDRSTRLEN] = {};
        int port = 0;
        bool bracketed = false;
        if (ss.ss_family == AF_INET) {
            auto* in = reinterpret_cast<sockaddr_in*>(&ss);
            inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
            port = ntohs(in->sin_port);
        } else if (ss.ss_family == AF_INET6) {
            auto* in = reinterpret_cast<sockaddr_in6*>(&ss);
            port = ntohs(in->sin6_port);
            // An IPv4 client of a host listening on "::" is logged as the IPv4 address it is.
            static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
            const auto* bytes = reinterpret_cast<const unsigned char*>(&in->sin6_addr);
            bracketed = std::memcmp(bytes, mapped, sizeof mapped) != 0;
            if (bracketed)
                inet_ntop(AF_INET6, &in->sin6_addr, host, sizeof host);
            else
                inet_ntop(AF_INET, bytes + 12, host, sizeof host);
        }
        // Appended piece by piece: GCC 12 warns wrongly on "[" + std::string(host).
        std::string text = bracketed ? "[" : "";
        text += host;
        text += bracketed ? "]:" : ":";
        text += std::to_string(port);
        return text;
    }

    // Loop thread: each accepted connection is authenticated, then served; a handshake that does not
    // finish in time is dropped.
    kj::Promise<void> Accept() {
        return listener->accept().then([this](kj::Own<kj::AsyncIoStream> s) {
            std::string addr = PeerAddress(*s);
            Log("connection from " + addr);
            auto peer = std::make_shared<TlsPeer>();
            auto handshake = tls->Wrap(kj::mv(s), peer);
            auto timeout =
                loop->timer().afterDelay(10 * kj::SECONDS).then([]() -> kj::Own<kj::AsyncIoStream> {
                    kj::throwFatalException(KJ_EXCEPTION(DISCONNECTED, "the handshake took too long"));
                });
            loop->tasks().add(
                handshake.exclusiveJoin(kj::mv(timeout))
                    .then(
                        [this, peer, addr](kj::Own<kj::AsyncIoStream> t) {
                            std::string who = peer->commonName + " (" + peer->fingerprint + ") from " + addr;
                            std::vector<std::string> only;
                            for (const auto& c : ListTrusted(configDir))
                                if (c.fingerprint == peer->fingerprint) only = c.only;
                            Log("client " + who + " authorised");
                            Serve(kj::mv(t), who, std::move(only));
                        },
                        [this, addr](kj::Exception&& e) {
                            Log("refused connection from " + addr + ": " + e.getDescription().cStr());
                        }));
            return Accept();
        });
    }

    // Loop thread.
    void Serve(kj::Own<kj::AsyncIoStream> stream, std::string peer, std::vector<std::string> only = {}) {
        auto session = std::make_shared<HostSession>();
        session->peer = peer;
        session->only = std::move(only);
        session->options = options;
        session->log = log;
        session->lowLevel = &loop->lowLevel();
        session->surrogates = &surrogates;
        auto conn = kj::heap<HostConnection>();
        conn->stream = kj::mv(stream);
        capnp::ReaderOptions reader;
        reader.traversalLimitInWords = options.maxMessageWords;
        conn->network =
            kj::heap<capnp::TwoPartyVatNetwork>(*conn->stream, capnp::rpc::twoparty::Side::SERVER, reader);
        conn->rpc = kj::heap<capnp::RpcSystem<capnp::rpc::twoparty::VatId>>(
            capnp::makeRpcServer(*conn->network, MakeHostBootstrap(session)));
        conn->rpc->setFlowLimit(options.maxCallWords);
        ++connections;
        auto* raw = conn.get();
        loop->tasks().add(raw->network->onDisconnect().attach(kj::mv(conn)).then([this, peer] {
            --connections;
            Log("connection closed: " + peer);
        }));
    }
};

Host::Host(HostOptions options, std::function<void(const std::string&)> log)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->options = std::move(options);
    m_impl->log = std::move(log);
    m_impl->loop = std::make_unique<LoopThread>();
    Impl* impl = m_impl.get();
    // Connections and the listener are the loop's: they go with it, on its thread.
    m_impl->loop->SetBeforeStop([impl] {
        impl->acceptLoop = nullptr;
        impl->listener = nullptr;
        impl->tls.reset();
    });
}

Host::~Host() {
    m_impl->loop.reset();
}

bool Host::Start(std::string* error) {
    Impl* impl = m_impl.get();
    const std::string dir = impl->options.configDir.empty() ? ConfigDirectory() : impl->options.configDir;
    impl->configDir = dir;
    Identity me;
    if (!EnsureIdentity(dir, "host", &me, error)) return false;
    impl->Log("host identity " + me.commonName + " (" + me.fingerprint + ")");
    // The trust list is read at each connection, so trust and untrust take effect at once.
    auto authorise = [impl, dir](const TlsPeer& peer) {
        for (const auto& c : ListTrusted(dir))
            if (c.fingerprint == peer.fingerprint) return true;
        impl->Log("refused: client " + peer.commonName + " (" + peer.fingerprint + ") is not trusted");
        return false;
    };
    std::string failure;
    impl->loop->executor().executeSync([&]() -> kj::Promise<void> {
        impl->tls = std::make_unique<TlsEndpoint>(true, me, authorise, &failure);
        if (!impl->tls->ok()) return kj::READY_NOW;
        return impl->loop->io()
            .getNetwork()
            .parseAddress(impl->options.listen, impl->options.port)
            .then([impl](kj::Own<kj::NetworkAddress> a) {
                impl->listener = a->listen();
                impl->port = std::uint16_t(impl->listener->getPort());
                impl->acceptLoop = impl->Accept().eagerlyEvaluate(nullptr);
            })
            .catch_([&](kj::Exception&& e) { failure = e.getDescription().cStr(); });
    });
    if (!failure.empty()) {
        *error = failure;
        return false;
    }
    impl->Log("listening on " + impl->options.listen + " port " + std::to_string(impl->port.load()));
    return true;
}

std::uint16_t Host::Port() const {
    return m_impl->port.load();
}

long Host::Connections() const {
    return m_impl->connections.load();
}

void Host::ServeSocket(int fd) {
    Impl* impl = m_impl.get();
    impl->loop->executor().executeSync([impl, fd] {
        auto stream = impl->loop->lowLevel().wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
        impl->Log("connection on a local socket");
        impl->Serve(kj::mv(stream), "local socket");
    });
}

}  // namespace vistrel::remote

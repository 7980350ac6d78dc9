// The client's I/O thread and its connections to hosts.
#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <condition_variable>

#include "remote/internal.h"

namespace vistrel::remote {

HRESULT MapException(const kj::Exception& e) {
    std::string_view d = e.getDescription().cStr();
    if (d.find("vistrel: not authorised") != std::string_view::npos) return E_ACCESSDENIED;
    switch (e.getType()) {
        case kj::Exception::Type::DISCONNECTED:
            return RPC_E_DISCONNECTED;
        case kj::Exception::Type::OVERLOADED:
            return E_OUTOFMEMORY;
        default:
            return RPC_E_SERVERFAULT_HR;
    }
}

// ---- LoopThread ----

namespace {

class TaskErrors final : public kj::TaskSet::ErrorHandler {
public:
    void taskFailed(kj::Exception&&) override {}
};

}  // namespace

LoopThread::LoopThread() {
    std::condition_variable ready;
    m_thread = std::thread([this, &ready] {
        kj::AsyncIoContext io = kj::setupAsyncIo();
        TaskErrors errors;
        kj::TaskSet tasks(errors);
        auto paf = kj::newPromiseAndCrossThreadFulfiller<void>();
        {
            std::lock_guard lock(m_mutex);
            m_executor = kj::getCurrentThreadExecutor().addRef();
            m_io = io.provider.get();
            m_lowLevel = io.lowLevelProvider.get();
            m_tasks = &tasks;
            m_stop = kj::mv(paf.fulfiller);
            m_ready = true;
            m_id = std::this_thread::get_id();
        }
        ready.notify_all();
        paf.promise.wait(io.waitScope);
        if (m_beforeStop) m_beforeStop();
        m_tasks = nullptr;
    });
    std::unique_lock lock(m_mutex);
    ready.wait(lock, [this] { return m_ready; });
}

LoopThread::~LoopThread() {
    m_stop->fulfill();
    m_thread.join();
}

// ---- Connection ----

Connection::Connection(LoopThread& loop, std::string name, unsigned timeoutMs)
    : m_loop(loop), m_name(std::move(name)), m_timeoutMs(timeoutMs) {}

Connection::~Connection() {
#ifndef _WIN32
    if (m_child <= 0) return;
    // Its socket closes with the members: the surrogate ends; reap it without waiting here.
    std::thread([pid = m_child] { waitpid(pid, nullptr, 0); }).detach();
#endif
}

void Connection::Close() {
    m_lost = true;
    m_caps.clear();
    m_watch = nullptr;
    m_host = nullptr;
    m_rpc = nullptr;
    m_network = nullptr;
    m_stream = nullptr;
}

std::shared_ptr<Connection> Connection::Create(LoopThread& loop, std::string name, unsigned timeoutMs) {
    // Its KJ objects belong to the loop: the last owner lets the loop destroy it.
    LoopThread* l = &loop;
    return std::shared_ptr<Connection>(new Connection(loop, std::move(name), timeoutMs), [l](Connection* c) {
        if (l->onLoopThread()) {
            delete c;
            return;
        }
        try {
            l->executor().executeSync([c] { delete c; });
        } catch (const kj::Exception&) {
            delete c;  // the loop has ended; Close() already ran there
        }
    });
}

kj::Promise<void> Connection::Start(kj::Own<kj::AsyncIoStream> stream) {
    m_stream = kj::mv(stream);
    capnp::ReaderOptions reader;
    reader.traversalLimitInWords = 1ull << 40;  // results may be large; the host pages them
    m_network = kj::heap<capnp::TwoPartyVatNetwork>(*m_stream, capnp::rpc::twoparty::Side::CLIENT, reader);
    m_rpc = kj::heap<capnp::RpcSystem<capnp::rpc::twoparty::VatId>>(capnp::makeRpcClient(*m_network));
    capnp::word scratch[4];
    memset(scratch, 0, sizeof(scratch));
    capnp::MallocMessageBuilder message(scratch);
    auto vatId = message.getRoot<capnp::rpc::twoparty::VatId>();
    vatId.setSide(capnp::rpc::twoparty::Side::SERVER);
    m_host = kj::heap<wire::Host::Client>(m_rpc->bootstrap(vatId).castAs<wire::Host>());
    std::weak_ptr<Connection> weak = weak_from_this();
    m_watch = m_network->onDisconnect()
                  .then([weak] {
                      if (auto self = weak.lock()) self->m_lost = true;
                  })
                  .eagerlyEvaluate(nullptr);
    auto hello = m_host->helloRequest();
    hello.setCompact(true);
    return hello.send().ignoreResult();
}

CapId Connection::Adopt(wire::Unknown::Client cap) {
    CapId id = m_next++;
    m_caps.emplace(id, kj::mv(cap));
    return id;
}

kj::Maybe<wire::Unknown::Client&> Connection::Find(CapId id) {
    auto it = m_caps.find(id);
    if (it == m_caps.end()) return nullptr;
    return it->second;
}

HRESULT Connection::Run(const std::function<kj::Promise<HRESULT>()>& step) {
    if (m_lost) return RPC_E_DISCONNECTED;
    try {
        return m_loop.executor().executeSync([&]() -> kj::Promise<HRESULT> {
            if (m_lost) return HRESULT(RPC_E_DISCONNECTED);
            kj::Promise<HRESULT> call = kj::evalNow([&] { return step(); });
            auto timeout = m_loop.timer().afterDelay(m_timeoutMs * kj::MILLISECONDS).then([]() -> HRESULT {
                return RPC_E_TIMEOUT;
            });
            // A disconnected object (its surrogate died) is not a lost connection: only the
            // network's own end marks that.
            return call.exclusiveJoin(kj::mv(timeout)).catch_([](kj::Exception&& e) -> HRESULT {
                return MapException(e);
            });
        });
    } catch (const kj::Exception&) {
        return RPC_E_DISCONNECTED;  // the loop has ended
    }
}

HRESULT Connection::Call(CapId id, const std::function<kj::Promise<HRESULT>(wire::Unknown::Client&)>& step) {
    return Run([&]() -> kj::Promise<HRESULT> {
        KJ_IF_MAYBE (cap, Find(id)) {
            return step(*cap);
        }
        return HRESULT(RPC_E_DISCONNECTED);
    });
}

HRESULT Connection::CallHost(const std::function<kj::Promise<HRESULT>(wire::Host::Client&)>& step) {
    return Run([&]() -> kj::Promise<HRESULT> { return step(*m_host); });
}

void Connection::Drop(CapId id) {
    if (m_loop.onLoopThread()) {
        m_caps.erase(id);
        return;
    }
    try {
        std::weak_ptr<Connection> weak = weak_from_this();
        m_loop.executor().executeSync([weak, id] {
            if (auto self = weak.lock()) self->m_caps.erase(id);
        });
    } catch (const kj::Exception&) {
        // the loop has ended and took the capability with it
    }
}

}  // namespace vistrel::remote

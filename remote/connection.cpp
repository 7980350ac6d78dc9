// The client's I/O thread and its connections to hosts.
#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <chrono>
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

// What a thread waiting in Await() is told. Shared: the loop may still touch it after the waiter left.
struct Outcome {
    std::atomic<std::uint32_t> done{0};
    HRESULT hr = RPC_E_DISCONNECTED;
};

// Tells the waiter once: the result, or RPC_E_DISCONNECTED when the work is dropped unfinished.
class Answer {
public:
    explicit Answer(std::shared_ptr<Outcome> outcome) : m_outcome(std::move(outcome)) {}
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;
    ~Answer() { Give(RPC_E_DISCONNECTED); }
    void Give(HRESULT hr) {
        if (!m_outcome) return;
        m_outcome->hr = hr;
        m_outcome->done.store(1, std::memory_order_release);
        m_outcome->done.notify_one();
        m_outcome.reset();
    }

private:
    std::shared_ptr<Outcome> m_outcome;
};

// How long a waiter keeps its core awake before it sleeps: a few small calls through a host on this
// computer. A thread that sleeps and is woken costs tens of microseconds on a virtual machine, more
// than such a call's own work.
constexpr auto kSpinFor = std::chrono::microseconds(300);

}  // namespace

LoopThread::LoopThread() {
    std::condition_variable ready;
    m_thread = std::thread([this, &ready] {
        kj::AsyncIoContext io = kj::setupAsyncIo();
        TaskErrors errors;
        kj::TaskSet tasks(errors);
        auto paf = kj::newPromiseAndCrossThreadFulfiller<void>();
        auto wake = kj::newPromiseAndCrossThreadFulfiller<void>();
        {
            std::lock_guard lock(m_mutex);
            m_executor = kj::getCurrentThreadExecutor().addRef();
            m_io = io.provider.get();
            m_lowLevel = io.lowLevelProvider.get();
            m_tasks = &tasks;
            m_stop = kj::mv(paf.fulfiller);
            m_wake = kj::mv(wake.fulfiller);
            m_ready = true;
            m_id = std::this_thread::get_id();
        }
        tasks.add(Pump(kj::mv(wake.promise)));
        ready.notify_all();
        paf.promise.wait(io.waitScope);
        std::vector<kj::Function<void()>> unrun;
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
            unrun.swap(m_posted);
        }
        unrun.clear();  // their waiters hear RPC_E_DISCONNECTED
        if (m_beforeStop) m_beforeStop();
        m_tasks = nullptr;
        std::lock_guard lock(m_mutex);
        m_wake = nullptr;
    });
    std::unique_lock lock(m_mutex);
    ready.wait(lock, [this] { return m_ready; });
}

LoopThread::~LoopThread() {
    m_stop->fulfill();
    m_thread.join();
}

kj::Promise<void> LoopThread::Pump(kj::Promise<void> woken) {
    return woken.then([this] {
        auto next = kj::newPromiseAndCrossThreadFulfiller<void>();
        std::vector<kj::Function<void()>> jobs;
        {
            std::lock_guard lock(m_mutex);
            m_wake = kj::mv(next.fulfiller);
            m_wakePending = false;
            jobs.swap(m_posted);
        }
        for (auto& job : jobs) {
            // A job that throws must not end the pump: every later waiter would wait for ever.
            (void)kj::runCatchingExceptions([&] { job(); });
        }
        return Pump(kj::mv(next.promise));
    });
}

bool LoopThread::Post(kj::Function<void()> job) {
    std::lock_guard lock(m_mutex);
    if (m_ended) return false;
    m_posted.push_back(kj::mv(job));
    if (!m_wakePending) {
        m_wakePending = true;
        m_wake->fulfill();
    }
    return true;
}

HRESULT LoopThread::Await(const std::function<kj::Promise<HRESULT>()>& step) {
    if (onLoopThread()) return RPC_E_DISCONNECTED;  // it would wait for itself
    auto outcome = std::make_shared<Outcome>();
    const bool posted = Post([this, &step, answer = kj::heap<Answer>(outcome)]() mutable {
        auto result = kj::evalNow(step).catch_([](kj::Exception&& e) { return MapException(e); });
        m_tasks->add(result.then([answer = kj::mv(answer)](HRESULT hr) mutable { answer->Give(hr); }));
    });
    if (!posted) return RPC_E_DISCONNECTED;
    // One waiter at a time spins, so that waiters never crowd out the loop they wait for.
    if (m_spinners.fetch_add(1, std::memory_order_relaxed) == 0) {
        const auto until = std::chrono::steady_clock::now() + kSpinFor;
        while (outcome->done.load(std::memory_order_acquire) == 0 &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();  // gives way to any thread of this core, the loop's among them
        }
    }
    m_spinners.fetch_sub(1, std::memory_order_relaxed);
    while (outcome->done.load(std::memory_order_acquire) == 0)
        outcome->done.wait(0, std::memory_order_acquire);
    return outcome->hr;
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
    return m_loop.Await([&]() -> kj::Promise<HRESULT> {
        if (m_lost) return HRESULT(RPC_E_DISCONNECTED);
        kj::Promise<HRESULT> call = kj::evalNow([&] { return step(); });
        auto timeout = m_loop.timer().afterDelay(m_timeoutMs * kj::MILLISECONDS).then([]() -> HRESULT {
            return RPC_E_TIMEOUT;
        });
        // A disconnected object (its surrogate died) is not a lost connection: only the
        // network's own end marks that.
        return call.exclusiveJoin(kj::mv(timeout));
    });
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
    // Not waited for: a later call from this thread is posted after it, so the host hears the
    // release first. When the loop has ended, it took the capability with it.
    m_loop.Post([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) self->m_caps.erase(id);
    });
}

}  // namespace vistrel::remote

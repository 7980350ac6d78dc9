// The pieces of the remote layer shared between its files (not part of its public header).
#pragma once

#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "remote/marshal.h"
#include "remote/remote.h"
#include "wire.capnp.h"

namespace vistrel::remote {

// Maps a failure raised by the transport or the RPC system to the code a DCOM caller knows.
HRESULT MapException(const kj::Exception& e);

// A thread that runs a KJ event loop until stopped; other threads hand it work through its executor.
class LoopThread {
public:
    LoopThread();
    ~LoopThread();  // stops the loop and joins
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    const kj::Executor& executor() const { return *m_executor; }
    // Only on the loop thread:
    kj::AsyncIoProvider& io() { return *m_io; }
    kj::LowLevelAsyncIoProvider& lowLevel() { return *m_lowLevel; }
    kj::Timer& timer() { return m_io->getTimer(); }
    kj::TaskSet& tasks() { return *m_tasks; }
    bool onLoopThread() const { return std::this_thread::get_id() == m_id; }
    // Runs on the loop thread after the stop request, before its objects go.
    void SetBeforeStop(std::function<void()> f) { m_beforeStop = std::move(f); }
    // Any thread but the loop's: runs `step` on the loop and waits for the result it promises;
    // RPC_E_DISCONNECTED when the loop has ended or ends first. The wait spins a little before it
    // sleeps: a short call then answers without waking this thread.
    HRESULT Await(const std::function<kj::Promise<HRESULT>()>& step);
    // Any thread: runs `job` on the loop soon, in the order posted, without waiting; false when the
    // loop has ended (the job is dropped unrun).
    bool Post(kj::Function<void()> job);

private:
    kj::Promise<void> Pump(kj::Promise<void> woken);
    std::thread m_thread;
    kj::Own<const kj::Executor> m_executor;
    kj::AsyncIoProvider* m_io = nullptr;
    kj::LowLevelAsyncIoProvider* m_lowLevel = nullptr;
    kj::TaskSet* m_tasks = nullptr;
    kj::Own<kj::CrossThreadPromiseFulfiller<void>> m_stop;
    std::mutex m_mutex;
    bool m_ready = false;
    std::thread::id m_id;
    std::function<void()> m_beforeStop;
    // The jobs posted to the loop, and how it is woken for them; guarded by m_mutex.
    std::vector<kj::Function<void()>> m_posted;
    kj::Own<kj::CrossThreadPromiseFulfiller<void>> m_wake;
    bool m_wakePending = false;
    bool m_ended = false;
    std::atomic<int> m_spinners{0};
};

using CapId = std::uint64_t;

// One client connection to a host. Created and used on the client loop thread; proxies on any thread
// reach it through Call(), which runs a step on the loop and waits for its end.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    static std::shared_ptr<Connection> Create(LoopThread& loop, std::string name, unsigned timeoutMs);
    ~Connection();
    // Loop thread: drops every KJ object; later calls answer RPC_E_DISCONNECTED.
    void Close();

    // Loop thread: takes over an established stream and asks the host who it is.
    kj::Promise<void> Start(kj::Own<kj::AsyncIoStream> stream);
    CapId Adopt(wire::Unknown::Client cap);
    wire::Host::Client& host() { return *m_host; }
    kj::Maybe<wire::Unknown::Client&> Find(CapId id);

    // Any thread (never the loop's): runs `step` on the loop with the capability `id` and the call
    // timeout, maps failures; RPC_E_DISCONNECTED once the connection is lost.
    HRESULT Call(CapId id, const std::function<kj::Promise<HRESULT>(wire::Unknown::Client&)>& step);
    HRESULT CallHost(const std::function<kj::Promise<HRESULT>(wire::Host::Client&)>& step);
    // Any thread: the proxy is gone; the host releases its object.
    void Drop(CapId id);
    bool lost() const { return m_lost.load(); }
    // The surrogate process at the other end, reaped when the connection goes.
    void SetChild(pid_t pid) { m_child = pid; }
    const std::string& name() const { return m_name; }
    LoopThread& loop() { return m_loop; }

private:
    Connection(LoopThread& loop, std::string name, unsigned timeoutMs);
    HRESULT Run(const std::function<kj::Promise<HRESULT>()>& step);
    LoopThread& m_loop;
    std::string m_name;
    unsigned m_timeoutMs;
    std::atomic<bool> m_lost{false};
    pid_t m_child = -1;
    // Loop thread only:
    kj::Own<kj::AsyncIoStream> m_stream;
    kj::Own<capnp::TwoPartyVatNetwork> m_network;
    kj::Own<capnp::RpcSystem<capnp::rpc::twoparty::VatId>> m_rpc;
    kj::Own<wire::Host::Client> m_host;
    std::map<CapId, wire::Unknown::Client> m_caps;
    CapId m_next = 1;
    kj::Promise<void> m_watch = nullptr;
};

// A proxy for the object behind `id`, offering `iid` (nullptr when the iid has no proxy). Takes over
// the capability: releasing the proxy drops it.
IUnknown* MakeProxy(std::shared_ptr<Connection> conn, CapId id, REFIID iid);

// Activation through a connection: CoCreateInstanceEx on the host for the listed interfaces.
HRESULT ActivateThrough(const std::shared_ptr<Connection>& conn, REFCLSID clsid, DWORD count,
                        MULTI_QI* results);

// ---- Host side ----

// Per connection: limits, the objects held, the peer's identity for the log.
struct HostSession {
    std::string peer;               // "name (fingerprint) from address" or "local socket"
    std::vector<std::string> only;  // the ProgIDs the peer may activate; empty: all
    HostOptions options;
    std::atomic<long> objects{0};
    std::function<void(const std::string&)> log;
    kj::LowLevelAsyncIoProvider* lowLevel = nullptr;  // the host's loop
    std::atomic<long>* surrogates = nullptr;          // the host's count of running surrogates
    std::vector<std::shared_ptr<void>> children;      // the surrogates of this connection
    bool compact = false;  // the peer reads the compact forms of the wire (it said so in hello)
};

// The capability for a native object under `iid` (the object's reference is taken over); nullptr
// capability when the iid cannot cross (no stub for it).
kj::Maybe<wire::Unknown::Client> MakeStub(std::shared_ptr<HostSession> session, IUnknown* object, REFIID iid);
wire::Host::Client MakeHostBootstrap(std::shared_ptr<HostSession> session);

}  // namespace vistrel::remote

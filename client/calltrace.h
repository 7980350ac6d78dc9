// The call trace: every call made to a server, with its arguments in short, its result code, the
// count of values and how long it took. Tracing objects stand between a connection and the server's
// interfaces and forward every call unchanged; each call asks its switch once whether anyone records
// (one relaxed load), so a connection that is traced while nobody listens costs next to nothing.
//
// The command-line client writes the records as lines on standard error, the main window keeps the
// last ones in a CallLog shown in its call trace pane.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "hda/opchda.h"

class CHDAServer;

namespace client {

// One call, written when it returned.
struct CallRecord {
    FILETIME ftStart{0, 0};  // UTC, when the call was made
    std::string server;      // the connection's label ("HdaTest.Recording.1", "host ProgID")
    std::string method;      // "IOPCHDA_SyncRead::ReadRaw"
    std::string arguments;   // in short, what the parentheses of Text() hold
    std::string outcome;     // what came back, in short ("2 values"); empty when nothing is said
    HRESULT hr = S_OK;
    // The values a read returned, the entries an update sent, the entries of a list; none for calls
    // that carry no values.
    std::optional<unsigned long long> values;
    long long micros = 0;

    // "method(arguments)", with " -> outcome" when there is one.
    std::string Text() const;
};

class ICallRecorder {
public:
    // Called on the thread that made the call, as the call returns.
    virtual void Record(const CallRecord& call) = 0;

protected:
    ~ICallRecorder() = default;
};

// The switch the tracing objects read on every call: null when tracing is off. The recorder must
// stay alive while it is set.
class CallTrace {
public:
    void SetRecorder(ICallRecorder* pRecorder) { m_pRecorder.store(pRecorder, std::memory_order_release); }
    ICallRecorder* Recorder() const { return m_pRecorder.load(std::memory_order_relaxed); }

private:
    std::atomic<ICallRecorder*> m_pRecorder{nullptr};
};

// A tracing stand-in for a server: it offers IOPCHDA_Server and, when the server does, SyncRead and
// SyncUpdate (each QueryInterface forwarded and traced; AsyncRead is passed through untraced);
// browsers and enumerators it hands out are traced too. Takes a reference of its own on pServer; every
// object it makes shares the switch.
IOPCHDA_Server* NewTracingServer(IOPCHDA_Server* pServer, std::shared_ptr<const CallTrace> trace,
                                 std::string server);

// The label of a connection in the trace: the ProgID, after the computer when there is one.
std::string ConnectionLabel(std::u16string_view computer, std::u16string_view progId);

// Puts a tracing stand-in between a connected record and its server. The optional interfaces it
// holds are released; with bReacquire those that were held are asked again, through the stand-in,
// else they are obtained when next needed.
void TraceConnection(CHDAServer& connection, std::shared_ptr<const CallTrace> trace, bool bReacquire);

// Short forms used in the arguments.
std::string TraceTime(const OPCHDA_TIME* pTime);
std::string TraceUtc(ULONGLONG ticks);

// ---- The log the main window keeps ----

// The last calls, oldest first, at most Capacity() of them: a call beyond that drops the oldest.
// Safe to record into from any thread.
class CallLog final : public ICallRecorder {
public:
    static constexpr std::size_t kDefaultCapacity = 10000;
    explicit CallLog(std::size_t capacity = kDefaultCapacity);

    void Record(const CallRecord& call) override;
    std::size_t Capacity() const { return m_capacity; }
    std::size_t Size() const;
    // How many calls were recorded since the log was made or cleared (dropped ones included).
    unsigned long long Total() const;
    void Clear();
    // The calls kept whose text holds the filter (see Matches), oldest first.
    std::vector<CallRecord> Snapshot(std::string_view filter = {}) const;

private:
    std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::vector<CallRecord> m_ring;  // grows to the capacity, then is overwritten from m_next
    std::size_t m_next = 0;
    unsigned long long m_total = 0;
};

// The result code as the trace shows it: "0x80004005".
std::string CallCode(HRESULT hr);
// The client's text of the result code.
std::string CallCodeText(HRESULT hr);

// True when the filter is empty or is found, ignoring ASCII case, in the server, the method, the
// arguments, the outcome, the code or its text.
bool Matches(const CallRecord& call, std::string_view filter);

// The calls as CSV (RFC 4180, UTF-8, CRLF): a header line, then one line per call with its start as
// ISO 8601 UTC, server, method, arguments, outcome, code, code text, values and microseconds.
void WriteCallsCsv(std::ostream& out, const std::vector<CallRecord>& calls);

}  // namespace client

// --trace: every call made to a server, written to a stream as it returns, with its arguments in
// short, its result code as number and text, and how long it took. The calls are recorded by the
// client's call trace (client/calltrace.h); this is its recorder for the command line.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "client/calltrace.h"

namespace vistrel {

struct TraceSink final : client::ICallRecorder {
    std::ostream* out = nullptr;
    // The text form of a result code.
    std::function<std::string(HRESULT)> codeText;

    void Record(const client::CallRecord& call) override;
};

// One line for a call made outside the server objects (class lookup, creation).
void TraceLine(const TraceSink& sink, const std::string& call, HRESULT hr, long long micros);

}  // namespace vistrel

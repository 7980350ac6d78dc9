// --trace: every call made to a server, written to a stream as it returns, with its arguments in
// short, its result code as number and text, and how long it took. The tracing objects stand between
// the connection and the server's interfaces and forward every call unchanged.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "hda/opchda.h"

namespace vistrel {

struct TraceSink {
    std::ostream* out = nullptr;
    // The text form of a result code.
    std::function<std::string(HRESULT)> codeText;
};

// A tracing stand-in for a server: it offers IOPCHDA_Server and, when the server does, SyncRead and
// SyncUpdate (each QueryInterface forwarded and traced); browsers and enumerators it hands out are
// traced too. Takes a reference of its own on pServer. The sink must outlive the objects.
IOPCHDA_Server* NewTracingServer(IOPCHDA_Server* pServer, const TraceSink* pSink);

// One line for a call made outside the server objects (class lookup, creation).
void TraceLine(const TraceSink& sink, const std::string& call, HRESULT hr, long long micros);

// Short forms used in the trace lines.
std::string TraceTime(const OPCHDA_TIME* pTime);
std::string TraceUtc(ULONGLONG ticks);

}  // namespace vistrel

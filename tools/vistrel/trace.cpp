#include "tools/vistrel/trace.h"

namespace vistrel {

void TraceSink::Record(const client::CallRecord& call) {
    TraceLine(*this, call.Text(), call.hr, call.micros);
}

void TraceLine(const TraceSink& sink, const std::string& call, HRESULT hr, long long micros) {
    if (!sink.out) return;
    std::string text = sink.codeText ? sink.codeText(hr) : std::string();
    *sink.out << "trace: " << call << " = " << client::CallCode(hr) << (text.empty() ? "" : " ") << text
              << " (" << micros << " µs)\n";
    sink.out->flush();
}

}  // namespace vistrel

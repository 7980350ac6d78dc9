#include "client/csvfield.h"

namespace client {

void AppendCsvField(std::string& out, std::string_view f) {
    // One pass over the bytes: a field without a comma, quote or line break (and without a blank at
    // either end) goes out as it is.
    bool quote = !f.empty() && (f.front() == ' ' || f.back() == ' ');
    for (std::size_t i = 0; i < f.size() && !quote; ++i) {
        const char c = f[i];
        quote = c == ',' || c == '"' || c == '\r' || c == '\n';
    }
    if (!quote) {
        out.append(f);
        return;
    }
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < f.size(); ++i)
        if (f[i] == '"') {
            out.append(f.substr(run, i + 1 - run));
            out += '"';
            run = i + 1;
        }
    out.append(f.substr(run));
    out += '"';
}

}  // namespace client

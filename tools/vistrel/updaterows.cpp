#include "tools/vistrel/updaterows.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace vistrel {

bool ReadCsvRecord(std::istream& in, std::vector<std::string>* pFields, std::size_t* pLine) {
    pFields->clear();
    std::string field;
    bool any = false, quoted = false, inQuotes = false;
    const std::size_t startLine = *pLine + 1;
    int c;
    while ((c = in.get()) != EOF) {
        any = true;
        if (inQuotes) {
            if (c == '"') {
                if (in.peek() == '"') {
                    in.get();
                    field += '"';
                } else {
                    inQuotes = false;
                }
            } else {
                if (c == '\n') ++*pLine;
                field += static_cast<char>(c);
            }
            continue;
        }
        if (c == '"' && field.empty() && !quoted) {
            inQuotes = quoted = true;
        } else if (c == ',') {
            pFields->push_back(std::move(field));
            field.clear();
            quoted = false;
        } else if (c == '\r' && in.peek() == '\n') {
            continue;
        } else if (c == '\n') {
            ++*pLine;
            pFields->push_back(std::move(field));
            return true;
        } else {
            field += static_cast<char>(c);
        }
    }
    if (inQuotes)
        throw std::runtime_error("line " + std::to_string(startLine) + ": a quoted field does not end");
    if (!any) return false;
    ++*pLine;
    pFields->push_back(std::move(field));
    return true;
}

DWORD ParseQuality(const std::string& text) {
    std::string t = text;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(t.begin());
    if (t.empty() || t == "Good") return 0xC0;
    if (t == "Uncertain") return 0x40;
    if (std::isdigit(static_cast<unsigned char>(t[0]))) {
        char* endp = nullptr;
        errno = 0;
        unsigned long long v = std::strtoull(t.c_str(), &endp, 0);
        if (errno || *endp || v > 0xFFFFFFFFULL)
            throw std::runtime_error("quality '" + t + "' is not a 32-bit number");
        return static_cast<DWORD>(v);
    }
    return 0;
}

std::vector<UpdateRow> ReadUpdateRows(std::istream& in) {
    std::vector<UpdateRow> rows;
    std::vector<std::string> f;
    std::size_t line = 0;
    bool first = true;
    std::size_t headed =
        4;  // a heading with more columns (a read's CSV): those after the quality are ignored
    while (true) {
        const std::size_t at = line + 1;
        if (!ReadCsvRecord(in, &f, &line)) break;
        if (f.size() == 1 && f[0].find_first_not_of(" \t") == std::string::npos) continue;  // blank line
        if (!f.empty() && !f[0].empty() && f[0][0] == '#') continue;
        std::string err;
        if (first) {
            first = false;
            std::string h;
            for (char c : f[0]) h += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (h == "item" && (f.size() < 2 || !ParseTimeInput(f[1], &err))) {
                headed = std::max(headed, f.size());
                continue;
            }
        }
        if (f.size() < 3 || f.size() > headed)
            throw std::runtime_error("line " + std::to_string(at) +
                                     ": expected item,timestamp,value[,quality], got " +
                                     std::to_string(f.size()) + " fields");
        UpdateRow r;
        r.line = at;
        r.item = f[0];
        if (r.item.empty()) throw std::runtime_error("line " + std::to_string(at) + ": empty item ID");
        auto t = ParseTimeInput(f[1], &err);
        if (!t)
            throw std::runtime_error("line " + std::to_string(at) + ": unreadable time '" + f[1] +
                                     "': " + err);
        if (t->kind == TimeInput::Kind::Relative)
            throw std::runtime_error("line " + std::to_string(at) +
                                     ": an update needs an absolute time, not '" + f[1] + "'");
        r.time = *t;
        r.value = f[2];
        try {
            r.quality = f.size() == 4 ? ParseQuality(f[3]) : 0xC0;
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("line " + std::to_string(at) + ": " + e.what());
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

}  // namespace vistrel

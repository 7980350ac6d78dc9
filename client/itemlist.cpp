#include "client/itemlist.h"

#include "com/text.h"

namespace client {

std::optional<std::string> FormatItemList(const std::vector<std::u16string>& ids, std::u16string* pBad) {
    std::string out;
    for (const std::u16string& id : ids) {
        if (id.find_first_of(u"\r\n") != std::u16string::npos) {
            if (pBad) *pBad = id;
            return std::nullopt;
        }
        out += com::Utf16ToUtf8(id);
        out += '\n';
    }
    return out;
}

ItemListFile ParseItemList(std::string_view text) {
    ItemListFile f;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t nLine = 0;
    while (!text.empty()) {
        ++nLine;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        std::u16string id = com::Utf8ToUtf16(line);
        if (com::Utf16ToUtf8(id) != line) {
            f.ids.clear();
            f.badLine = nLine;
            return f;
        }
        f.ids.push_back(std::move(id));
    }
    return f;
}

}  // namespace client

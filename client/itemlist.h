// Item list files: the item IDs registered with a server, kept in a UTF-8 text file, one ID a line,
// so that a list survives a disconnect and can be registered again with Load Items.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// The file's text: each ID and a line feed. An ID that holds a line break cannot be written on one
// line: nothing is written then and *pBad names it.
std::optional<std::string> FormatItemList(const std::vector<std::u16string>& ids, std::u16string* pBad);

struct ItemListFile {
    std::vector<std::u16string> ids;  // in file order; blank lines skipped, CR before LF dropped
    std::size_t badLine = 0;          // 1-based number of the first line that is not UTF-8; 0: none
};
// Reads a file's text (a UTF-8 byte order mark at the start is skipped). When a line is not UTF-8
// no ID is given.
ItemListFile ParseItemList(std::string_view text);

}  // namespace client

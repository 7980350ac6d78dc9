// The address space: items with fully qualified IDs ("Generated.Waves.Sine") arranged in a tree
// of branches by their dot-separated segments. An item may also be a branch (it has children).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "servers/simulation/engine/signals.h"

namespace sim {

enum class ItemKind {
    Generated,  // computed from time, read only
    Writable,   // stored, changed by the update methods only
};

struct ItemDef {
    std::u16string id;    // fully qualified
    std::u16string name;  // the last segment
    ItemKind kind = ItemKind::Writable;
    VARTYPE vt = VT_R8;
    bool stepped = false;
    std::u16string description;
    std::u16string engUnits;
    // Trend scaling and entry span; given for numeric items only.
    std::optional<double> normalMin, normalMax, lowEntry, highEntry;
    SignalDef signal;  // generated items
};

struct BrowseNode {
    std::u16string name;  // the segment ("" for the root)
    std::u16string path;  // fully qualified ("" for the root)
    int parent = -1;
    std::vector<int> children;  // in the order they were added
    int item = -1;              // index into items(), or -1 for a pure branch
};

// An item ID is well formed when it has 1 to 256 characters, its dot-separated segments are not
// empty, carry no leading or trailing white space, and no character is a control character or one
// of * ? " | \ (the first two are browse wildcards).
bool IsWellFormedItemId(std::u16string_view id);

// Browse filter pattern: '*' matches any run of characters, '?' exactly one; the rest compares
// ordinally (letter case counts).
bool WildcardMatch(std::u16string_view pattern, std::u16string_view text);

class AddressSpace {
public:
    AddressSpace();
    // The built-in items: generated signals of every type and writable items of every type.
    static AddressSpace Builtin();

    // Adds an item and the branches above it. Fails (with a reason) for a malformed ID, an ID in
    // use, an unsupported type, or a generated item without a sampling period.
    bool Add(ItemDef def, std::string* why = nullptr);

    const std::vector<ItemDef>& items() const { return m_items; }
    const std::vector<BrowseNode>& nodes() const { return m_nodes; }
    // Index of the item with this ID, or -1.
    int Find(std::u16string_view id) const;
    // Index of the node with this path ("" is the root, 0), or -1.
    int FindNode(std::u16string_view path) const;

private:
    int EnsureNode(std::u16string_view path);

    std::vector<ItemDef> m_items;
    std::vector<BrowseNode> m_nodes;
    std::unordered_map<std::u16string, int> m_itemIndex;
    std::unordered_map<std::u16string, int> m_nodeIndex;
};

// The items file: one writable item per line,
//     ItemID | Type [| Stepped [| EngUnits [| Description]]]
// Type is I1, I2, I4, UI1, UI2, UI4, R4, R8, CY, BOOL, BSTR or DATE; Stepped is "stepped", "yes",
// "true" or "1" (anything else, or nothing, means interpolated). Blank lines and lines starting with
// '#' are skipped. Text is UTF-8. A bad line is skipped and reported in `problems`.
struct ItemsFileResult {
    int added = 0;
    std::vector<std::string> problems;
};
ItemsFileResult AddItemsFromText(std::string_view text, AddressSpace& space);
ItemsFileResult AddItemsFromFile(const std::string& path, AddressSpace& space);

}  // namespace sim

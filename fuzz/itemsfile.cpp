// The historian's items file: any bytes are read line by line without harm; every item it adds has
// a well-formed, findable ID with the branches above it, and the built-in items stay as they were.
#include <string_view>

#include "fuzz/fuzz.h"
#include "servers/simulation/engine/addressspace.h"

namespace fuzz {

int ItemsFile(const std::uint8_t* data, std::size_t size) {
    static const sim::AddressSpace builtin = sim::AddressSpace::Builtin();
    sim::AddressSpace space = builtin;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const sim::ItemsFileResult r = sim::AddItemsFromText(text, space);
    const std::size_t before = builtin.items().size();
    Require(r.added >= 0 && space.items().size() == before + static_cast<std::size_t>(r.added),
            "the count of added items");
    for (std::size_t k = 0; k < before; ++k)
        Require(space.items()[k].id == builtin.items()[k].id, "the built-in items stay");
    for (std::size_t k = before; k < space.items().size(); ++k) {
        const sim::ItemDef& it = space.items()[k];
        Require(sim::IsWellFormedItemId(it.id), "an added ID is well formed");
        Require(space.Find(it.id) == static_cast<int>(k), "an added item is found by its ID");
        Require(it.kind == sim::ItemKind::Writable, "the file adds writable items");
        const int node = space.FindNode(it.id);
        Require(node > 0 && space.nodes()[static_cast<std::size_t>(node)].item == static_cast<int>(k),
                "an added item has its node");
        for (int up = space.nodes()[static_cast<std::size_t>(node)].parent; up > 0;
             up = space.nodes()[static_cast<std::size_t>(up)].parent)
            Require(space.FindNode(space.nodes()[static_cast<std::size_t>(up)].path) == up,
                    "its branches exist");
    }
    return 0;
}

}  // namespace fuzz

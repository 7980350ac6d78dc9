// The item attributes of the HDA 1.20 standard (§5.2) and their values for our items.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "servers/simulation/engine/addressspace.h"

namespace sim {

struct AttributeInfo {
    DWORD id;
    const char16_t* name;
    const char16_t* description;
    VARTYPE vt;
};

// The 19 standard attributes, in id order.
std::span<const AttributeInfo> Attributes();
const AttributeInfo* FindAttribute(DWORD id);

// What the item attributes need to know about the server.
struct AttributeContext {
    std::u16string nodeName;     // this computer
    std::u16string processName;  // this server
    bool storeWritable = true;   // writable items are being recorded
};

// The value of an attribute for an item, in the attribute's VARIANT type; empty when the attribute
// means nothing for that item (the derive equation of a stored item, the limits of a text item...).
// OPCHDA_MAX_TIME_INT and OPCHDA_MIN_TIME_INT hold a tick count in the CY's 64 bits (unscaled).
// OPCHDA_EXCEPTION_DEV_TYPE: 0 absolute, 1 percent of span, 2 percent of value.
std::optional<Value> AttributeValue(const ItemDef& item, DWORD id, const AttributeContext& ctx);

}  // namespace sim

// The server's lists the read dialogs offer: its aggregates and its item attributes, read within
// what the server allocated, as owning values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/message.h"
#include "hda/opchda.h"

namespace client {

struct Aggregate {
    DWORD id = 0;
    std::u16string name;  // a nameless aggregate gets "(no name, ID n)", so that a lookup by name finds it
    std::u16string description;
};

struct AggregateList {
    HRESULT hr = S_OK;
    std::vector<Aggregate> aggregates;  // only those with an id: as far as the id array reaches
    std::optional<Message> message;
};
AggregateList GetAggregates(IOPCHDA_Server* pServer);

struct ItemAttribute {
    DWORD id = 0;
    std::optional<std::u16string> name;  // none when the server gave no name
    std::u16string description;
    VARTYPE type = VT_EMPTY;
};
// The name, or "(no name, ID n)".
std::u16string AttributeDisplayName(const ItemAttribute& attribute);
std::u16string AttributeDisplayName(DWORD id);

struct AttributeList {
    HRESULT hr = S_OK;
    std::vector<ItemAttribute> attributes;  // as far as the id array reaches
    std::optional<Message> message;
};
AttributeList GetItemAttributes(IOPCHDA_Server* pServer);

}  // namespace client

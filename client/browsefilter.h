// Browse filters: "ATTRIBUTE OP VALUE" as an engineer types it, and a browser created with filters.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hda/opchda.h"

namespace client {

struct BrowseFilter {
    std::u16string attribute;  // a name as the server lists it, or a number
    OPCHDA_OPERATORCODES op = OPCHDA_EQUAL;
    std::u16string value;  // sent as text (VT_BSTR); the server converts it to the attribute's type
};

// "DATA_TYPE=5", "ITEMID = Gen*", "EU_UNITS!=°C": the attribute, one of = != < <= > >=, the value.
// std::nullopt with *pError set when there is no operator or no attribute.
std::optional<BrowseFilter> ParseBrowseFilter(std::u16string_view text, std::string* pError);

}  // namespace client

// Item IDs and handles of the Add Items dialog: validation, and the server handles of the accepted.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/message.h"
#include "hda/opchda.h"

namespace client {

// The message of memory running out in the Add Items dialog.
inline Message AddItemsOutOfMemory() {
    return Message{u"Out of Memory!", u"Error", hda::MsgIcon::None};
}

struct ValidateOutcome {
    bool called = false;
    HRESULT hr = S_OK;
    std::vector<HRESULT> codes;      // one per ID the server's array reaches, in order
    std::optional<Message> message;  // memory ran out before the call
};
ValidateOutcome ValidateItemIDs(IOPCHDA_Server* pServer, std::span<const std::u16string> ids);

struct HandlesOutcome {
    bool called = false;
    HRESULT hr = S_OK;
    std::vector<HRESULT> errors;     // as far as the server's code array reaches
    std::vector<OPCHANDLE> handles;  // as far as the server's handle array reaches
    std::optional<Message> message;  // memory ran out before the call
};
// Every client handle is 0.
HandlesOutcome GetItemHandles(IOPCHDA_Server* pServer, std::span<const std::u16string> ids);

}  // namespace client

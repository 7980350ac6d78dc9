// The address-space browser of the Add Items dialog: one IOPCHDA_Browser and the steps taken on it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/browsefilter.h"
#include "client/message.h"
#include "com/unknwn.h"
#include "hda/opchda.h"

namespace client {

class Browser {
public:
    Browser() = default;
    bool Held() const { return static_cast<bool>(m_pBrowser); }
    void Release() { m_pBrowser.Reset(); }

    // A browser over the whole address space (one filter: ITEMID equal to "*"). On failure none is
    // held and the message says why.
    std::optional<Message> Create(IOPCHDA_Server* pServer);
    // A browser with the filters (browsefilter.h), attributeIds[i] the id of filters[i]'s attribute.
    // pFilterCodes receives the server's code for each filter.
    std::optional<Message> Create(IOPCHDA_Server* pServer, std::span<const DWORD> attributeIds,
                                  std::span<const BrowseFilter> filters, std::vector<HRESULT>* pFilterCodes);

    // One list of names (GetEnum of the type), at most maxNames. answered is false when the server
    // gave no answer to go by (no browser, a failure, no enumerator). What went wrong, if anything, is
    // in problem, to be said once the names are shown.
    struct Names {
        bool answered = false;
        std::vector<std::u16string> names;
        std::u16string problem;
    };
    Names Enumerate(OPCHDA_BROWSETYPE dwBrowseType, DWORD maxNames);

    // One ChangeBrowsePosition with a task-memory copy of the name; E_OUTOFMEMORY when the copy fails.
    HRESULT ChangePosition(OPCHDA_BROWSEDIRECTION dwDirection, std::u16string_view name);
    // Up first, whatever it answers, then straight to the root-level branch and down one level at a
    // time. S_OK when every step was taken; else the code of the refused step and its name.
    HRESULT MoveTo(const std::vector<std::u16string>& path, std::u16string* pFailedAt);

    // GetItemID of a leaf name; the item ID when the server answered exactly S_OK with a string.
    struct ItemId {
        bool resolved = false;
        std::u16string itemId;
        std::optional<Message> message;  // memory ran out before the call
    };
    ItemId GetItemID(std::u16string_view leaf);

private:
    com::ComPtr<IOPCHDA_Browser> m_pBrowser;
};

}  // namespace client

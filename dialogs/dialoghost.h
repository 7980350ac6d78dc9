// What the operation dialogs need of the server pane: the selected items of the item list and the
// HDA server of the connection the running operation works on.
#pragma once

#include <string>
#include <vector>

#include "hda/opchda.h"

class IDialogHost {
public:
    // The item IDs of the selected rows of the item list, from the top of the list down (list order,
    // whatever the order in which they were selected).
    virtual std::vector<std::u16string> GetSelectedItemIds() const = 0;

    // The IOPCHDA_Server of the connection named by m_strCurrentServer, or null when there is no such
    // connection. No reference is added: the pointer is borrowed for as long as the dialog runs.
    virtual IOPCHDA_Server* GetCurrentHdaServer() const = 0;

    // The IOPCHDA_Server of the connection registered under a server key, or null when there is no
    // such connection. Borrowed like GetCurrentHdaServer's.
    virtual IOPCHDA_Server* GetHdaServer(const std::u16string& strKey) const = 0;

protected:
    ~IDialogHost() = default;
};

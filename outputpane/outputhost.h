// What the output pane needs of the server pane: the forwarded commands, the display limit, the
// selected rows of the item list (tab captions) and the result set of the last value read.
#pragma once

#include <string>
#include <vector>

#include "client/timetext.h"
#include "hda/opchda.h"

namespace client {
class ModifiedSet;
}

class IOutputPaneHost {
public:
    // Commands travel by their numeric ids (32779 Connect, ...). IsCommandEnabled is false for every id
    // the server pane does not carry; OnCommand does nothing for a disabled one.
    virtual void OnCommand(int nId) = 0;
    virtual bool IsCommandEnabled(int nId) const = 0;

    virtual DWORD GetMaxDisplayItems() const = 0;
    virtual void SetMaxDisplayItems(DWORD n) = 0;

    // The item IDs of the selected rows of the item list, from the top.
    virtual std::vector<std::u16string> GetSelectedItemIds() const = 0;

    // The result set: both null when there is none. GetLastResultCount() is how many entries of each
    // array may be read (already bounded by what the server really allocated).
    virtual const OPCHDA_ITEM* GetLastItemValues() const = 0;
    virtual const HRESULT* GetLastErrors() const = 0;
    virtual DWORD GetLastResultCount() const = 0;
    // A note on entry i of the result set for the tab's result label to show when pointed at (an
    // item that Read Next continues); empty for none.
    virtual std::u16string GetResultNote(DWORD /*i*/) const { return {}; }

    // The result set of a Read Modified (null when the last operation was none).
    virtual const client::ModifiedSet* GetLastModified() const { return nullptr; }
    // The basis the pane shows timestamps on.
    virtual client::TimeBasis GetTimeBasis() const { return client::TimeBasis::LocalCurrentBias; }

protected:
    ~IOutputPaneHost() = default;
};

// Read Next: a Read Raw or Read Processed whose answer marked items OPC_S_MOREDATA continues, on
// request, each such item from the timestamp of its last value, and appends what is new to that
// item's record of the result set. The pages join as the command-line client's --all joins them
// (CReadContinuation): no value is lost and none is repeated.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/continuation.h"
#include "client/message.h"
#include "client/reads.h"
#include "client/results.h"

namespace client {

// What the first call was asked, in a form that outlives the dialog.
struct PagedReadArgs {
    enum class Kind { Raw, Processed };
    Kind kind = Kind::Raw;
    std::u16string startText, endText;
    bool startInUse = true, endInUse = true;
    DWORD maxValues = 0;              // Read Raw
    bool bounds = false;              // Read Raw
    FILETIME resampleInterval{0, 0};  // Read Processed
    std::vector<DWORD> aggregates;    // Read Processed, one per handle
    std::vector<OPCHANDLE> handles;
    TimeBasis basis = TimeBasis::LocalCurrentBias;
};

class CReadNext {
public:
    // After the first call: its arguments and its answer (the results still in `first`).
    CReadNext(PagedReadArgs args, const ReadOutcome& first);
    CReadNext(CReadNext&&) noexcept = default;
    CReadNext& operator=(CReadNext&&) noexcept = default;

    // Some item, or item i, has more to read.
    bool HasMore() const;
    bool HasMore(std::size_t i) const;
    // The UTC timestamp item i continues from (meaningful while it has more).
    FILETIME ContinueFrom(std::size_t i) const;

    // Reads the next page of every item that has more, one call per item, and appends what is new
    // to its record of `results`. A failed call ends the round with its message (the items before it
    // keep their new values, the item itself can be asked again); an item whose page fails, runs
    // backwards or cannot get further is done, the last two with a message.
    std::optional<Message> Next(IOPCHDA_SyncRead* pSyncRead, ResultSet& results);

private:
    struct Item {
        CReadContinuation cont;
        std::optional<FILETIME> start, end;  // the moments of the next request; none: as first asked
        DWORD ask = 0;
        bool more = false;
    };
    PagedReadArgs m_args;
    std::vector<Item> m_items;
};

}  // namespace client

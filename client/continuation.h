// Reading a history longer than one reply. A server that stops at the count it was given marks the
// item OPC_S_MOREDATA; the client asks again from the timestamp of the last value it received, and
// the new reply begins with the values at that timestamp that the previous reply already held (the
// HDA 1.20 standard, 4.4.3.1). CReadContinuation follows one item from page to page: it says where the
// next request starts and how many leading values of each reply repeat the previous page, so that the
// pages joined give every value exactly once. Read Raw and Read Modified page alike.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "hda/opchda.h"

namespace client {

// One returned value as the seam compares it. Read Modified values also carry their modification.
struct SeamValue {
    ULONGLONG t = 0;
    DWORD quality = 0;
    const VARIANT* value = nullptr;  // null: no value (compares equal only to no value)
    ULONGLONG modified = 0;
    DWORD edit = 0;
    std::u16string_view user;
};

class CReadContinuation {
public:
    // The times the read was given: with an end time and no start time the read runs backwards from
    // the end and continues by moving the end; in every other form it continues by moving the start.
    CReadContinuation(bool bStartInUse, bool bEndInUse);
    ~CReadContinuation();
    CReadContinuation(const CReadContinuation&) = delete;
    CReadContinuation& operator=(const CReadContinuation&) = delete;
    CReadContinuation(CReadContinuation&&) noexcept;
    CReadContinuation& operator=(CReadContinuation&&) noexcept;

    // Direction of the read once it is known (from the times after the server resolved them). When
    // set, a page whose last timestamp lies behind the previous continuation point ends the paging.
    void SetBackward(bool bBackward);

    // Takes the item's next page: its result code and its `count` values in reply order, `at(i)`
    // giving value i. Returns how many leading values repeat what earlier pages held; the caller
    // passes on the rest.
    std::size_t Accept(HRESULT hrItem, std::size_t count, const std::function<SeamValue(std::size_t)>& at);

    // Whether to ask again: the last page was marked OPC_S_MOREDATA, held a value to continue from
    // and did not run backwards.
    bool HasMore() const { return m_bMore && m_bHaveFrom && !m_bRegressed; }
    // The last page was marked OPC_S_MOREDATA but brought nothing new: every value at its last
    // timestamp had been seen. Asking again with the same count cannot get further; ask for more.
    bool Stalled() const { return m_bStalled; }
    // The last page ended before the point the previous one continued from.
    bool Regressed() const { return m_bRegressed; }
    // The timestamp the next request starts from: that of the last value received.
    ULONGLONG ContinueFrom() const { return m_ftFrom; }
    // True: the next request moves its start time to ContinueFrom(); false: its end time.
    bool MovesStart() const { return m_bMovesStart; }
    // Pages accepted, and values passed on over all of them.
    std::size_t Pages() const { return m_nPages; }
    std::size_t Delivered() const { return m_nDelivered; }
    // The count to ask for next, given the count the read asked for (0: no limit): room for every
    // value seen at the continuation timestamp and one more; after a stalled page, at least twice
    // what that page held. At most 0x7FFFFFFF.
    DWORD NextCount(DWORD dwRequested) const;
    // The result code of the last page.
    HRESULT LastCode() const { return m_hrLast; }

private:
    struct Entry;
    void ClearTail();

    bool m_bMovesStart;
    bool m_bDirectionKnown = false;
    bool m_bBackward = false;
    bool m_bMore = false;
    bool m_bHaveFrom = false;
    bool m_bStalled = false;
    bool m_bRegressed = false;
    ULONGLONG m_ftFrom = 0;
    std::size_t m_nPages = 0;
    std::size_t m_nDelivered = 0;
    std::size_t m_nLastCount = 0;
    HRESULT m_hrLast = S_OK;
    // The values at the last timestamp received, in reply order, over as many pages as they spanned.
    std::vector<Entry> m_tail;
};

// Whether two VARIANTs hold the same type and value (texts compared by content).
bool SameVariant(const VARIANT& a, const VARIANT& b);

}  // namespace client

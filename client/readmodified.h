// Read Modified: the values that updates superseded, with when, how and by whom. One call on
// IOPCHDA_SyncRead, every returned array read no further than the server really allocated it.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "client/message.h"
#include "client/reads.h"
#include "hda/opchda.h"

namespace client {

// The records and per-item codes of one ReadModified call, owned and released here.
class ModifiedSet {
public:
    ModifiedSet() = default;
    ModifiedSet(OPCHDA_MODIFIEDITEM* pValues, HRESULT* pErrors, DWORD dwRequested)
        : m_pValues(pValues), m_pErrors(pErrors), m_dwRequested(dwRequested) {}
    ~ModifiedSet() { Release(); }
    ModifiedSet(ModifiedSet&& o) noexcept;
    ModifiedSet& operator=(ModifiedSet&& o) noexcept;
    ModifiedSet(const ModifiedSet&) = delete;
    ModifiedSet& operator=(const ModifiedSet&) = delete;

    const OPCHDA_MODIFIEDITEM* Values() const { return m_pValues; }
    const HRESULT* Errors() const { return m_pErrors; }
    // Records (and codes) that may be read: the handles passed, bounded by both blocks.
    DWORD Count() const;
    // Entries of record i that every one of its six arrays holds (0 when one of them is missing).
    DWORD EntryCount(DWORD i) const;
    bool Empty() const { return !m_pValues && !m_pErrors; }
    void Release();

private:
    OPCHDA_MODIFIEDITEM* m_pValues = nullptr;
    HRESULT* m_pErrors = nullptr;
    DWORD m_dwRequested = 0;
};

struct ModifiedOutcome {
    bool called = false;
    HRESULT hr = S_OK;
    ModifiedSet results;
    std::optional<Message> message;
    // The two records' FILETIMEs after the call (a server writes resolved relative times there).
    FILETIME ftStartAfter{0, 0};
    FILETIME ftEndAfter{0, 0};
};

// The name of an edit type: "Insert", "Replace", "Insert/Replace", "Delete", or "Unknown (n)".
std::u16string FormatEditType(OPCHDA_EDITTYPE editType);

ModifiedOutcome ReadModified(IOPCHDA_SyncRead* pSyncRead, TimeArg start, TimeArg end, DWORD dwMaxValues,
                             std::span<const OPCHANDLE> handles,
                             TimeBasis basis = TimeBasis::LocalCurrentBias);

}  // namespace client

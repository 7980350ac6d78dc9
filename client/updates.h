// The history updates: Insert, Replace and Insert/Replace (one call with a mode), Delete Raw and
// Delete At Time. Each builds the arrays of its call from owning inputs, makes the one call on
// IOPCHDA_SyncUpdate, and returns the per-entry result codes as a result set (codes only).
//
// Entry k of every array belongs to the same row and item: with n selected items and R rows,
// k = r * n + j for row r and the j-th item.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "client/message.h"
#include "client/reads.h"
#include "client/results.h"
#include "client/timetext.h"
#include "hda/opchda.h"

namespace client {

struct UpdateOutcome {
    bool called = false;
    HRESULT hr = S_OK;
    // The result codes (Errors()), Count() of them readable; empty after a failure.
    ResultSet results;
    std::optional<Message> message;
};

// OPCHDA_INSERT, OPCHDA_REPLACE or OPCHDA_INSERTREPLACE. Every value travels as VT_BSTR with the text
// given; the four spans must be of one length (else nothing is asked, E_INVALIDARG).
UpdateOutcome InsertReplaceHistory(IOPCHDA_SyncUpdate* pSyncUpdate, OPCHDA_EDITTYPE mode,
                                   std::span<const OPCHANDLE> handles, std::span<const FILETIME> timestamps,
                                   std::span<const std::u16string> values, std::span<const DWORD> qualities);

struct DeleteRawOutcome : UpdateOutcome {
    // The two records' FILETIMEs after the call (the server may have rewritten them).
    FILETIME ftStartAfter{0, 0};
    FILETIME ftEndAfter{0, 0};
};

// Both texts in use: a text that reads as a moment on the basis travels as a FILETIME, any other as
// an HDA time string.
DeleteRawOutcome DeleteRaw(IOPCHDA_SyncUpdate* pSyncUpdate, std::u16string_view strStart,
                           std::u16string_view strEnd, std::span<const OPCHANDLE> handles,
                           TimeBasis basis = TimeBasis::LocalCurrentBias);

// The same with time arguments that may hold moments (both are used whatever their inUse says).
DeleteRawOutcome DeleteRaw(IOPCHDA_SyncUpdate* pSyncUpdate, TimeArg start, TimeArg end,
                           std::span<const OPCHANDLE> handles, TimeBasis basis = TimeBasis::LocalCurrentBias);

// Handles and timestamps of one length (else nothing is asked, E_INVALIDARG).
UpdateOutcome DeleteAtTime(IOPCHDA_SyncUpdate* pSyncUpdate, std::span<const OPCHANDLE> handles,
                           std::span<const FILETIME> timestamps);

}  // namespace client

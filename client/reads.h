// The history reads: Read Raw, Read Processed, Read At Time, Read Attribute. Each takes plain
// arguments, makes the one call on IOPCHDA_SyncRead, checks what came back against what the server
// allocated and returns owning values, with the message the client shows when there is one.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/message.h"
#include "client/results.h"
#include "client/timetext.h"
#include "hda/opchda.h"

namespace client {

// One time argument as the dialogs give it: the text and whether it is in use.
struct TimeArg {
    std::u16string_view text;
    bool inUse = true;
    // A moment to the tick (a time the caller already holds as a UTC instant): sent as it is, the
    // text is not read.
    std::optional<FILETIME> moment = std::nullopt;
};

// The record of a time argument: its moment when it has one, else as BuildHdaTime builds it from
// the text on the basis.
hda::HdaTimeArg BuildTimeRecord(const TimeArg& time, TimeBasis basis);

struct ReadOutcome {
    bool called = false;  // the server was asked
    HRESULT hr = S_OK;
    // Filled on success with both arrays: the result set to show, one tab per item.
    ResultSet results;
    // A failure, an answer without one of the arrays, or memory running out on this side.
    std::optional<Message> message;
    // The two records' FILETIMEs after a Read Raw or Read Processed call (a server writes the
    // instants of relative times there).
    FILETIME ftStartAfter{0, 0};
    FILETIME ftEndAfter{0, 0};
    bool HasResults() const { return !results.Empty(); }
};

ReadOutcome ReadRaw(IOPCHDA_SyncRead* pSyncRead, TimeArg start, TimeArg end, DWORD dwMaxValues, bool bBounds,
                    std::span<const OPCHANDLE> handles, TimeBasis basis = TimeBasis::LocalCurrentBias);

// One aggregate per handle; nothing is asked when fewer aggregates than handles are given.
ReadOutcome ReadProcessed(IOPCHDA_SyncRead* pSyncRead, std::u16string_view strStart,
                          std::u16string_view strEnd, FILETIME ftResampleInterval,
                          std::span<const OPCHANDLE> handles, std::span<const DWORD> aggregates,
                          TimeBasis basis = TimeBasis::LocalCurrentBias);

// The same with time arguments that may hold moments (both are used whatever their inUse says).
ReadOutcome ReadProcessed(IOPCHDA_SyncRead* pSyncRead, TimeArg start, TimeArg end,
                          FILETIME ftResampleInterval, std::span<const OPCHANDLE> handles,
                          std::span<const DWORD> aggregates, TimeBasis basis = TimeBasis::LocalCurrentBias);

ReadOutcome ReadAtTime(IOPCHDA_SyncRead* pSyncRead, std::span<const FILETIME> timestamps,
                       std::span<const OPCHANDLE> handles);

// One row per attribute id asked for, in the order asked.
struct AttributeRow {
    DWORD id = 0;           // the record's id, or the one asked for when no record came
    bool returned = false;  // the server's array reached this row
    bool noData = false;    // a record with no values
    // The first value's text and the first timestamp, when the server's arrays hold them.
    std::optional<std::u16string> value;
    std::optional<FILETIME> timestamp;
};

struct AttributeReadOutcome {
    bool called = false;
    HRESULT hr = S_OK;
    std::vector<AttributeRow> rows;  // filled on success with records
    std::optional<Message> message;
};

// Reads the attributes of one item between "NOW" and "NOW"; the per-attribute codes are not shown.
AttributeReadOutcome ReadAttribute(IOPCHDA_SyncRead* pSyncRead, OPCHANDLE hServer,
                                   std::span<const DWORD> ids);

}  // namespace client

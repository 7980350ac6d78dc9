#include "client/reads.h"

#include <algorithm>

#include "client/textforms.h"
#include "com/ownership.h"
#include "com/text.h"

namespace client {

namespace {

Message Failed(std::u16string_view method, HRESULT hr) {
    return Message{com::FormatW(u"%s Failed, Function returned: 0x%X", {method, hr})};
}

// The answer of a value read: a failure or an answer without one of the arrays is a message (and
// whatever came back is released); a success becomes the result set.
void TakeValueAnswer(ReadOutcome& out, std::u16string_view method, OPCHDA_ITEM* pValues, HRESULT* pErrors,
                     DWORD dwCount) {
    ResultSet answer(pValues, pErrors, dwCount);
    if (FAILED(out.hr)) {
        // A server should leave both out-arrays null when it fails; release whatever it left anyway.
        out.message = Failed(method, out.hr);
        return;
    }
    if (!pValues || !pErrors) {
        // Success without one of the two arrays: there is no result to line up with the tabs.
        const char16_t* pszMissing = !pValues && !pErrors ? u"values and result codes"
                                     : !pValues           ? u"values"
                                                          : u"result codes";
        out.message =
            Message{com::FormatW(u"%s returned 0x%X but no %s: the server sent nothing that can be shown.",
                                 {method, out.hr, pszMissing})};
        return;
    }
    out.results = std::move(answer);
}

DWORD Count(std::size_t n) {
    return static_cast<DWORD>(std::min<std::size_t>(n, 0xFFFFFFFFu));
}

}  // namespace

hda::HdaTimeArg BuildTimeRecord(const TimeArg& time, TimeBasis basis) {
    if (time.inUse && time.moment) return hda::HdaTimeArg::Moment(*time.moment);
    return BuildHdaTime(time.text, time.inUse, basis);
}

ReadOutcome ReadRaw(IOPCHDA_SyncRead* pSyncRead, TimeArg start, TimeArg end, DWORD dwMaxValues, bool bBounds,
                    std::span<const OPCHANDLE> handles, TimeBasis basis) {
    ReadOutcome out;
    if (!pSyncRead || handles.empty()) return out;
    hda::HdaTimeArg htStart = BuildTimeRecord(start, basis);
    hda::HdaTimeArg htEnd = BuildTimeRecord(end, basis);
    if (!htStart || !htEnd) {
        out.message = OutOfMemory();
        return out;
    }
    std::vector<OPCHANDLE> phServer(handles.begin(), handles.end());
    const DWORD dwCount = Count(phServer.size());
    OPCHDA_ITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;
    out.called = true;
    out.hr = pSyncRead->ReadRaw(htStart.get(), htEnd.get(), dwMaxValues, bBounds ? TRUE : FALSE, dwCount,
                                phServer.data(), &pValues, &pErrors);
    out.ftStartAfter = htStart.get()->ftTime;
    out.ftEndAfter = htEnd.get()->ftTime;
    TakeValueAnswer(out, u"ReadRaw", pValues, pErrors, dwCount);
    return out;
}

ReadOutcome ReadProcessed(IOPCHDA_SyncRead* pSyncRead, std::u16string_view strStart,
                          std::u16string_view strEnd, FILETIME ftResampleInterval,
                          std::span<const OPCHANDLE> handles, std::span<const DWORD> aggregates,
                          TimeBasis basis) {
    return ReadProcessed(pSyncRead, TimeArg{strStart, true, std::nullopt},
                         TimeArg{strEnd, true, std::nullopt}, ftResampleInterval, handles, aggregates, basis);
}

ReadOutcome ReadProcessed(IOPCHDA_SyncRead* pSyncRead, TimeArg start, TimeArg end,
                          FILETIME ftResampleInterval, std::span<const OPCHANDLE> handles,
                          std::span<const DWORD> aggregates, TimeBasis basis) {
    ReadOutcome out;
    if (!pSyncRead) return out;
    start.inUse = end.inUse = true;
    hda::HdaTimeArg htStart = BuildTimeRecord(start, basis);
    hda::HdaTimeArg htEnd = BuildTimeRecord(end, basis);
    if (!htStart || !htEnd) {
        out.message = OutOfMemory();
        return out;
    }
    // One aggregate per handle: the dialog listed the same selection in the same order.
    if (handles.empty() || aggregates.size() < handles.size()) return out;
    std::vector<OPCHANDLE> phServer(handles.begin(), handles.end());
    std::vector<DWORD> haAggregate(aggregates.begin(), aggregates.begin() + handles.size());
    const DWORD dwCount = Count(phServer.size());
    OPCHDA_ITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;
    out.called = true;
    out.hr = pSyncRead->ReadProcessed(htStart.get(), htEnd.get(), ftResampleInterval, dwCount,
                                      phServer.data(), haAggregate.data(), &pValues, &pErrors);
    out.ftStartAfter = htStart.get()->ftTime;
    out.ftEndAfter = htEnd.get()->ftTime;
    TakeValueAnswer(out, u"ReadProcessed", pValues, pErrors, dwCount);
    return out;
}

ReadOutcome ReadAtTime(IOPCHDA_SyncRead* pSyncRead, std::span<const FILETIME> timestamps,
                       std::span<const OPCHANDLE> handles) {
    ReadOutcome out;
    if (!pSyncRead || handles.empty() || timestamps.empty()) return out;
    std::vector<FILETIME> ftTimeStamps(timestamps.begin(), timestamps.end());
    std::vector<OPCHANDLE> phServer(handles.begin(), handles.end());
    const DWORD dwCount = Count(phServer.size());
    OPCHDA_ITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;
    out.called = true;
    out.hr = pSyncRead->ReadAtTime(Count(ftTimeStamps.size()), ftTimeStamps.data(), dwCount, phServer.data(),
                                   &pValues, &pErrors);
    TakeValueAnswer(out, u"ReadAtTime", pValues, pErrors, dwCount);
    return out;
}

AttributeReadOutcome ReadAttribute(IOPCHDA_SyncRead* pSyncRead, OPCHANDLE hServer,
                                   std::span<const DWORD> ids) {
    AttributeReadOutcome out;
    if (!pSyncRead) return out;
    hda::HdaTimeArg htStart = BuildHdaTime(u"NOW", true);
    hda::HdaTimeArg htEnd = BuildHdaTime(u"NOW", true);
    if (!htStart || !htEnd) {
        out.message = OutOfMemory();
        return out;
    }
    if (ids.empty()) return out;
    std::vector<DWORD> pdwAttributeIDs(ids.begin(), ids.end());
    const DWORD dwIds = Count(pdwAttributeIDs.size());

    OPCHDA_ATTRIBUTE* pValues = nullptr;
    com::Received<HRESULT> errors;  // the per-attribute codes are not shown
    out.called = true;
    out.hr = pSyncRead->ReadAttribute(htStart.get(), htEnd.get(), hServer, dwIds, pdwAttributeIDs.data(),
                                      &pValues, errors.Out());
    struct Records {
        OPCHDA_ATTRIBUTE* p;
        DWORD n;
        ~Records() { ReleaseAttributeValues(p, n); }
    } records{pValues, dwIds};

    if (FAILED(out.hr)) {
        out.message = Message{com::FormatW(u"ReadAttribute Failed, Function returned: 0x%X", {out.hr})};
        return out;
    }
    if (!pValues) {
        out.message =
            Message{com::FormatW(u"ReadAttribute returned 0x%X but no attribute values: the server sent "
                                 u"nothing that can be shown.",
                                 {out.hr})};
        return out;
    }
    const SIZE_T nRecords = std::min<SIZE_T>(dwIds, com::TaskMemCount(pValues));
    out.rows.resize(dwIds);
    for (DWORD i = 0; i < dwIds; ++i) {
        AttributeRow& row = out.rows[i];
        if (i >= nRecords) {
            // The server answered fewer attributes than were asked for.
            row.id = pdwAttributeIDs[i];
            continue;
        }
        const OPCHDA_ATTRIBUTE& attribute = pValues[i];
        row.id = attribute.dwAttributeID;
        row.returned = true;
        if (attribute.dwNumValues == 0) {
            row.noData = true;
            continue;
        }
        // Only the first value of an attribute is shown.
        if (com::TaskMemCount(attribute.vAttributeValues) > 0)
            row.value = FormatVariant(attribute.vAttributeValues[0]);
        if (com::TaskMemCount(attribute.ftTimeStamps) > 0) row.timestamp = attribute.ftTimeStamps[0];
    }
    return out;
}

}  // namespace client

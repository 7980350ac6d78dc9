#include "client/updates.h"

#include <algorithm>
#include <vector>

#include "com/ownership.h"
#include "com/text.h"

namespace client {

namespace {

DWORD Count(std::size_t n) {
    return static_cast<DWORD>(std::min<std::size_t>(n, 0xFFFFFFFFu));
}

// The answer of an update: the codes on success, the message of its family on failure.
void TakeUpdateAnswer(UpdateOutcome& out, const char16_t* pszFailure, HRESULT* pErrors, DWORD dwCount) {
    ResultSet answer(nullptr, pErrors, dwCount);
    if (FAILED(out.hr)) {
        out.message = Message{com::FormatW(pszFailure, {out.hr})};
        return;
    }
    out.results = std::move(answer);
}

constexpr char16_t kInsertFailed[] = u"Insert Failed, Function returned: 0x%X";
constexpr char16_t kDeleteFailed[] = u"Delete Raw Failed, Function returned: 0x%X";

}  // namespace

UpdateOutcome InsertReplaceHistory(IOPCHDA_SyncUpdate* pSyncUpdate, OPCHDA_EDITTYPE mode,
                                   std::span<const OPCHANDLE> handles, std::span<const FILETIME> timestamps,
                                   std::span<const std::u16string> values, std::span<const DWORD> qualities) {
    UpdateOutcome out;
    if (!pSyncUpdate || handles.empty()) return out;
    const std::size_t n = handles.size();
    if (timestamps.size() != n || values.size() != n || qualities.size() != n ||
        (mode != OPCHDA_INSERT && mode != OPCHDA_REPLACE && mode != OPCHDA_INSERTREPLACE)) {
        out.hr = E_INVALIDARG;
        out.message = Message{com::FormatW(
            u"Insert was not sent: %u handles, %u timestamps, %u values and %u qualities, one of each per "
            u"entry "
            u"is needed.",
            {Count(n), Count(timestamps.size()), Count(values.size()), Count(qualities.size())})};
        return out;
    }
    // Values and qualities in task memory, every value a VT_BSTR of its text.
    com::Received<VARIANT, com::ClearVariant> vDataValues(com::TaskMemArray<VARIANT>(n).release(), n);
    com::TaskMem<DWORD[]> pdwQualities = com::TaskMemCopy(qualities);
    if (!vDataValues || !pdwQualities) {
        out.message = OutOfMemory();
        return out;
    }
    for (std::size_t k = 0; k < n; ++k) {
        VARIANT& v = vDataValues[k];
        VariantInit(&v);
        const std::u16string& text = values[k];
        v.bstrVal =
            SysAllocStringLen(text.data(), static_cast<UINT>(std::min<std::size_t>(text.size(), 0x7FFFFFFF)));
        if (!v.bstrVal) {
            out.message = OutOfMemory();
            return out;
        }
        v.vt = VT_BSTR;
    }
    std::vector<OPCHANDLE> phServer(handles.begin(), handles.end());
    std::vector<FILETIME> ftTimeStamps(timestamps.begin(), timestamps.end());
    const DWORD dwCount = Count(n);
    HRESULT* pErrors = nullptr;
    out.called = true;
    switch (mode) {
        case OPCHDA_REPLACE:
            out.hr = pSyncUpdate->Replace(dwCount, phServer.data(), ftTimeStamps.data(), vDataValues.get(),
                                          pdwQualities.get(), &pErrors);
            break;
        case OPCHDA_INSERTREPLACE:
            out.hr = pSyncUpdate->InsertReplace(dwCount, phServer.data(), ftTimeStamps.data(),
                                                vDataValues.get(), pdwQualities.get(), &pErrors);
            break;
        default:
            out.hr = pSyncUpdate->Insert(dwCount, phServer.data(), ftTimeStamps.data(), vDataValues.get(),
                                         pdwQualities.get(), &pErrors);
            break;
    }
    TakeUpdateAnswer(out, kInsertFailed, pErrors, dwCount);
    return out;
}

DeleteRawOutcome DeleteRaw(IOPCHDA_SyncUpdate* pSyncUpdate, std::u16string_view strStart,
                           std::u16string_view strEnd, std::span<const OPCHANDLE> handles, TimeBasis basis) {
    return DeleteRaw(pSyncUpdate, TimeArg{strStart, true, std::nullopt}, TimeArg{strEnd, true, std::nullopt},
                     handles, basis);
}

DeleteRawOutcome DeleteRaw(IOPCHDA_SyncUpdate* pSyncUpdate, TimeArg start, TimeArg end,
                           std::span<const OPCHANDLE> handles, TimeBasis basis) {
    DeleteRawOutcome out;
    if (!pSyncUpdate || handles.empty()) return out;
    start.inUse = end.inUse = true;
    hda::HdaTimeArg htStart = BuildTimeRecord(start, basis);
    hda::HdaTimeArg htEnd = BuildTimeRecord(end, basis);
    if (!htStart || !htEnd) {
        out.message = OutOfMemory();
        return out;
    }
    std::vector<OPCHANDLE> phServer(handles.begin(), handles.end());
    const DWORD dwCount = Count(phServer.size());
    HRESULT* pErrors = nullptr;
    out.called = true;
    out.hr = pSyncUpdate->DeleteRaw(htStart.get(), htEnd.get(), dwCount, phServer.data(), &pErrors);
    out.ftStartAfter = htStart.get()->ftTime;
    out.ftEndAfter = htEnd.get()->ftTime;
    TakeUpdateAnswer(out, kDeleteFailed, pErrors, dwCount);
    return out;
}

UpdateOutcome DeleteAtTime(IOPCHDA_SyncUpdate* pSyncUpdate, std::span<const OPCHANDLE> handles,
                           std::span<const FILETIME> timestamps) {
    UpdateOutcome out;
    if (!pSyncUpdate || handles.empty()) return out;
    if (timestamps.size() != handles.size()) {
        out.hr = E_INVALIDARG;
        out.message = Message{com::FormatW(
            u"Delete At Time was not sent: %u handles and %u timestamps, one of each per entry is needed.",
            {Count(handles.size()), Count(timestamps.size())})};
        return out;
    }
    std::vector<OPCHANDLE> phServer(handles.begin(), handles.end());
    std::vector<FILETIME> ftTimeStamps(timestamps.begin(), timestamps.end());
    const DWORD dwCount = Count(phServer.size());
    HRESULT* pErrors = nullptr;
    out.called = true;
    out.hr = pSyncUpdate->DeleteAtTime(dwCount, phServer.data(), ftTimeStamps.data(), &pErrors);
    TakeUpdateAnswer(out, kDeleteFailed, pErrors, dwCount);
    return out;
}

}  // namespace client

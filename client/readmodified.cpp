#include "client/readmodified.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"

namespace client {

namespace {

// Entries of a record that all six arrays hold, and how far each array may be released.
std::size_t Readable(const OPCHDA_MODIFIEDITEM& r) {
    std::size_t n = r.dwCount;
    n = std::min({n, com::TaskMemCount(r.pftTimeStamps), com::TaskMemCount(r.pdwQualities),
                  com::TaskMemCount(r.pvDataValues), com::TaskMemCount(r.pftModificationTime),
                  com::TaskMemCount(r.pEditType), com::TaskMemCount(r.szUser)});
    return n;
}

}  // namespace

ModifiedSet::ModifiedSet(ModifiedSet&& o) noexcept
    : m_pValues(std::exchange(o.m_pValues, nullptr)),
      m_pErrors(std::exchange(o.m_pErrors, nullptr)),
      m_dwRequested(std::exchange(o.m_dwRequested, 0)) {}

ModifiedSet& ModifiedSet::operator=(ModifiedSet&& o) noexcept {
    if (this != &o) {
        Release();
        m_pValues = std::exchange(o.m_pValues, nullptr);
        m_pErrors = std::exchange(o.m_pErrors, nullptr);
        m_dwRequested = std::exchange(o.m_dwRequested, 0);
    }
    return *this;
}

DWORD ModifiedSet::Count() const {
    if (!m_pValues && !m_pErrors) return 0;
    std::size_t n = m_dwRequested;
    if (m_pValues) n = std::min(n, com::TaskMemCount(m_pValues));
    if (m_pErrors) n = std::min(n, com::TaskMemCount(m_pErrors));
    return static_cast<DWORD>(n);
}

DWORD ModifiedSet::EntryCount(DWORD i) const {
    if (!m_pValues || i >= Count()) return 0;
    return static_cast<DWORD>(Readable(m_pValues[i]));
}

void ModifiedSet::Release() {
    if (m_pValues) {
        const std::size_t records = std::min<std::size_t>(m_dwRequested, com::TaskMemCount(m_pValues));
        // Arrays two records share are released once.
        std::vector<void*> freed;
        auto once = [&freed](void* p) {
            if (!p || std::find(freed.begin(), freed.end(), p) != freed.end()) return false;
            freed.push_back(p);
            return true;
        };
        for (std::size_t i = 0; i < records; ++i) {
            OPCHDA_MODIFIEDITEM& r = m_pValues[i];
            if (once(r.pvDataValues)) {
                const std::size_t n = std::min<std::size_t>(r.dwCount, com::TaskMemCount(r.pvDataValues));
                for (std::size_t k = 0; k < n; ++k) VariantClear(&r.pvDataValues[k]);
                CoTaskMemFree(r.pvDataValues);
            }
            if (once(r.szUser)) {
                const std::size_t n = std::min<std::size_t>(r.dwCount, com::TaskMemCount(r.szUser));
                for (std::size_t k = 0; k < n; ++k)
                    if (once(r.szUser[k])) CoTaskMemFree(r.szUser[k]);
                CoTaskMemFree(r.szUser);
            }
            if (once(r.pftTimeStamps)) CoTaskMemFree(r.pftTimeStamps);
            if (once(r.pdwQualities)) CoTaskMemFree(r.pdwQualities);
            if (once(r.pftModificationTime)) CoTaskMemFree(r.pftModificationTime);
            if (once(r.pEditType)) CoTaskMemFree(r.pEditType);
        }
        CoTaskMemFree(m_pValues);
        m_pValues = nullptr;
    }
    CoTaskMemFree(m_pErrors);
    m_pErrors = nullptr;
    m_dwRequested = 0;
}

std::u16string FormatEditType(OPCHDA_EDITTYPE editType) {
    switch (editType) {
        case OPCHDA_INSERT:
            return u"Insert";
        case OPCHDA_REPLACE:
            return u"Replace";
        case OPCHDA_INSERTREPLACE:
            return u"Insert/Replace";
        case OPCHDA_DELETE:
            return u"Delete";
    }
    return com::FormatW(u"Unknown (%d)", {static_cast<int>(editType)});
}

ModifiedOutcome ReadModified(IOPCHDA_SyncRead* pSyncRead, TimeArg start, TimeArg end, DWORD dwMaxValues,
                             std::span<const OPCHANDLE> handles, TimeBasis basis) {
    ModifiedOutcome out;
    if (!pSyncRead || handles.empty()) return out;
    hda::HdaTimeArg htStart = BuildTimeRecord(start, basis);
    hda::HdaTimeArg htEnd = BuildTimeRecord(end, basis);
    if (!htStart || !htEnd) {
        out.message = OutOfMemory();
        return out;
    }
    std::vector<OPCHANDLE> phServer(handles.begin(), handles.end());
    const DWORD dwCount = static_cast<DWORD>(std::min<std::size_t>(phServer.size(), 0xFFFFFFFFu));
    OPCHDA_MODIFIEDITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;
    out.called = true;
    out.hr = pSyncRead->ReadModified(htStart.get(), htEnd.get(), dwMaxValues, dwCount, phServer.data(),
                                     &pValues, &pErrors);
    out.ftStartAfter = htStart.get()->ftTime;
    out.ftEndAfter = htEnd.get()->ftTime;
    ModifiedSet answer(pValues, pErrors, dwCount);
    if (FAILED(out.hr)) {
        out.message = Message{com::FormatW(u"ReadModified Failed, Function returned: 0x%X", {out.hr})};
        return out;
    }
    if (!pValues || !pErrors) {
        out.message = Message{
            com::FormatW(u"ReadModified returned 0x%X but no %s: the server sent nothing that can be shown.",
                         {out.hr, !pValues && !pErrors ? u"values and result codes"
                                  : !pValues           ? u"values"
                                                       : u"result codes"})};
        return out;
    }
    out.results = std::move(answer);
    return out;
}

}  // namespace client

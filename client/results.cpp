#include "client/results.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "com/ownership.h"

namespace client {

namespace {

// The inner arrays of a set of records, each released once however many records name it.
class InnerArrays {
public:
    void AddPlain(void* p) {
        if (p) m_plain.push_back(p);
    }
    void AddValues(VARIANT* p, DWORD dwCount) {
        if (p) m_values.push_back({p, dwCount});
    }
    void Release() {
        // Values first: clearing reads the block, so it must still be there.
        std::sort(m_values.begin(), m_values.end(),
                  [](const Values& a, const Values& b) { return a.p < b.p; });
        for (std::size_t i = 0; i < m_values.size();) {
            VARIANT* p = m_values[i].p;
            DWORD dwClaimed = 0;
            for (; i < m_values.size() && m_values[i].p == p; ++i)
                dwClaimed = std::max(dwClaimed, m_values[i].dwCount);
            com::Received<VARIANT, com::ClearVariant>(p, dwClaimed).Reset();
        }
        std::sort(m_plain.begin(), m_plain.end());
        m_plain.erase(std::unique(m_plain.begin(), m_plain.end()), m_plain.end());
        for (void* p : m_plain) com::TaskMem<void> owned(p);
        m_plain.clear();
        m_values.clear();
    }

private:
    struct Values {
        VARIANT* p;
        DWORD dwCount;
    };
    std::vector<void*> m_plain;
    std::vector<Values> m_values;
};

}  // namespace

void ReleaseItemValues(OPCHDA_ITEM* pValues, DWORD nRecords) {
    com::Received<OPCHDA_ITEM> records(pValues, nRecords);
    InnerArrays inner;
    for (OPCHDA_ITEM& item : records.view()) {
        inner.AddPlain(item.pftTimeStamps);
        inner.AddPlain(item.pdwQualities);
        inner.AddValues(item.pvDataValues, item.dwCount);
    }
    inner.Release();
}

void ReleaseAttributeValues(OPCHDA_ATTRIBUTE* pValues, DWORD nRecords) {
    com::Received<OPCHDA_ATTRIBUTE> records(pValues, nRecords);
    InnerArrays inner;
    for (OPCHDA_ATTRIBUTE& attribute : records.view()) {
        inner.AddPlain(attribute.ftTimeStamps);
        inner.AddValues(attribute.vAttributeValues, attribute.dwNumValues);
    }
    inner.Release();
}

ResultSet::ResultSet(ResultSet&& o) noexcept
    : m_pValues(std::exchange(o.m_pValues, nullptr)),
      m_pErrors(std::exchange(o.m_pErrors, nullptr)),
      m_dwRequested(std::exchange(o.m_dwRequested, 0)) {}

ResultSet& ResultSet::operator=(ResultSet&& o) noexcept {
    if (this != &o) {
        Release();
        m_pValues = std::exchange(o.m_pValues, nullptr);
        m_pErrors = std::exchange(o.m_pErrors, nullptr);
        m_dwRequested = std::exchange(o.m_dwRequested, 0);
    }
    return *this;
}

DWORD ResultSet::Count() const {
    // Never more than the server really allocated, whatever it claimed.
    if (Empty()) return 0;
    SIZE_T n = m_dwRequested;
    if (m_pValues) n = std::min(n, com::TaskMemCount(m_pValues));
    if (m_pErrors) n = std::min(n, com::TaskMemCount(m_pErrors));
    return static_cast<DWORD>(n);
}

bool ResultSet::Append(DWORD i, const OPCHDA_ITEM& page, std::size_t from, HRESULT hrCode) {
    if (!m_pValues || !m_pErrors || i >= Count()) return false;
    OPCHDA_ITEM& rec = m_pValues[i];
    auto bounded = [](const OPCHDA_ITEM& r) {
        return std::min({static_cast<std::size_t>(r.dwCount), com::TaskMemCount(r.pftTimeStamps),
                         com::TaskMemCount(r.pdwQualities), com::TaskMemCount(r.pvDataValues)});
    };
    const std::size_t nOld = bounded(rec);
    const std::size_t nPage = bounded(page);
    const std::size_t nNew = from < nPage ? nPage - from : 0;
    if (nOld + nNew > 0xFFFFFFFFu) return false;
    const std::size_t n = nOld + nNew;
    com::TaskMem<FILETIME[]> t = com::TaskMemArray<FILETIME>(n);
    com::TaskMem<DWORD[]> q = com::TaskMemArray<DWORD>(n);
    com::TaskMem<VARIANT[]> v = com::TaskMemArray<VARIANT>(n);
    if (!t || !q || !v) return false;
    std::size_t k = 0;
    bool ok = true;
    auto take = [&](const OPCHDA_ITEM& r, std::size_t a, std::size_t b) {
        for (std::size_t j = a; j < b; ++j, ++k) {
            t[k] = r.pftTimeStamps[j];
            q[k] = r.pdwQualities[j];
            if (ok && FAILED(VariantCopy(&v[k], &r.pvDataValues[j]))) ok = false;
        }
    };
    take(rec, 0, nOld);
    take(page, from, nPage);
    if (!ok) {
        com::Received<VARIANT, com::ClearVariant>(v.release(), n).Reset();
        return false;
    }
    // The old arrays go unless another record names them.
    auto shared = [&](const void* p) {
        for (DWORD j = 0, c = Count(); j < c; ++j)
            if (j != i && (m_pValues[j].pftTimeStamps == p || m_pValues[j].pdwQualities == p ||
                           m_pValues[j].pvDataValues == p))
                return true;
        return false;
    };
    InnerArrays old;
    if (!shared(rec.pftTimeStamps)) old.AddPlain(rec.pftTimeStamps);
    if (!shared(rec.pdwQualities) && rec.pdwQualities != static_cast<void*>(rec.pftTimeStamps))
        old.AddPlain(rec.pdwQualities);
    if (!shared(rec.pvDataValues) && rec.pvDataValues != static_cast<void*>(rec.pftTimeStamps) &&
        rec.pvDataValues != static_cast<void*>(rec.pdwQualities))
        old.AddValues(rec.pvDataValues, rec.dwCount);
    old.Release();
    rec.dwCount = static_cast<DWORD>(n);
    rec.pftTimeStamps = t.release();
    rec.pdwQualities = q.release();
    rec.pvDataValues = v.release();
    m_pErrors[i] = hrCode;
    return true;
}

void ResultSet::Release() {
    com::TaskMem<HRESULT[]> errors(std::exchange(m_pErrors, nullptr));
    ReleaseItemValues(std::exchange(m_pValues, nullptr), m_dwRequested);
    m_dwRequested = 0;
}

}  // namespace client

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

void ResultSet::Release() {
    com::TaskMem<HRESULT[]> errors(std::exchange(m_pErrors, nullptr));
    ReleaseItemValues(std::exchange(m_pValues, nullptr), m_dwRequested);
    m_dwRequested = 0;
}

}  // namespace client

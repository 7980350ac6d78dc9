#include "serverpane/readresults.h"

#include <algorithm>
#include <vector>

#include "com/objbase.h"
#include "com/oleauto.h"

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
            const SIZE_T n = std::min<SIZE_T>(dwClaimed, com::TaskMemCount(p));
            for (SIZE_T j = 0; j < n; ++j) VariantClear(&p[j]);
            m_plain.push_back(p);
        }
        std::sort(m_plain.begin(), m_plain.end());
        m_plain.erase(std::unique(m_plain.begin(), m_plain.end()), m_plain.end());
        for (void* p : m_plain) CoTaskMemFree(p);
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

namespace readresults {

void ReleaseItemValues(OPCHDA_ITEM* pValues, DWORD nRecords) {
    if (!pValues) return;
    const SIZE_T n = std::min<SIZE_T>(nRecords, com::TaskMemCount(pValues));
    InnerArrays inner;
    for (SIZE_T i = 0; i < n; ++i) {
        OPCHDA_ITEM& item = pValues[i];
        inner.AddPlain(item.pftTimeStamps);
        inner.AddPlain(item.pdwQualities);
        inner.AddValues(item.pvDataValues, item.dwCount);
    }
    inner.Release();
    CoTaskMemFree(pValues);
}

void ReleaseAttributeValues(OPCHDA_ATTRIBUTE* pValues, DWORD nRecords) {
    if (!pValues) return;
    const SIZE_T n = std::min<SIZE_T>(nRecords, com::TaskMemCount(pValues));
    InnerArrays inner;
    for (SIZE_T i = 0; i < n; ++i) {
        OPCHDA_ATTRIBUTE& attribute = pValues[i];
        inner.AddPlain(attribute.ftTimeStamps);
        inner.AddValues(attribute.vAttributeValues, attribute.dwNumValues);
    }
    inner.Release();
    CoTaskMemFree(pValues);
}

}  // namespace readresults

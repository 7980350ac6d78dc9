#include "client/continuation.h"

#include <algorithm>
#include <cstring>

#include "com/oleauto.h"

namespace client {

struct CReadContinuation::Entry {
    ULONGLONG t = 0;
    DWORD quality = 0;
    bool hasValue = false;
    VARIANT value{};
    ULONGLONG modified = 0;
    DWORD edit = 0;
    std::u16string user;

    explicit Entry(const SeamValue& v)
        : t(v.t), quality(v.quality), modified(v.modified), edit(v.edit), user(v.user) {
        VariantInit(&value);
        if (v.value) {
            hasValue = true;
            if (FAILED(VariantCopy(&value, v.value))) {
                // Out of memory: keep the type alone, which still tells most repeats apart.
                VariantInit(&value);
                value.vt = v.value->vt;
            }
        }
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    Entry(Entry&& o) noexcept
        : t(o.t),
          quality(o.quality),
          hasValue(o.hasValue),
          value(o.value),
          modified(o.modified),
          edit(o.edit),
          user(std::move(o.user)) {
        VariantInit(&o.value);
        o.hasValue = false;
    }
    Entry& operator=(Entry&& o) noexcept {
        if (this != &o) {
            VariantClear(&value);
            t = o.t;
            quality = o.quality;
            hasValue = o.hasValue;
            value = o.value;
            modified = o.modified;
            edit = o.edit;
            user = std::move(o.user);
            VariantInit(&o.value);
            o.hasValue = false;
        }
        return *this;
    }
    ~Entry() { VariantClear(&value); }

    bool Matches(const SeamValue& v) const {
        if (t != v.t || quality != v.quality || modified != v.modified || edit != v.edit || user != v.user)
            return false;
        if (!hasValue || !v.value) return hasValue == (v.value != nullptr);
        return SameVariant(value, *v.value);
    }
};

bool SameVariant(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    if (a.vt & (VT_ARRAY | VT_BYREF)) return true;  // shown as "Unknown" anyway: the type decides
    switch (a.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_BSTR: {
            const UINT na = SysStringLen(a.bstrVal), nb = SysStringLen(b.bstrVal);
            return na == nb && (na == 0 || std::memcmp(a.bstrVal, b.bstrVal, na * sizeof(OLECHAR)) == 0);
        }
        case VT_I1:
        case VT_UI1:
            return a.bVal == b.bVal;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return a.uiVal == b.uiVal;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_ERROR:
        case VT_INT:
        case VT_UINT:
            return a.ulVal == b.ulVal;
        case VT_DECIMAL:
            return std::memcmp(&a, &b, sizeof(VARIANT)) == 0;
        default:
            // The 8-byte types (R8, CY, DATE, I8, UI8) and interface pointers.
            return a.ullVal == b.ullVal;
    }
}

CReadContinuation::CReadContinuation(bool bStartInUse, bool bEndInUse)
    : m_bMovesStart(bStartInUse || !bEndInUse) {}
CReadContinuation::~CReadContinuation() = default;
CReadContinuation::CReadContinuation(CReadContinuation&&) noexcept = default;
CReadContinuation& CReadContinuation::operator=(CReadContinuation&&) noexcept = default;

void CReadContinuation::SetBackward(bool bBackward) {
    m_bDirectionKnown = true;
    m_bBackward = bBackward;
}

void CReadContinuation::ClearTail() {
    m_tail.clear();
}

std::size_t CReadContinuation::Accept(HRESULT hrItem, std::size_t count,
                                      const std::function<SeamValue(std::size_t)>& at) {
    const bool bContinuing = m_nPages > 0 && m_bHaveFrom;
    ++m_nPages;
    m_nLastCount = count;
    m_hrLast = hrItem;
    m_bMore = hrItem == OPC_S_MOREDATA;
    m_bStalled = false;

    // The leading values that repeat what was seen at the continuation point. A server that repeats
    // every value there gives them again in the same order: as many as the page has room for. One
    // that repeats only the last values, or none, matches the end of what was seen, or nothing. A
    // value first seen here is never dropped.
    std::size_t skip = 0;
    if (bContinuing && count > 0 && !m_tail.empty()) {
        const std::size_t k = m_tail.size();
        std::vector<SeamValue> head;  // leading values at the continuation timestamp, at most k
        while (head.size() < count && head.size() < k) {
            SeamValue v = at(head.size());
            if (v.t != m_ftFrom) break;
            head.push_back(v);
        }
        const std::size_t lead = head.size();
        bool prefix = lead > 0;
        for (std::size_t i = 0; i < lead && prefix; ++i) prefix = m_tail[i].Matches(head[i]);
        if (prefix && (lead == k || lead == count)) {
            skip = lead;
        } else {
            for (std::size_t j = lead; j > 0 && skip == 0; --j) {
                bool same = true;
                for (std::size_t i = 0; i < j && same; ++i) same = m_tail[k - j + i].Matches(head[i]);
                if (same) skip = j;
            }
        }
    }

    const std::size_t fresh = count - skip;
    m_nDelivered += fresh;
    if (count == 0 || fresh == 0) {
        // Nothing new: the continuation point and what was seen there stay as they are.
        m_bStalled = m_bMore && bContinuing;
        if (!bContinuing) m_bHaveFrom = false;
        return skip;
    }

    const ULONGLONG last = at(count - 1).t;
    if (bContinuing && m_bDirectionKnown && (m_bBackward ? last > m_ftFrom : last < m_ftFrom)) {
        m_bRegressed = true;
        return skip;
    }

    // The values at the new last timestamp. When this page holds nothing but that timestamp and it
    // is the old continuation point, the values seen there before still count.
    std::size_t runStart = count - 1;
    while (runStart > 0 && at(runStart - 1).t == last) --runStart;
    if (bContinuing && runStart == 0 && last == m_ftFrom) {
        // Keep what was seen there, then add the new values of this page.
        for (std::size_t i = skip; i < count; ++i) m_tail.emplace_back(at(i));
    } else {
        ClearTail();
        m_tail.reserve(count - runStart);
        for (std::size_t i = runStart; i < count; ++i) m_tail.emplace_back(at(i));
    }
    m_ftFrom = last;
    m_bHaveFrom = true;
    return skip;
}

DWORD CReadContinuation::NextCount(DWORD dwRequested) const {
    // A server repeats every value at the continuation timestamp: the page needs room for them and
    // at least one more. A stalled page doubles.
    std::size_t want = dwRequested;
    if (dwRequested != 0) want = std::max<std::size_t>(want, m_tail.size() + 1);
    if (m_bStalled) want = std::max<std::size_t>({want, 2 * m_nLastCount, 2});
    return static_cast<DWORD>(std::min<std::size_t>(want, 0x7FFFFFFF));
}

}  // namespace client

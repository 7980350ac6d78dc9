// Browsing the address space, and the string enumerator browsing hands out.
#include <algorithm>

#include "com/objbase.h"
#include "com/text.h"
#include "servers/simulation/marshal.h"
#include "servers/simulation/server.h"

namespace sim {

SimBrowser::SimBrowser(std::shared_ptr<const AddressSpace> space, std::vector<BrowseFilter> filters,
                       AttributeContext ctx)
    : m_space(std::move(space)), m_filters(std::move(filters)), m_ctx(std::move(ctx)) {}

bool SimBrowser::Passes(const ItemDef& item) const {
    for (const BrowseFilter& f : m_filters) {
        std::optional<Value> v = AttributeValue(item, f.attribute, m_ctx);
        if (!v) return false;  // an item without the attribute matches no filter on it
        int cmp = 0;           // the item's value compared with the filter's: <0, 0, >0
        switch (f.kind) {
            case VT_BSTR: {
                bool match = WildcardMatch(f.text, v->s);
                if (f.op == OPCHDA_EQUAL ? !match : match) return false;
                continue;
            }
            case VT_BOOL: {
                bool same = (v->i != 0) == f.flag;
                if (f.op == OPCHDA_EQUAL ? !same : same) return false;
                continue;
            }
            case VT_CY:
                cmp = v->i < f.ticks ? -1 : (v->i > f.ticks ? 1 : 0);
                break;
            default: {
                double x = ToDouble(*v).value_or(0);
                if (v->vt == VT_CY) x = static_cast<double>(v->i);
                cmp = x < f.number ? -1 : (x > f.number ? 1 : 0);
                break;
            }
        }
        bool ok = false;
        switch (f.op) {
            case OPCHDA_EQUAL:
                ok = cmp == 0;
                break;
            case OPCHDA_LESS:
                ok = cmp < 0;
                break;
            case OPCHDA_LESSEQUAL:
                ok = cmp <= 0;
                break;
            case OPCHDA_GREATER:
                ok = cmp > 0;
                break;
            case OPCHDA_GREATEREQUAL:
                ok = cmp >= 0;
                break;
            case OPCHDA_NOTEQUAL:
                ok = cmp != 0;
                break;
        }
        if (!ok) return false;
    }
    return true;
}

void SimBrowser::Flat(int node, std::vector<std::u16string>& out) const {
    const BrowseNode& n = m_space->nodes()[static_cast<std::size_t>(node)];
    if (n.item >= 0 && Passes(m_space->items()[static_cast<std::size_t>(n.item)])) out.push_back(n.path);
    for (int child : n.children) Flat(child, out);
}

HRESULT SimBrowser::GetEnum(OPCHDA_BROWSETYPE dwBrowseType, IEnumString** ppIEnumString) {
    if (ppIEnumString) *ppIEnumString = nullptr;
    if (!ppIEnumString || dwBrowseType < OPCHDA_BRANCH || dwBrowseType > OPCHDA_ITEMS) return E_INVALIDARG;
    try {
        int position;
        {
            std::lock_guard lock(m_mutex);
            position = m_node;
        }
        auto names = std::make_shared<std::vector<std::u16string>>();
        const BrowseNode& here = m_space->nodes()[static_cast<std::size_t>(position)];
        if (dwBrowseType == OPCHDA_FLAT) {
            Flat(position, *names);
        } else {
            for (int c : here.children) {
                const BrowseNode& child = m_space->nodes()[static_cast<std::size_t>(c)];
                const bool hasChildren = !child.children.empty();
                const bool passes =
                    child.item >= 0 && Passes(m_space->items()[static_cast<std::size_t>(child.item)]);
                // Filters apply to items; branches are listed whatever they hold.
                if ((dwBrowseType == OPCHDA_BRANCH && hasChildren) ||
                    (dwBrowseType == OPCHDA_LEAF && !hasChildren && passes) ||
                    (dwBrowseType == OPCHDA_ITEMS && passes))
                    names->push_back(child.name);
            }
        }
        const bool empty = names->empty();
        *ppIEnumString = new StringEnum(std::move(names));
        return empty ? S_FALSE : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT SimBrowser::ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
    try {
        const auto arg = com::AsU16(szString);
        std::lock_guard lock(m_mutex);
        const BrowseNode& here = m_space->nodes()[static_cast<std::size_t>(m_node)];
        switch (dwBrowseDirection) {
            case OPCHDA_BROWSE_UP:
                if (here.parent < 0) return E_FAIL;  // already at the root
                m_node = here.parent;
                return S_OK;
            case OPCHDA_BROWSE_DOWN:
                for (int c : here.children) {
                    const BrowseNode& child = m_space->nodes()[static_cast<std::size_t>(c)];
                    if (child.name == arg && !child.children.empty()) {
                        m_node = c;
                        return S_OK;
                    }
                }
                return E_FAIL;
            case OPCHDA_BROWSE_DIRECT: {
                int n = m_space->FindNode(arg);
                if (n < 0 || (n != 0 && m_space->nodes()[static_cast<std::size_t>(n)].children.empty()))
                    return E_FAIL;
                m_node = n;
                return S_OK;
            }
            default:
                return E_INVALIDARG;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT SimBrowser::GetItemID(LPCWSTR szNode, LPWSTR* pszItemID) {
    if (pszItemID) *pszItemID = nullptr;
    if (!szNode || !pszItemID) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    const auto name = com::AsU16(szNode);
    for (int c : m_space->nodes()[static_cast<std::size_t>(m_node)].children) {
        const BrowseNode& child = m_space->nodes()[static_cast<std::size_t>(c)];
        if (child.name == name && child.item >= 0) {
            *pszItemID = TaskString(child.path);
            return *pszItemID ? S_OK : E_OUTOFMEMORY;
        }
    }
    return E_FAIL;
}

HRESULT SimBrowser::GetBranchPosition(LPWSTR* pszBranchPos) {
    if (!pszBranchPos) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    *pszBranchPos = TaskString(m_space->nodes()[static_cast<std::size_t>(m_node)].path);
    return *pszBranchPos ? S_OK : E_OUTOFMEMORY;
}

// ---- IEnumString ----

HRESULT StringEnum::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (!rgelt || (celt > 1 && !pceltFetched)) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    ULONG fetched = 0;
    while (fetched < celt && m_pos + fetched < m_strings->size()) {
        rgelt[fetched] = TaskString((*m_strings)[m_pos + fetched]);
        if (!rgelt[fetched]) {
            for (ULONG k = 0; k < fetched; ++k) {
                CoTaskMemFree(rgelt[k]);
                rgelt[k] = nullptr;
            }
            return E_OUTOFMEMORY;
        }
        ++fetched;
    }
    m_pos += fetched;
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT StringEnum::Skip(ULONG celt) {
    std::lock_guard lock(m_mutex);
    std::size_t left = m_strings->size() - m_pos;
    std::size_t n = std::min<std::size_t>(celt, left);
    m_pos += n;
    return n == celt ? S_OK : S_FALSE;
}

HRESULT StringEnum::Reset() {
    std::lock_guard lock(m_mutex);
    m_pos = 0;
    return S_OK;
}

HRESULT StringEnum::Clone(IEnumString** ppenum) {
    if (!ppenum) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    try {
        *ppenum = new StringEnum(m_strings, m_pos);
        return S_OK;
    } catch (const std::bad_alloc&) {
        *ppenum = nullptr;
        return E_OUTOFMEMORY;
    }
}

}  // namespace sim

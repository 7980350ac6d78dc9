#include "client/items.h"

#include <algorithm>

#include "com/ownership.h"

namespace client {

namespace {

DWORD Count(std::size_t n) {
    return static_cast<DWORD>(std::min<std::size_t>(n, 0xFFFFFFFFu));
}

// The item IDs of one call: task-memory copies and the array pointing at them.
class ItemIdArgs {
public:
    bool Make(std::span<const std::u16string> ids) {
        m_copies.clear();
        m_pointers.clear();
        m_copies.reserve(ids.size());
        for (const std::u16string& id : ids) {
            com::TaskMem<WCHAR[]> p = com::TaskMemStrDup(id);
            if (!p) return false;
            m_pointers.push_back(p.get());
            m_copies.push_back(std::move(p));
        }
        return true;
    }
    LPWSTR* Get() { return m_pointers.data(); }

private:
    std::vector<com::TaskMem<WCHAR[]>> m_copies;
    std::vector<LPWSTR> m_pointers;
};

}  // namespace

ValidateOutcome ValidateItemIDs(IOPCHDA_Server* pServer, std::span<const std::u16string> ids) {
    ValidateOutcome out;
    if (!pServer || ids.empty()) return out;
    ItemIdArgs args;
    if (!args.Make(ids)) {
        out.message = AddItemsOutOfMemory();
        return out;
    }
    const DWORD n = Count(ids.size());
    com::Received<HRESULT> errors;
    out.called = true;
    out.hr = pServer->ValidateItemIDs(n, args.Get(), errors.Out());
    if (FAILED(out.hr)) return out;
    // One code per entry, in order; no further than the server's array reaches.
    errors.Claim(n);
    out.codes.assign(errors.view().begin(), errors.view().end());
    return out;
}

HandlesOutcome GetItemHandles(IOPCHDA_Server* pServer, std::span<const std::u16string> ids) {
    HandlesOutcome out;
    if (!pServer || ids.empty()) return out;
    ItemIdArgs args;
    if (!args.Make(ids)) {
        out.message = AddItemsOutOfMemory();
        return out;
    }
    const DWORD n = Count(ids.size());
    std::vector<OPCHANDLE> phClient(n, 0);
    com::Received<OPCHANDLE> phServer;
    com::Received<HRESULT> errors;
    out.called = true;
    out.hr = pServer->GetItemHandles(n, args.Get(), phClient.data(), phServer.Out(), errors.Out());
    if (FAILED(out.hr)) return out;
    phServer.Claim(n);
    errors.Claim(n);
    out.handles.assign(phServer.view().begin(), phServer.view().end());
    out.errors.assign(errors.view().begin(), errors.view().end());
    return out;
}

}  // namespace client

#include "client/readnext.h"

#include <utility>

#include "client/csvexport.h"
#include "com/text.h"

namespace client {

namespace {

ULONGLONG Ticks(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
FILETIME FromTicks(ULONGLONG t) {
    return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

// Takes a reply for one item and says how many leading values repeat the previous page.
std::size_t AcceptPage(CReadContinuation& cont, HRESULT hr, const OPCHDA_ITEM& record) {
    const RecordView v = ViewOf(record);
    return cont.Accept(hr, v.count, [&v](std::size_t i) {
        SeamValue s;
        s.t = Ticks(v.t[i]);
        s.quality = v.q[i];
        s.value = &v.v[i];
        return s;
    });
}

}  // namespace

CReadNext::CReadNext(PagedReadArgs args, const ReadOutcome& first) : m_args(std::move(args)) {
    const bool bRaw = m_args.kind == PagedReadArgs::Kind::Raw;
    const bool bStart = bRaw ? m_args.startInUse : true;
    const bool bEnd = bRaw ? m_args.endInUse : true;
    // Later pages read the domain the server resolved on the first: a relative time such as NOW
    // would move otherwise.
    std::optional<FILETIME> start, end;
    if (bStart && Ticks(first.ftStartAfter) != 0) start = first.ftStartAfter;
    if (bEnd && Ticks(first.ftEndAfter) != 0) end = first.ftEndAfter;
    const ResultSet& rs = first.results;
    const DWORD n = std::min<DWORD>(rs.Count(), static_cast<DWORD>(m_args.handles.size()));
    for (DWORD i = 0; i < n; ++i) {
        Item it{CReadContinuation(bStart, bEnd), start, end, m_args.maxValues, false};
        if (start && end)
            it.cont.SetBackward(Ticks(*end) < Ticks(*start));
        else if (!bStart && bEnd)
            it.cont.SetBackward(true);
        else if (bStart && !bEnd)
            it.cont.SetBackward(false);
        if (rs.Values() && rs.Errors()) {
            AcceptPage(it.cont, rs.Errors()[i], rs.Values()[i]);
            it.more = it.cont.HasMore();
        }
        m_items.push_back(std::move(it));
    }
}

bool CReadNext::HasMore() const {
    for (const Item& it : m_items)
        if (it.more) return true;
    return false;
}

bool CReadNext::HasMore(std::size_t i) const {
    return i < m_items.size() && m_items[i].more;
}

FILETIME CReadNext::ContinueFrom(std::size_t i) const {
    return i < m_items.size() ? FromTicks(m_items[i].cont.ContinueFrom()) : FILETIME{0, 0};
}

std::optional<Message> CReadNext::Next(IOPCHDA_SyncRead* pSyncRead, ResultSet& results) {
    if (!pSyncRead) return std::nullopt;
    const bool bRaw = m_args.kind == PagedReadArgs::Kind::Raw;
    std::optional<Message> problem;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        Item& it = m_items[i];
        if (!it.more) continue;
        // The side that moves starts at the last timestamp received; the other keeps its moment.
        const DWORD ask = bRaw ? it.cont.NextCount(m_args.maxValues) : 0;
        std::optional<FILETIME>& moving = it.cont.MovesStart() ? it.start : it.end;
        const std::optional<FILETIME> keep = moving;
        moving = ContinueFrom(i);
        const TimeArg start{m_args.startText, bRaw ? m_args.startInUse || it.start.has_value() : true,
                            it.start};
        const TimeArg end{m_args.endText, bRaw ? m_args.endInUse || it.end.has_value() : true, it.end};
        const OPCHANDLE h[1] = {m_args.handles[i]};
        ReadOutcome r;
        if (bRaw) {
            r = ReadRaw(pSyncRead, start, end, ask, m_args.bounds, h, m_args.basis);
        } else {
            const DWORD agg[1] = {i < m_args.aggregates.size() ? m_args.aggregates[i] : 0};
            r = ReadProcessed(pSyncRead, start, end, m_args.resampleInterval, h, agg, m_args.basis);
        }
        if (!r.HasResults() || r.results.Count() < 1) {
            moving = keep;  // asked again next time from the same point
            return r.message ? r.message : std::optional<Message>(OutOfMemory());
        }
        const HRESULT code = r.results.Errors()[0];
        const std::size_t skip = AcceptPage(it.cont, code, r.results.Values()[0]);
        const unsigned nItem = static_cast<unsigned>(i + 1);
        it.more = !FAILED(code) && !it.cont.Regressed() && it.cont.HasMore();
        bool bStuck = false;
        if (it.more && it.cont.Stalled() && (!bRaw || it.cont.NextCount(m_args.maxValues) <= ask)) {
            it.more = false;
            bStuck = true;
            if (!problem)
                problem = Message{com::FormatW(
                    u"Item %u: the server repeats the same page and cannot be read further.", {nItem})};
        }
        if (it.cont.Regressed() && !problem)
            problem = Message{com::FormatW(
                u"Item %u: the server's page ran back before the point it continued from.", {nItem})};
        // Once every page was read the item's outcome is no longer "more data".
        const HRESULT shown = code == OPC_S_MOREDATA && !it.more && !bStuck ? S_OK : code;
        if (!results.Append(static_cast<DWORD>(i), r.results.Values()[0], skip, shown)) {
            it.more = false;  // what this page brought is gone: continuing would leave a hole
            return OutOfMemory();
        }
    }
    return problem;
}

}  // namespace client

// ReadRaw over one item's history (HDA 1.20 standard §4.4.3.1, §2.7, §2.8 with errata 1).
#pragma once

#include <vector>

#include "servers/simulation/engine/series.h"

namespace sim {

// The time domain of a raw or modified read: which samples, in which order. Built from the given
// start and end (either may be missing, not both).
struct Domain {
    bool single = false;    // start == end: only a sample exactly at that instant
    bool backward = false;  // newest first
    Ticks lo = 0, hi = 0;   // closed range of instants in the domain
    Ticks nearT = 0;        // where the read begins (start, or end for the end + count form)
    bool hasFar = false;    // both times given: the read ends at farT
    Ticks farT = 0;
};
// start < end: [start, end) forward; end < start: (end, start] backward; start only: from start
// forward to the end of history; end only: from end (included) backward to the beginning.
Domain MakeDomain(const std::optional<Ticks>& start, const std::optional<Ticks>& end);

struct RawQuery {
    std::optional<Ticks> start, end;
    DWORD numValues = 0;  // 0: all, up to the cap
    bool bounds = false;
};

struct ItemResult {
    HRESULT code = S_OK;
    std::vector<Sample> samples;  // qualities as returned: DA quality | OPCHDA_RAW, or placeholders
};

// The caller has checked that two of start, end and numValues are given. `cap` limits the entries
// when numValues is 0. Bounds count towards the number of values; a missing bound is a VT_EMPTY
// placeholder with OPCHDA_NOBOUND at the requested instant. OPC_S_MOREDATA when anything (a bound
// included) was left out; OPC_S_NODATA, with no entries, when the domain holds nothing and no bound
// exists (or bounds were not asked for).
ItemResult ReadRaw(Series& series, const RawQuery& query, std::size_t cap);

}  // namespace sim

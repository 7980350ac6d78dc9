// A history with the ReadRaw rules of the HDA 1.20 standard (4.4.3.1 with errata 1), for the tests of
// paged reads: several values may share a timestamp, and a read that continues from a timestamp
// repeats every value stored there.
#pragma once

#include <algorithm>
#include <optional>
#include <ostream>
#include <vector>

#include "hda/opchda.h"

namespace tooltest {

struct Sample {
    ULONGLONG t = 0;
    double v = 0;
    DWORD q = OPC_QUALITY_GOOD | OPCHDA_RAW;
    bool operator==(const Sample&) const = default;
};
inline void PrintTo(const Sample& s, std::ostream* os) {
    *os << "{" << s.t << ", " << s.v << ", " << s.q << "}";
}

struct ModelPage {
    HRESULT code = S_OK;
    std::vector<Sample> values;
};

// Reads `history` (sorted by time; equal times keep their order) from start towards end, at most n
// values (0: no limit), with bounds when asked; a missing bound is VT_EMPTY-like: v = -1, quality
// OPCHDA_NOBOUND. Only the end given: backwards from it, the value at the end included.
inline ModelPage ModelReadRaw(const std::vector<Sample>& history, std::optional<ULONGLONG> start,
                              std::optional<ULONGLONG> end, DWORD n, bool bounds) {
    ModelPage p;
    const bool backward = (start && end && *end < *start) || (!start && end);
    std::vector<Sample> domain;
    std::optional<Sample> nearBound, farBound;
    const ULONGLONG nearT = start ? *start : *end;
    for (const auto& s : history) {
        bool in;
        if (start && end)
            in = backward ? (s.t > *end && s.t <= *start) : (s.t >= *start && s.t < *end);
        else if (start)
            in = s.t >= *start;
        else
            in = s.t <= *end;
        if (in) domain.push_back(s);
    }
    if (backward) std::reverse(domain.begin(), domain.end());
    if (bounds) {
        // The value at the near instant is the domain's first; otherwise the nearest one outside.
        bool atNear = !domain.empty() && domain.front().t == nearT;
        if (!atNear) {
            for (const auto& s : history)
                if (backward ? s.t > nearT : s.t < nearT) {
                    if (backward ? !nearBound : true) nearBound = s;
                    if (backward) break;
                }
            if (!nearBound) nearBound = Sample{nearT, -1, OPCHDA_NOBOUND};
        }
        if (start && end) {
            const ULONGLONG farT = *end;
            for (const auto& s : history) {
                bool beyond = backward ? s.t <= farT : s.t >= farT;
                if (!beyond) continue;
                if (backward)
                    farBound = s;  // the last at or before the end
                else if (!farBound)
                    farBound = s;  // the first at or after the end
            }
            if (!farBound) farBound = Sample{farT, -1, OPCHDA_NOBOUND};
        }
    }
    std::vector<Sample> all;
    if (nearBound) all.push_back(*nearBound);
    all.insert(all.end(), domain.begin(), domain.end());
    if (farBound) all.push_back(*farBound);
    if (n != 0 && all.size() > n) {
        all.resize(n);
        p.code = OPC_S_MOREDATA;
    } else if (domain.empty() && !nearBound && !farBound) {
        p.code = OPC_S_NODATA;
    }
    p.values = std::move(all);
    return p;
}

}  // namespace tooltest

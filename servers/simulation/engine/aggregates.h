// ReadProcessed (HDA 1.20 standard §4.4.3.2, §2.9 with errata 1, 2 and 7) and ReadAtTime
// (§4.4.3.3, errata 2) over one item's history.
//
// Policies where the standard leaves the choice to the server:
// - Interpolation is linear between the nearest Good values around the instant, or the earlier
//   value for stepped items (and for text and boolean items, which are always stepped). Non-Good
//   values are skipped and make the result Uncertain (sub-normal). Nothing is extrapolated
//   backwards (no earlier Good value: VT_EMPTY with OPCHDA_NODATA); forwards the last Good value
//   is held, Uncertain.
// - Value aggregates use Good values only; Uncertain and Bad values are skipped and make the result
//   Uncertain (sub-normal). An interval with no Good value gives VT_EMPTY with OPCHDA_NODATA
//   (COUNT gives 0; the duration and percentage aggregates are always computed).
// - Backward reads (end before start): each interval holds (t − interval, t] and is stamped with
//   its later end t, where it begins; START and END still mean the earliest and latest values.
// - STDEV and VARIANCE are those of a sample (n − 1); 0 for a single value. REGSLOPE is in value
//   units per second; REGCONST is the fitted line's value at the interval's stamp; REGDEV is the
//   standard error of the fit, √(Σresidual² / (n − 2)), 0 for two values or fewer.
// - MIN/MAX ACTUAL TIME keep the oldest of equal values.
// - PERCENTGOOD/PERCENTBAD are fractions (1.0 is the whole interval); durations are in seconds.
// - WORSTQUALITY returns the worst DA quality word (Bad < Uncertain < Good; the first of equals)
//   as VT_I4.
// - An uneven last interval, and every interval that begins before the item's first Good value, is
//   flagged OPCHDA_PARTIAL, on calculated results only.
#pragma once

#include <span>

#include "servers/simulation/engine/rawread.h"

namespace sim {

struct ItemTraits {
    VARTYPE vt = VT_R8;
    bool stepped = false;
};

struct AggregateInfo {
    DWORD id;
    const char16_t* name;
    const char16_t* description;
};

// The aggregates GetAggregates lists (ids 1 to 23).
std::span<const AggregateInfo> Aggregates();
bool IsKnownAggregate(DWORD id);
// Whether an aggregate can be computed for values of this type (text items have no numbers).
bool AggregateFitsType(DWORD id, VARTYPE vt);

// The value at one instant: the Good raw value there (OPCHDA_RAW), else interpolated
// (OPCHDA_INTERPOLATED), else VT_EMPTY with OPCHDA_NODATA.
Sample ValueAtTime(Series& series, const ItemTraits& traits, Ticks t);
// One entry per instant, in the order given; OPC_S_NODATA when no instant has a value.
ItemResult ReadAtTime(Series& series, const ItemTraits& traits, std::span<const Ticks> times);

// How many intervals ReadProcessed produces (start != end).
std::uint64_t IntervalCount(Ticks start, Ticks end, Ticks interval);

// One entry per interval, in the order of the read. The aggregate must be known and fit the type.
ItemResult ReadProcessed(Series& series, const ItemTraits& traits, DWORD aggregate, Ticks start, Ticks end,
                         Ticks interval);

}  // namespace sim

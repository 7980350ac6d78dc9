// Relative time strings of the HDA 1.20 standard (§5.3.4): keyword { [sign] integer unit }.
#pragma once

#include <string_view>

#include "servers/simulation/engine/types.h"

namespace sim {

enum class RelTimeStatus {
    Ok,
    Empty,    // the string is empty (or only white space): the time is not given
    Invalid,  // not readable, or the result lies outside [0, kMaxTicks]
};

// Resolves a relative time string against `now` (UTC ticks).
//   Keywords NOW, SECOND, MINUTE, HOUR, DAY, WEEK, MONTH, YEAR truncate now in UTC; a week starts
//   on Sunday. MO is accepted as a keyword meaning MONTH.
//   Offsets in S, M, H, D, W, MO, Y; an offset without a sign takes the sign of the previous one
//   (+ for the first). Month and year offsets move the calendar date in one step and clamp the day
//   to the last of the month; the others are exact durations.
//   White space is ignored anywhere; keywords and units are accepted in either letter case.
RelTimeStatus ParseRelativeTime(std::u16string_view text, Ticks now, Ticks* result);

}  // namespace sim

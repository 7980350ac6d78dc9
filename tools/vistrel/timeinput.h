// The times an engineer types on the command line:
//   the client's time text, local:      2024/01/01 05:00:00.000  (seconds and milliseconds optional)
//   the HDA 1.20 standard's relative:   NOW-1H, DAY+8H, MONTH-1D  (passed to the server as text)
//   ISO 8601 with Z or an offset:       2024-01-01T05:00:00Z, 2024-01-01T06:00:00.5+01:00
//   seconds since 1970 (UTC):           1704085200, 1704085200.25, @1704085200
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hda/opchda.h"

namespace vistrel {

struct TimeInput {
    enum class Kind { Utc, Local, Relative };
    Kind kind = Kind::Utc;
    ULONGLONG utcTicks = 0;  // Utc
    SYSTEMTIME local{};      // Local: calendar fields of a local moment, to be read in the output's basis
    std::u16string text;     // Relative: the text as typed (trimmed)
};

// Reads one time; std::nullopt with *pError set when the text is none of the forms above, or names
// a calendar moment that does not exist or lies outside 1601..30827.
std::optional<TimeInput> ParseTimeInput(std::string_view text, std::string* pError);

// Whether the text has the form of a relative time: a keyword (NOW SECOND MINUTE HOUR DAY WEEK MONTH
// YEAR, any letter case) and any number of offsets, each a sign, digits and a unit (S M H D W MO Y).
bool IsRelativeTime(std::string_view text);

// A duration: a number with a unit (ms, s, m/min, h, d, w), or several ("1h30m"), or hh:mm:ss[.fff].
// In 100-nanosecond ticks; std::nullopt when unreadable or outside 64 bits.
std::optional<ULONGLONG> ParseDuration(std::string_view text);

}  // namespace vistrel

// The text form of a timestamp. Result codes, qualities and values have theirs as static members of
// COutputPane (outputpane.h).
#pragma once

#include <QString>

#include "com/types.h"

// Local date and time of a UTC FILETIME, "yyyy/mm/dd hh:mm:ss.mmm" (24-hour clock, sub-millisecond
// ticks truncated). The bias in force now applies to every instant. A time that cannot be turned into
// calendar fields (above 0x7FFFFFFFFFFFFFFF, or before 1601 after the local shift) gives
// kInvalidTimestampText followed by the raw UTC value in hexadecimal.
QString FormatTimestamp(FILETIME ftUtc);

inline constexpr char16_t kInvalidTimestampText[] = u"Invalid time 0x";

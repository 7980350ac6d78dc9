// Time texts: the one formatter and the one scanner between FILETIMEs and what the user reads and
// types, and the OPCHDA_TIME records built from a typed text.
//
// A time text is a moment written "%04i/%02i/%02i %02i:%02i:%02i.%03i" (2009/02/24 13:05:07.250). Which
// clock it is read on is the basis: by default the local time with the offset in force now applied
// to every instant (as the runtime's FileTimeToLocalFileTime does), or the offset in force at each
// instant, or UTC.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "com/types.h"
#include "hda/hdatime.h"

namespace client {

enum class TimeBasis {
    LocalCurrentBias,  // the offset in force now, for every instant
    LocalAtInstant,    // the offset in force at the instant shown
    Utc,
};

// The wall-clock FILETIME of a UTC instant on the basis; false when the shift leaves the range.
bool UtcToDisplay(FILETIME ftUtc, TimeBasis basis, FILETIME* pShown);
// The way back; false when the result leaves the range.
bool DisplayToUtc(FILETIME ftShown, TimeBasis basis, FILETIME* pUtc);
// The calendar fields of a UTC instant on the basis; false when it has none.
bool UtcToDisplaySystemTime(ULONGLONG utcTicks, SYSTEMTIME* pShown,
                            TimeBasis basis = TimeBasis::LocalCurrentBias);

// Reads a time text with "%04hu/%02hu/%02hu %02hu:%02hu:%02hu.%03hu". True only when all seven fields
// were read, they form a valid calendar moment and the moment can be moved to UTC on the basis;
// *pftUtc is written only then.
bool TimeTextToFileTime(std::u16string_view strTime, FILETIME* pftUtc,
                        TimeBasis basis = TimeBasis::LocalCurrentBias);

// Writes a time text. The fields are printed as given (a picker without a value gives -1 for each).
std::u16string FormatTimeText(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                              int nMilliseconds);

// The record of a time argument, or an empty one when memory runs out (nothing left allocated then):
//   not in use:            bString TRUE,  szTime "" (a new string), ftTime 0
//   in use, a valid time:  bString FALSE, szTime null, ftTime the UTC moment
//   in use, anything else: bString TRUE,  szTime a new copy of the text, ftTime 0
hda::HdaTimeArg BuildHdaTime(std::u16string_view strTime, bool bInUse,
                             TimeBasis basis = TimeBasis::LocalCurrentBias);

// ---- The formatter ----

inline constexpr char16_t kInvalidTimestampText[] = u"Invalid time 0x";

// Room for any text WriteTimestamp writes.
inline constexpr std::size_t kMaxTimestampChars = 40;

// "yyyy/mm/dd hh:mm:ss.mmm" (24-hour clock, sub-millisecond ticks truncated) of a UTC FILETIME on the
// basis. A time that cannot be turned into calendar fields (above 0x7FFFFFFFFFFFFFFF, or before 1601
// after the shift) gives kInvalidTimestampText followed by the raw UTC value in hexadecimal. Writes
// into out (at least kMaxTimestampChars) and returns the length: no allocation, for lists of many rows.
std::size_t WriteTimestamp(FILETIME ftUtc, TimeBasis basis, char16_t* out);

// The same formatter for many rows: the offset in force now is taken once, when it is made, so a
// list of rows asks the clock once rather than for every row. Make one per page or per list.
// The ISO 8601 form for files that other programs read: "yyyy-mm-ddThh:mm:ss.mmm+hh:mm", the offset
// being the one the basis applied to that instant ("Z" on UTC), so that every text names one instant.
class CTimestampWriter {
public:
    enum class Form { Display, Iso8601 };
    explicit CTimestampWriter(TimeBasis basis, Form form = Form::Display);
    std::size_t Write(FILETIME ftUtc, char16_t* out) const;

private:
    TimeBasis m_basis;
    Form m_form;
    LONG m_currentBias = 0;  // for TimeBasis::LocalCurrentBias
};
std::u16string FormatTimestamp(FILETIME ftUtc, TimeBasis basis = TimeBasis::LocalCurrentBias);

// The short form of the Server Status dialog: "mm/dd/yy hh:mm:ss" (no milliseconds). A time with no
// calendar form on the basis, or before 1900 (whose two-digit year would read as another century),
// gives kInvalidTimestampText followed by the raw value in hexadecimal.
std::u16string FormatShortTimestamp(FILETIME ftUtc, TimeBasis basis = TimeBasis::LocalCurrentBias);

// An offset from UTC as "UTC+01:00" or "UTC−05:00" (a minus sign) of a bias (local = UTC - bias).
std::u16string FormatUtcOffset(LONG biasMinutes);
// The basis in force with the offset in force now, as the status bar shows it: "Local, UTC−05:00 now",
// "Local (offset of each instant), UTC+01:00 now", "UTC".
std::u16string TimeBasisText(TimeBasis basis);

}  // namespace client

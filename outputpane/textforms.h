// The text forms the output pane shows, as QStrings over the client core's forms (client/textforms.h,
// client/timetext.h). Result codes, qualities and values have theirs as static members of
// COutputPane (outputpane.h).
#pragma once

#include <QString>

#include "client/timetext.h"
#include "com/types.h"

// Date and time of a UTC FILETIME, "yyyy/mm/dd hh:mm:ss.mmm", on a time basis (by default local time
// with the bias in force now applied to every instant). See client::WriteTimestamp.
QString FormatTimestamp(FILETIME ftUtc, client::TimeBasis basis = client::TimeBasis::LocalCurrentBias);
// The same for many rows: the offset in force now is taken once, when the writer was made.
QString FormatTimestamp(FILETIME ftUtc, const client::CTimestampWriter& writer);

inline constexpr const char16_t* kInvalidTimestampText = client::kInvalidTimestampText;

// The text forms the output pane shows, as QStrings over the client core's forms (client/textforms.h,
// client/timetext.h). Result codes, qualities and values have theirs as static members of
// COutputPane (outputpane.h).
#pragma once

#include <QString>

#include "client/timetext.h"
#include "com/types.h"

// Local date and time of a UTC FILETIME, "yyyy/mm/dd hh:mm:ss.mmm", on the display's time basis (the
// bias in force now applies to every instant). See client::WriteTimestamp.
QString FormatTimestamp(FILETIME ftUtc);

inline constexpr const char16_t* kInvalidTimestampText = client::kInvalidTimestampText;

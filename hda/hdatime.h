// Time texts and the OPCHDA_TIME records the reads pass to a server.
//
// A time text is a local moment written "%04i/%02i/%02i %02i:%02i:%02i.%03i" (2009/02/24 13:05:07.250).
// A text that reads back as a valid calendar moment travels as a UTC FILETIME; any other text (a
// relative time such as "NOW", or 2009/02/30) travels as an HDA time string for the server to judge.
#pragma once

#include <string>
#include <string_view>

#include "hda/opchda.h"

namespace hda {

// Reads a time text with "%04hu/%02hu/%02hu %02hu:%02hu:%02hu.%03hu". True only when all seven fields
// were read, they form a valid calendar moment and the moment can be moved to UTC with the bias in
// force now; *pftUtc is written only then.
bool TimeTextToFileTime(std::u16string_view strTime, FILETIME* pftUtc);

// A new record from CoTaskMemAlloc, or null when memory runs out (nothing is left allocated then).
//   not in use:            bString TRUE,  szTime "" (a new string), ftTime 0
//   in use, a valid time:  bString FALSE, szTime null, ftTime the UTC moment
//   in use, anything else: bString TRUE,  szTime a new copy of the text, ftTime 0
// Release it with ReleaseHdaTime.
OPCHDA_TIME* BuildHdaTime(std::u16string_view strTime, bool bInUse);

// Releases a record from BuildHdaTime: its string when bString is set, then the record. Null is fine.
void ReleaseHdaTime(OPCHDA_TIME* pTime);

// Writes a time text. The fields are printed as given (a picker without a value gives -1 for each).
std::u16string FormatTimeText(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                              int nMilliseconds);

// The local moment of a UTC FILETIME with the bias in force now (the way back of TimeTextToFileTime,
// for the pickers' defaults). False when the instant has no calendar form.
bool UtcToLocalSystemTime(ULONGLONG utcTicks, SYSTEMTIME* pLocal);

}  // namespace hda

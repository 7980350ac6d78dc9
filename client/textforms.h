// The text forms of HDA data: result codes, qualities, values and server states. (Times: timetext.h.)
//
// Result codes and qualities are shown once per cell of lists that may hold 100,000 rows: their
// names are views of constant data, so nothing is allocated except for the rare unknown code.
#pragma once

#include <string>
#include <string_view>

#include "com/oleauto.h"
#include "com/types.h"

namespace client {

// The name of a known result code ("OK", "No Data", ...); empty for any other code.
std::u16string_view ResultCodeName(HRESULT hr);
// The name, or "Unknown Error code : 0x%X" for a code without one.
std::u16string FormatResultCode(HRESULT hr);

// "Good, Non-specific", "Bad, Sensor Failure (Low Limited) : Raw", ...; never fails.
std::u16string_view FormatQuality(DWORD dwQuality);

// The text of a value: strings as they are, numbers and Booleans converted by VariantChangeType,
// "Ack - Date", "Ack - Error value", "Unknown" for other types, "Conversion failed : 0x%X" when a
// conversion fails. The caller keeps the value; other types are converted on a copy.
std::u16string FormatVariant(const VARIANT& value);

// The text of a server state (Server Status); empty for a value outside 1..3.
std::u16string_view ServerStateText(int nState);

}  // namespace client

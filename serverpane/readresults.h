// Releasing what a history read returned: the records, the arrays inside each record and the
// contents of their VARIANTs.
//
// A record array holds as many records as the client passed handles (or attribute ids); the arrays
// inside a record hold dwCount (dwNumValues) entries. A server may claim more than it allocated, so
// every array is read no further than its task-memory block reaches. Records beyond the requested
// count are not part of the answer and are not looked at. An array that two records share is released
// once.
#pragma once

#include "hda/opchda.h"

namespace readresults {

// Releases entries 0 .. nRecords-1 (at most as many as the block holds) with their timestamps,
// qualities and values, then the array itself. Null is fine.
void ReleaseItemValues(OPCHDA_ITEM* pValues, DWORD nRecords);

// The same for the records of ReadAttribute: their timestamps and values, then the array.
void ReleaseAttributeValues(OPCHDA_ATTRIBUTE* pValues, DWORD nRecords);

}  // namespace readresults

// The rows an update takes from a file or standard input: CSV (RFC 4180, UTF-8), one entry a row,
// item,timestamp,value[,quality].
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "tools/vistrel/timeinput.h"

namespace vistrel {

struct UpdateRow {
    std::size_t line = 0;  // where it started, for messages
    std::string item;
    TimeInput time;
    std::string value;
    DWORD quality = 0xC0;
};

// The fields of the next CSV record (quoted fields may hold commas, quotes and line breaks); false at
// the end of input. *pLine counts lines read so far. Throws std::runtime_error for an unterminated quote.
bool ReadCsvRecord(std::istream& in, std::vector<std::string>* pFields, std::size_t* pLine);

// A quality: Good, Uncertain, Bad (and any other word: 0, as the desktop client writes it), or a
// number in decimal or 0x hexadecimal.
DWORD ParseQuality(const std::string& text);

// Every row of the input; a first row whose timestamp field does not read as a time and whose first
// field is "item" (any letter case) names the columns and is skipped. Throws std::runtime_error naming
// the line for a row that cannot be read: nothing is written then.
std::vector<UpdateRow> ReadUpdateRows(std::istream& in);

}  // namespace vistrel

// Value rows as CSV (RFC 4180, UTF-8, CRLF line ends), one layout for every writer of value reads: the
// command-line client's --format csv and the desktop client's Export write the same bytes for the
// same result. The columns are the item, the timestamp (ISO 8601 with its offset, on a time basis the
// heading names), the value, the quality word and the quality's text, and the item's result code and
// its text. An item without values still has a row: its item and result, the other cells empty.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "client/csvfield.h"
#include "client/timetext.h"
#include "hda/opchda.h"

namespace client {

// "0x%08X".
std::string Hex8(DWORD v);
// The text of a result code: the HDA and OPC codes by the client's texts, the COM codes a caller meets
// by their usual texts.
std::string ResultCodeText(HRESULT hr);

// The headings of the result columns that end every row of an item's values.
inline constexpr const char* kResultColumnNames[2] = {"code", "code text"};

// Rows of fields separated by commas, each line ended by CRLF. Short cells that repeat from row to row
// (the item, the quality and its text) are escaped once.
class CCsvRows {
public:
    void Row(std::string& out, const std::string_view* cells, std::size_t count);

private:
    struct Cell {
        std::string raw, escaped;
    };
    std::vector<Cell> m_last;
};

// The heading of a time column: "timestamp (UTC)", "timestamp (local, offset of each instant)" or
// "timestamp (local, UTC+02:00 now)" (the offset in force when it is asked).
std::string TimeColumnName(std::string_view name, TimeBasis basis);
// The headings of value rows on a basis.
std::vector<std::string> ValueColumnNames(TimeBasis basis);

// The cells of value rows, UTF-8: the time text on the basis, the value's text, the quality word and
// the quality's text; and of a result, its code and text. The buffers keep their room from row to row.
class CValueCells {
public:
    explicit CValueCells(TimeBasis basis, CTimestampWriter::Form form = CTimestampWriter::Form::Iso8601)
        : m_stamp(basis, form) {}
    void Set(const FILETIME& t, DWORD quality, const VARIANT& value);
    void SetResult(HRESULT hr);

    std::string ts, value;
    std::string_view qualityWord, qualityText;
    std::string resultCode, resultText;

private:
    struct Quality {
        std::string word, text;
    };
    CTimestampWriter m_stamp;
    std::unordered_map<DWORD, Quality> m_qualities;
};

// The values of one record, bounded by what the server really allocated.
struct RecordView {
    DWORD count = 0;  // rows that may be read
    DWORD claimed = 0;
    const FILETIME* t = nullptr;
    const DWORD* q = nullptr;
    const VARIANT* v = nullptr;
};
RecordView ViewOf(const OPCHDA_ITEM& record);

// A value read's result set as CSV: the heading line, then every value of every item in item order,
// written a part at a time so that a caller can show progress and stop.
class CResultSetCsv {
public:
    // `itemIds`[i] names record i; records beyond it are written under an empty item. `pErrors` (may be
    // null) holds each record's result.
    CResultSetCsv(const OPCHDA_ITEM* pValues, const HRESULT* pErrors, DWORD dwRecords,
                  std::vector<std::u16string> itemIds, TimeBasis basis);
    // Every row the set gives: its values, and one for each item without values.
    std::size_t TotalRows() const { return m_total; }
    std::size_t RowsWritten() const { return m_written; }
    // Appends the heading (first call) and up to `maxRows` rows; false once everything is written.
    bool Next(std::string& out, std::size_t maxRows);

private:
    const OPCHDA_ITEM* m_pValues;
    const HRESULT* m_pErrors;
    DWORD m_dwRecords;
    std::vector<std::string> m_items;
    TimeBasis m_basis;
    CValueCells m_cells;
    CCsvRows m_rows;
    std::size_t m_total = 0, m_written = 0;
    bool m_bHeader = false;
    DWORD m_record = 0;
    DWORD m_row = 0;
};

}  // namespace client

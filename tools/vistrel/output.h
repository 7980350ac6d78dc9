// The three output forms: an aligned table for people, CSV (RFC 4180, UTF-8, CRLF) and JSON. Rows
// stream through: CSV and JSON write each row as it comes, the table measures its columns on the
// first rows and keeps those widths. Output is buffered and written in large blocks.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/csvexport.h"

namespace vistrel {

enum class Format { Table, Csv, Json };

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Column {
    std::string name;    // CSV header and table heading
    std::string key;     // JSON member name
    bool group = false;  // the group's own field (the item): a JSON member of the group, not of each row
};

class CWriter {
public:
    virtual ~CWriter() = default;
    // `header`: what the document is (operation, server, time basis); the table prints it above the
    // rows, JSON as members of the document, CSV not at all (its columns name the time basis).
    // `groups`: the JSON array of groups ("items"), or empty when rows are not grouped; `rows`: the
    // JSON array of rows ("values").
    virtual void Begin(const Fields& header, std::vector<Column> columns, std::string groups,
                       std::string rows) = 0;
    // A group (one item). Its fields open the JSON object; the table and CSV write nothing.
    virtual void BeginGroup(const Fields& fields) = 0;
    // One row, one cell per column.
    virtual void Row(const std::string_view* cells, std::size_t count) = 0;
    void Row(std::initializer_list<std::string_view> cells) { Row(cells.begin(), cells.size()); }
    // The result (code, code_text) of the call that returned the rows which follow in the group. CSV,
    // which has no groups, writes it on each of them; the others write the group's result at its end.
    virtual void RowsResult(const Fields& result) { (void)result; }
    // Ends the group: JSON adds the fields after the rows; the table writes them as a summary line.
    // CSV writes a group that had no rows as one row of its item and result, so that no item goes
    // missing from the file.
    virtual void EndGroup(const Fields& fields) = 0;
    virtual void End() = 0;
};

std::unique_ptr<CWriter> MakeWriter(Format format, std::ostream& out);

// Escapes for the two machine forms (exposed for tests).
using client::AppendCsvField;
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace vistrel

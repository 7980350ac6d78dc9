#include "client/csvexport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "client/textforms.h"
#include "com/objbase.h"
#include "com/text.h"
#include "com/timeapi.h"

namespace client {

namespace {

// UTF-16 to UTF-8 into a buffer that keeps its room from row to row; ASCII without a detour.
void AssignU8(std::string& out, std::u16string_view s) {
    out.resize(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] >= 0x80) {
            out = com::Utf16ToUtf8(s);
            return;
        }
        out[i] = static_cast<char>(s[i]);
    }
}

}  // namespace

std::string Hex8(DWORD v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s = "0x00000000";
    for (int i = 9; i >= 2; --i, v >>= 4) s[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
    return s;
}

// The client's text of a result code; for the COM codes it has no name for, the usual one.
std::string ResultCodeText(HRESULT hr) {
    if (!ResultCodeName(hr).empty()) return com::Utf16ToUtf8(FormatResultCode(hr));
    switch (static_cast<DWORD>(hr)) {
        case 0x00000001:
            return "S_FALSE";
        case 0x80004001:
            return "Not implemented";
        case 0x80004002:
            return "No such interface supported";
        case 0x80004003:
            return "Invalid pointer";
        case 0x8007000E:
            return "Out of memory";
        case 0x80070057:
            return "The parameter is incorrect";
        case 0x80070005:
            return "Access is denied";
        case 0x80040154:
            return "Class not registered";
        case 0x800401F3:
            return "Invalid class string";
        case 0x80040111:
            return "ClassFactory cannot supply requested class";
        case 0x8007007E:
            return "The server library was not found";
        case 0x800401F9:
            return "Error in the server library";
        case 0x80080005:
            return "Server execution failed";
        case 0x800706BA:
            return "The RPC server is unavailable";
        case 0x80010108:
            return "The object invoked has disconnected from its clients";
        case 0x8001011F:
            return "The call timed out";
        case 0x80010119:
            return "Security must be initialized before any interfaces are marshalled or unmarshalled";
        default:
            return com::Utf16ToUtf8(FormatResultCode(hr));
    }
}

void CCsvRows::Row(std::string& out, const std::string_view* cells, std::size_t n) {
    if (m_last.size() < n) m_last.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i) out += ',';
        Cell& last = m_last[i];
        if (cells[i].size() == last.raw.size() && cells[i] == last.raw) {
            out += last.escaped;
            continue;
        }
        const std::size_t at = out.size();
        AppendCsvField(out, cells[i]);
        if (cells[i].size() <= 64) {
            last.raw.assign(cells[i]);
            last.escaped.assign(out, at, std::string::npos);
        }
    }
    out += "\r\n";
}

std::string TimeColumnName(std::string_view name, TimeBasis basis) {
    std::string s(name);
    if (basis == TimeBasis::Utc) return s + " (UTC)";
    if (basis == TimeBasis::LocalAtInstant) return s + " (local, offset of each instant)";
    const LONG offset = -com::CurrentBiasMinutes();
    char off[32];
    std::snprintf(off, sizeof off, "UTC%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    return s + " (local, " + off + " now)";
}

std::vector<std::string> ValueColumnNames(TimeBasis basis) {
    return {"item", TimeColumnName("timestamp", basis), "value", "quality", "quality text"};
}

void CValueCells::Set(const FILETIME& t, DWORD q, const VARIANT& v) {
    char16_t buf[kMaxTimestampChars];
    AssignU8(ts, std::u16string_view(buf, m_stamp.Write(t, buf)));
    AssignU8(value, FormatVariant(v));
    auto it = m_qualities.find(q);
    if (it == m_qualities.end())
        it = m_qualities.emplace(q, Quality{Hex8(q), com::Utf16ToUtf8(FormatQuality(q))}).first;
    qualityWord = it->second.word;
    qualityText = it->second.text;
}

void CValueCells::SetResult(HRESULT hr) {
    resultCode = Hex8(static_cast<DWORD>(hr));
    resultText = ResultCodeText(hr);
}

RecordView ViewOf(const OPCHDA_ITEM& r) {
    RecordView v;
    v.claimed = r.dwCount;
    const std::size_t n = std::min({static_cast<std::size_t>(r.dwCount), com::TaskMemCount(r.pftTimeStamps),
                                    com::TaskMemCount(r.pdwQualities), com::TaskMemCount(r.pvDataValues)});
    v.count = static_cast<DWORD>(n);
    v.t = r.pftTimeStamps;
    v.q = r.pdwQualities;
    v.v = r.pvDataValues;
    return v;
}

CResultSetCsv::CResultSetCsv(const OPCHDA_ITEM* pValues, const HRESULT* pErrors, DWORD dwRecords,
                             std::vector<std::u16string> itemIds, TimeBasis basis)
    : m_pValues(pValues),
      m_pErrors(pErrors),
      m_dwRecords(pValues ? dwRecords : 0),
      m_basis(basis),
      m_cells(basis) {
    for (const auto& id : itemIds) m_items.push_back(com::Utf16ToUtf8(id));
    for (DWORD i = 0; i < m_dwRecords; ++i) m_total += std::max<std::size_t>(ViewOf(m_pValues[i]).count, 1);
}

bool CResultSetCsv::Next(std::string& out, std::size_t maxRows) {
    if (!m_bHeader) {
        m_bHeader = true;
        std::vector<std::string> names = ValueColumnNames(m_basis);
        names.insert(names.end(), std::begin(kResultColumnNames), std::end(kResultColumnNames));
        const std::vector<std::string_view> cells(names.begin(), names.end());
        m_rows.Row(out, cells.data(), cells.size());
    }
    static const std::string kNoItem;
    for (std::size_t n = 0; n < maxRows && m_record < m_dwRecords;) {
        const RecordView v = ViewOf(m_pValues[m_record]);
        const std::string& item = m_record < m_items.size() ? m_items[m_record] : kNoItem;
        if (m_row == 0) {
            // A set without its results says nothing of them: the cells stay empty.
            if (m_pErrors) {
                m_cells.SetResult(m_pErrors[m_record]);
            } else {
                m_cells.resultCode.clear();
                m_cells.resultText.clear();
            }
        }
        if (v.count == 0) {
            const std::string_view cells[7] = {item, {}, {}, {}, {}, m_cells.resultCode, m_cells.resultText};
            m_rows.Row(out, cells, 7);
            ++m_written, ++n;
        }
        for (; m_row < v.count && n < maxRows; ++m_row, ++n) {
            m_cells.Set(v.t[m_row], v.q[m_row], v.v[m_row]);
            const std::string_view cells[7] = {item,
                                               m_cells.ts,
                                               m_cells.value,
                                               m_cells.qualityWord,
                                               m_cells.qualityText,
                                               m_cells.resultCode,
                                               m_cells.resultText};
            m_rows.Row(out, cells, 7);
            ++m_written;
        }
        if (m_row >= v.count) {
            ++m_record;
            m_row = 0;
        }
    }
    return m_record < m_dwRecords;
}

}  // namespace client

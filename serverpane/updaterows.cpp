#include "serverpane/updaterows.h"

#include <algorithm>
#include <limits>

#include "outputpane/outputpane.h"
#include "outputpane/textforms.h"
#include "outputpane/valuerows.h"
#include "resources/uikit.h"

CUpdateRows::CUpdateRows(Layout layout, std::vector<QString> tags, std::size_t nRows,
                         std::vector<HRESULT> codes)
    : m_layout(layout),
      m_nRows(static_cast<int>(std::min<std::size_t>(nRows, std::numeric_limits<int>::max()))),
      m_tags(std::move(tags)),
      m_codes(std::move(codes)) {}

std::unique_ptr<CUpdateRows> CUpdateRows::ForInsert(std::vector<QString> tags,
                                                    std::vector<std::u16string> values,
                                                    std::vector<FILETIME> times, std::vector<HRESULT> codes) {
    const std::size_t n = std::min(values.size(), times.size());
    std::unique_ptr<CUpdateRows> rows(new CUpdateRows(Layout::Insert, std::move(tags), n, std::move(codes)));
    rows->m_values = std::move(values);
    rows->m_times = std::move(times);
    return rows;
}

std::unique_ptr<CUpdateRows> CUpdateRows::ForDeleteRaw(std::vector<QString> tags, FILETIME ftStart,
                                                       FILETIME ftEnd, std::vector<HRESULT> codes) {
    const std::size_t n = tags.size();
    std::unique_ptr<CUpdateRows> rows(
        new CUpdateRows(Layout::DeleteRaw, std::move(tags), n, std::move(codes)));
    rows->m_ftStart = ftStart;
    rows->m_ftEnd = ftEnd;
    return rows;
}

std::unique_ptr<CUpdateRows> CUpdateRows::ForDeleteAtTime(std::vector<QString> tags,
                                                          std::vector<FILETIME> times,
                                                          std::vector<HRESULT> codes) {
    const std::size_t n = times.size();
    std::unique_ptr<CUpdateRows> rows(
        new CUpdateRows(Layout::DeleteAtTime, std::move(tags), n, std::move(codes)));
    rows->m_times = std::move(times);
    return rows;
}

QString CUpdateRows::Tag(int nRow) const {
    // The selected items in list order, again from the first after the last.
    return m_tags.empty() ? QString() : m_tags[static_cast<std::size_t>(nRow) % m_tags.size()];
}

QString CUpdateRows::Code(int nRow) const {
    const auto i = static_cast<std::size_t>(nRow);
    return i < m_codes.size() ? COutputPane::FormatResultCode(m_codes[i])
                              : QString::fromUtf16(CValueTabRows::kNotReturned);
}

QString CUpdateRows::Text(int nRow, int nColumn) const {
    if (nRow < 0 || nRow >= m_nRows) return QString();
    const auto i = static_cast<std::size_t>(nRow);
    switch (m_layout) {
        case Layout::Insert:
            switch (nColumn) {
                case 0:
                    return Tag(nRow);
                case 1:
                    return ui::ToQString(m_values[i]);
                case 2:
                    return FormatTimestamp(m_times[i], m_stamp);
                case 3:
                    return Code(nRow);
                default:
                    return QString();
            }
        case Layout::DeleteRaw:
            switch (nColumn) {
                case 0:
                    return Tag(nRow);
                case 1:
                    return FormatTimestamp(m_ftStart, m_stamp);
                case 2:
                    return FormatTimestamp(m_ftEnd, m_stamp);
                case 3:
                    return Code(nRow);
                default:
                    return QString();
            }
        case Layout::DeleteAtTime:
            switch (nColumn) {
                case 0:
                    return Tag(nRow);
                case 1:
                    return FormatTimestamp(m_times[i], m_stamp);
                case 2:
                    return Code(nRow);
                default:
                    return QString();
            }
    }
    return QString();
}

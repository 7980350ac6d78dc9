#include "outputpane/valuerows.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "com/objbase.h"
#include "outputpane/outputpane.h"
#include "outputpane/textforms.h"

std::unique_ptr<CValueTabRows> CValueTabRows::Capture(const OPCHDA_ITEM& item, DWORD nLimit,
                                                      client::TimeBasis basis) {
    auto rows = std::make_unique<CValueTabRows>();
    rows->SetTimeBasis(basis);
    const std::size_t n = std::min<std::size_t>({item.dwCount, nLimit, static_cast<std::size_t>(INT_MAX)});
    rows->m_nRows = static_cast<int>(n);

    const std::size_t nTimes = std::min<std::size_t>(n, com::TaskMemCount(item.pftTimeStamps));
    rows->m_times.assign(item.pftTimeStamps, item.pftTimeStamps + nTimes);

    const std::size_t nQualities = std::min<std::size_t>(n, com::TaskMemCount(item.pdwQualities));
    rows->m_qualities.assign(item.pdwQualities, item.pdwQualities + nQualities);

    const std::size_t nValues = std::min<std::size_t>(n, com::TaskMemCount(item.pvDataValues));
    rows->m_values.resize(nValues);
    for (std::size_t j = 0; j < nValues; ++j) {
        const VARIANT& src = item.pvDataValues[j];
        VARIANT& cell = rows->m_values[j];
        cell.vt = src.vt;
        cell.wReserved1 = cell.wReserved2 = cell.wReserved3 = 0;
        cell.llVal = 0;
        switch (src.vt) {
            case VT_BSTR:
                cell.lVal = static_cast<LONG>(rows->m_strings.size());
                rows->m_strings.push_back(COutputPane::FormatVariant(src));
                break;
            case VT_EMPTY:
            case VT_I2:
            case VT_I4:
            case VT_R4:
            case VT_R8:
            case VT_CY:
            case VT_BOOL:
            case VT_I1:
            case VT_UI1:
            case VT_UI2:
            case VT_UI4:
                std::memcpy(&cell.llVal, &src.llVal, sizeof cell.llVal);  // the widest member of these types
                break;
            default:
                break;  // the text depends on the type alone; pointers are never followed
        }
    }
    return rows;
}

QString CValueTabRows::Text(int nRow, int nColumn) const {
    if (nRow < 0 || nRow >= m_nRows) return QString();
    const auto row = static_cast<std::size_t>(nRow);
    switch (nColumn) {
        case 0: {
            if (row >= m_values.size()) return QString::fromUtf16(kNotReturned);
            const VARIANT& cell = m_values[row];
            if (cell.vt == VT_BSTR) return m_strings[static_cast<std::size_t>(cell.lVal)];
            return COutputPane::FormatVariant(cell);
        }
        case 1:
            return row < m_times.size() ? FormatTimestamp(m_times[row], m_stamp)
                                        : QString::fromUtf16(kNotReturned);
        case 2:
            return row < m_qualities.size() ? COutputPane::FormatQuality(m_qualities[row])
                                            : QString::fromUtf16(kNotReturned);
        default:
            return QString();
    }
}

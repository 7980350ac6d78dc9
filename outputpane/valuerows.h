// The rows of one value tab, copied out of the result set when the tab is filled: the server pane may
// release that result set while the rows stay on screen, so nothing here points into it.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "hda/opchda.h"
#include "outputpane/outputlist.h"

class CValueTabRows final : public IListRowSource {
public:
    // Text of a cell whose array the server did not fill that far (or returned null).
    static constexpr char16_t kNotReturned[] = u"(not returned by the server)";

    // Rows 0 .. min(item.dwCount, nLimit) - 1 of an item the server returned. Each array is read
    // only as far as the task-memory block really reaches, whatever dwCount claims.
    // Timestamps are shown on the basis given.
    static std::unique_ptr<CValueTabRows> Capture(
        const OPCHDA_ITEM& item, DWORD nLimit, client::TimeBasis basis = client::TimeBasis::LocalCurrentBias);

    int RowCount() const override { return m_nRows; }
    // Column 0 "Value", 1 "Timestamp", 2 "Quality".
    QString Text(int nRow, int nColumn) const override;
    void SetTimeBasis(client::TimeBasis basis) override { m_stamp = client::CTimestampWriter(basis); }

private:
    int m_nRows = 0;
    client::CTimestampWriter m_stamp{client::TimeBasis::LocalCurrentBias};
    std::vector<FILETIME> m_times;
    std::vector<DWORD> m_qualities;
    // Values that own nothing are kept as they are (formatted when shown); a string is turned into
    // text at once and its cell holds the index into m_strings instead of the BSTR.
    std::vector<VARIANT> m_values;
    std::vector<QString> m_strings;
};

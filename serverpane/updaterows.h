// The rows of the result list of a history update: one per entry of the call, formatted only when
// shown, so that a list of 100,000 entries appears at once. Everything is copied in: the server pane
// releases its result set at the start of the next operation while these rows may stay on screen.
#pragma once

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "com/types.h"
#include "outputpane/outputlist.h"

class CUpdateRows final : public IListRowSource {
public:
    // Insert, Replace, Insert/Replace: "Tag", "Value", "Timestamp", "Error Code". Entry i belongs to
    // tag i mod n.
    static std::unique_ptr<CUpdateRows> ForInsert(std::vector<QString> tags,
                                                  std::vector<std::u16string> values,
                                                  std::vector<FILETIME> times, std::vector<HRESULT> codes);
    // Delete Raw: "Tag", "Start Time", "End Time", "Error Code"; one row per tag, each with the same range.
    static std::unique_ptr<CUpdateRows> ForDeleteRaw(std::vector<QString> tags, FILETIME ftStart,
                                                     FILETIME ftEnd, std::vector<HRESULT> codes);
    // Delete At Time: "Tag", "Timestamp", "Error Code". Entry i belongs to tag i mod n.
    static std::unique_ptr<CUpdateRows> ForDeleteAtTime(std::vector<QString> tags,
                                                        std::vector<FILETIME> times,
                                                        std::vector<HRESULT> codes);

    int RowCount() const override { return m_nRows; }
    // A row beyond the codes the server returned says so in its "Error Code" column.
    QString Text(int nRow, int nColumn) const override;
    // Local time with the offset in force now until told otherwise.
    void SetTimeBasis(client::TimeBasis basis) override { m_stamp = client::CTimestampWriter(basis); }

private:
    enum class Layout { Insert, DeleteRaw, DeleteAtTime };
    CUpdateRows(Layout layout, std::vector<QString> tags, std::size_t nRows, std::vector<HRESULT> codes);
    QString Tag(int nRow) const;
    QString Code(int nRow) const;

    Layout m_layout;
    int m_nRows = 0;
    std::vector<QString> m_tags;
    std::vector<std::u16string> m_values;
    std::vector<FILETIME> m_times;
    FILETIME m_ftStart{0, 0}, m_ftEnd{0, 0};
    client::CTimestampWriter m_stamp{client::TimeBasis::LocalCurrentBias};
    std::vector<HRESULT> m_codes;
};

// The rows of one Read Modified tab, copied out of the result set when the tab is filled (the server
// pane may release that result set while the rows stay on screen).
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "client/timetext.h"
#include "hda/opchda.h"
#include "outputpane/outputlist.h"

class CModifiedTabRows final : public IListRowSource {
public:
    // The columns of a Read Modified tab.
    static QStringList Columns();

    // Rows 0 .. min(nEntries, nLimit) - 1 of a record, nEntries being what all six of its arrays hold.
    static std::unique_ptr<CModifiedTabRows> Capture(const OPCHDA_MODIFIEDITEM& record, DWORD nEntries,
                                                     DWORD nLimit, client::TimeBasis basis);

    int RowCount() const override { return static_cast<int>(m_rows.size()); }
    // Column 0 "Value", 1 "Timestamp", 2 "Quality", 3 "Modification Time", 4 "Edit Type", 5 "User".
    QString Text(int nRow, int nColumn) const override;
    void SetTimeBasis(client::TimeBasis basis) override { m_stamp = client::CTimestampWriter(basis); }

private:
    struct Row {
        QString value;
        FILETIME ftTimeStamp;
        DWORD dwQuality;
        FILETIME ftModified;
        OPCHDA_EDITTYPE editType;
        QString user;
    };
    client::CTimestampWriter m_stamp{client::TimeBasis::LocalCurrentBias};
    std::vector<Row> m_rows;
};

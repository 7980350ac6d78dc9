#include "outputpane/modifiedrows.h"

#include <algorithm>
#include <climits>

#include "client/readmodified.h"
#include "com/ownership.h"
#include "outputpane/outputpane.h"
#include "outputpane/textforms.h"
#include "resources/uikit.h"

QStringList CModifiedTabRows::Columns() {
    return {QStringLiteral("Value"),     QStringLiteral("Timestamp"),
            QStringLiteral("Quality"),   QStringLiteral("Modification Time"),
            QStringLiteral("Edit Type"), QStringLiteral("User")};
}

std::unique_ptr<CModifiedTabRows> CModifiedTabRows::Capture(const OPCHDA_MODIFIEDITEM& record, DWORD nEntries,
                                                            DWORD nLimit, client::TimeBasis basis) {
    auto rows = std::make_unique<CModifiedTabRows>();
    rows->SetTimeBasis(basis);
    const std::size_t n = std::min<std::size_t>({nEntries, nLimit, static_cast<std::size_t>(INT_MAX)});
    rows->m_rows.reserve(n);
    for (std::size_t j = 0; j < n; ++j) {
        const std::u16string user = com::ReadReceivedText(record.szUser[j]).text;
        rows->m_rows.push_back({COutputPane::FormatVariant(record.pvDataValues[j]), record.pftTimeStamps[j],
                                record.pdwQualities[j], record.pftModificationTime[j], record.pEditType[j],
                                ui::ToQString(user)});
    }
    return rows;
}

QString CModifiedTabRows::Text(int nRow, int nColumn) const {
    if (nRow < 0 || nRow >= RowCount()) return QString();
    const Row& row = m_rows[static_cast<std::size_t>(nRow)];
    switch (nColumn) {
        case 0:
            return row.value;
        case 1:
            return FormatTimestamp(row.ftTimeStamp, m_stamp);
        case 2:
            return COutputPane::FormatQuality(row.dwQuality);
        case 3:
            return FormatTimestamp(row.ftModified, m_stamp);
        case 4:
            return ui::ToQString(client::FormatEditType(row.editType));
        case 5:
            return row.user;
        default:
            return QString();
    }
}

#include "dialogs/datarows.h"

#include <QHeaderView>
#include <algorithm>
#include <charconv>

#include "client/timetext.h"
#include "com/timeapi.h"
#include "dialogs/dlgkit.h"
#include "resources/uikit.h"

namespace dlg {

QString FixedSix(double v) {
    // The widest double written with six decimals: 309 digits, sign, point and decimals.
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    if (r.ec != std::errc()) return QString();
    return QString::fromLatin1(buf, static_cast<qsizetype>(r.ptr - buf));
}

bool LocalTicksText(ULONGLONG localTicks, QString* pText) {
    const FILETIME ft = U64ToFileTime(localTicks);
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st)) return false;
    *pText = ui::ToQString(client::FormatTimeText(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                                                  st.wSecond, st.wMilliseconds));
    return true;
}

QString DataRow::ValueText() const {
    return bGenerated ? FixedSix(number) : value;
}

QString DataRow::TimeText() const {
    QString text;
    LocalTicksText(localTicks, &text);
    return text;
}

// ---- CDataRowModel ----

CDataRowModel::CDataRowModel(QStringList headings, QObject* parent)
    : QAbstractTableModel(parent), m_headings(std::move(headings)) {}

int CDataRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int CDataRowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
}

QVariant CDataRowModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() || index.row() >= Count())
        return QVariant();
    const DataRow& row = Row(index.row());
    switch (index.column()) {
        case 0:
            return row.ValueText();
        case 1:
            return row.TimeText();
        case 2:
            return row.quality;
        default:
            return QVariant();
    }
}

QVariant CDataRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_headings.size())
        return QVariant();
    return m_headings[section];
}

void CDataRowModel::InsertOnTop(std::vector<DataRow> rows) {
    if (rows.empty()) return;
    beginInsertRows(QModelIndex(), 0, static_cast<int>(rows.size()) - 1);
    m_rows.reserve(m_rows.size() + rows.size());
    for (DataRow& row : rows) m_rows.push_back(std::move(row));
    endInsertRows();
}

void CDataRowModel::RemoveRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int r) { return r < 0 || r >= Count(); }),
               rows.end());
    if (rows.empty()) return;
    // From the bottom up, one run of neighbouring rows at a time, so the indexes still to come hold.
    std::size_t end = rows.size();
    while (end > 0) {
        std::size_t begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
        const int first = rows[begin], last = rows[end - 1];
        beginRemoveRows(QModelIndex(), first, last);
        // Display rows first..last are stored at size-1-last .. size-1-first.
        const auto at =
            m_rows.begin() + static_cast<std::ptrdiff_t>(m_rows.size() - 1 - static_cast<std::size_t>(last));
        m_rows.erase(at, at + (last - first + 1));
        endRemoveRows();
        end = begin;
    }
}

// ---- CDataRowList ----

CDataRowList::CDataRowList(QWidget* parent, int nId) : QTreeView(parent), m_pModel(nullptr) {
    SetCtrlId(this, nId);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    m_pModel = new CDataRowModel(
        {QStringLiteral("Value"), QStringLiteral("Timestamp"), QStringLiteral("Quality")}, this);
    setModel(m_pModel);
}

int CDataRowList::ClientWidth() const {
    return std::max(width() - 2 * frameWidth(), 0);
}

std::vector<int> CDataRowList::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace dlg

#include "outputpane/outputlist.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>

// ---- COutputListModel ----

int COutputListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return m_source ? m_source->RowCount() : static_cast<int>(m_rows.size());
}

int COutputListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
}

QVariant COutputListModel::data(const QModelIndex& index, int role) const {
    // A text cut short by its column can be read whole from its tooltip.
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid()) return QVariant();
    return GetItemText(index.row(), index.column());
}

QVariant COutputListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    if (section < 0 || section >= m_headings.size()) return QVariant();
    return m_headings[section];
}

int COutputListModel::InsertColumn(int nCol, const QString& heading) {
    if (nCol < 0) return -1;
    if (nCol > m_headings.size()) nCol = static_cast<int>(m_headings.size());
    beginInsertColumns(QModelIndex(), nCol, nCol);
    m_headings.insert(nCol, heading);
    for (QStringList& row : m_rows)
        if (nCol < row.size()) row.insert(nCol, QString());
    endInsertColumns();
    return nCol;
}

int COutputListModel::InsertItem(int nItem, const QString& text) {
    if (m_source || nItem < 0) return -1;
    if (nItem > static_cast<int>(m_rows.size())) nItem = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), nItem, nItem);
    m_rows.insert(m_rows.begin() + nItem, QStringList{text});
    endInsertRows();
    return nItem;
}

bool COutputListModel::SetItemText(int nItem, int nSubItem, const QString& text) {
    if (m_source || nItem < 0 || nItem >= static_cast<int>(m_rows.size())) return false;
    if (nSubItem < 0 || nSubItem >= std::max<qsizetype>(m_headings.size(), 1)) return false;
    QStringList& row = m_rows[static_cast<std::size_t>(nItem)];
    while (row.size() <= nSubItem) row.append(QString());
    row[nSubItem] = text;
    const QModelIndex cell = index(nItem, nSubItem);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    return true;
}

QString COutputListModel::GetItemText(int nItem, int nSubItem) const {
    if (nItem < 0 || nSubItem < 0) return QString();
    if (m_source) {
        if (nItem >= m_source->RowCount() || nSubItem >= m_headings.size()) return QString();
        return m_source->Text(nItem, nSubItem);
    }
    if (nItem >= static_cast<int>(m_rows.size())) return QString();
    const QStringList& row = m_rows[static_cast<std::size_t>(nItem)];
    return nSubItem < row.size() ? row[nSubItem] : QString();
}

void COutputListModel::DeleteAllItems() {
    beginResetModel();
    m_rows.clear();
    m_source.reset();
    endResetModel();
}

void COutputListModel::SetTimeBasis(client::TimeBasis basis) {
    if (!m_source || m_source->RowCount() == 0 || m_headings.isEmpty()) return;
    m_source->SetTimeBasis(basis);
    emit dataChanged(index(0, 0), index(m_source->RowCount() - 1, static_cast<int>(m_headings.size()) - 1),
                     {Qt::DisplayRole});
}

void COutputListModel::SetRowSource(std::unique_ptr<IListRowSource> source) {
    beginResetModel();
    m_rows.clear();
    m_source = std::move(source);
    endResetModel();
}

// ---- COutputList ----

COutputList::COutputList(QWidget* parent) : QTreeView(parent), m_pModel(new COutputListModel(this)) {
    setObjectName(QStringLiteral("IDC_OUTPUT_LIST"));
    setProperty("controlId", IDC_OUTPUT_LIST);
    // A report view and nothing else: no border, no tree decoration, no editing, no sorting.
    setFrameShape(QFrame::NoFrame);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setTextElideMode(Qt::ElideRight);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setMinimumSectionSize(0);
    setModel(m_pModel);
}

int COutputList::InsertColumn(int nCol, const QString& heading, int nWidth) {
    const int at = m_pModel->InsertColumn(nCol, heading);
    if (at >= 0) header()->resizeSection(at, std::max(nWidth, 0));
    return at;
}

int COutputList::GetColumnCount() const {
    return m_pModel->columnCount();
}

int COutputList::GetColumnWidth(int nCol) const {
    return nCol >= 0 && nCol < GetColumnCount() ? header()->sectionSize(nCol) : 0;
}

void COutputList::SetColumnWidth(int nCol, int nWidth) {
    if (nCol >= 0 && nCol < GetColumnCount()) header()->resizeSection(nCol, std::max(nWidth, 0));
}

int COutputList::InsertItem(int nItem, const QString& text) {
    return m_pModel->InsertItem(nItem, text);
}

bool COutputList::SetItemText(int nItem, int nSubItem, const QString& text) {
    return m_pModel->SetItemText(nItem, nSubItem, text);
}

QString COutputList::GetItemText(int nItem, int nSubItem) const {
    return m_pModel->GetItemText(nItem, nSubItem);
}

int COutputList::GetItemCount() const {
    return m_pModel->rowCount();
}

void COutputList::DeleteAllItems() {
    m_pModel->DeleteAllItems();
}

void COutputList::SetRowSource(std::unique_ptr<IListRowSource> source) {
    m_pModel->SetRowSource(std::move(source));
}

void COutputList::SetTimeBasis(client::TimeBasis basis) {
    m_pModel->SetTimeBasis(basis);
}

int COutputList::ClientWidth() {
    // Rows added since the last event loop decide whether the vertical scroll bar is needed; the bar
    // itself is shown or hidden only later, so ask its range rather than whether it shows.
    if (isVisible()) executeDelayedItemsLayout();
    int width = contentsRect().width();
    const QScrollBar* bar = verticalScrollBar();
    if (verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ||
        (verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded && bar->maximum() > bar->minimum()))
        width -= style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, bar);
    return std::max(width, 0);
}

void COutputList::FitFirstThreeColumns() {
    const int third = ClientWidth() / 3;
    for (int c = 0; c < 3 && c < GetColumnCount(); ++c) header()->resizeSection(c, third);
}

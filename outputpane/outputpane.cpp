#include "outputpane/outputpane.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLabel>
#include <algorithm>
#include <utility>

#include "client/readmodified.h"
#include "outputpane/modifiedrows.h"
#include "outputpane/mytabctrl.h"
#include "outputpane/outputlist.h"
#include "outputpane/valuerows.h"
#include "resources/uikit.h"

COutputPane::COutputPane(QWidget* parent) : QWidget(parent) {}

COutputPane::~COutputPane() {
    DestroyLayouts();
}

bool COutputPane::IsCommandEnabled(int nId) const {
    return m_pServerPane != nullptr && m_pServerPane->IsCommandEnabled(nId);
}

bool COutputPane::OnCommand(int nId) {
    if (!IsCommandEnabled(nId)) return false;
    m_pServerPane->OnCommand(nId);
    return true;
}

QRect COutputPane::ResultArea() const {
    const QRect area = rect().adjusted(kAreaLeft, kAreaTop, -kAreaRight, -kAreaBottom);
    return QRect(area.topLeft(), QSize(std::max(area.width(), 0), std::max(area.height(), 0)));
}

void COutputPane::DestroyLayouts() {
    delete std::exchange(m_pTabCtrl, nullptr);
    delete std::exchange(m_pResultList, nullptr);
}

void COutputPane::CreateItemTabs() {
    CreateTabs(nullptr);
}

void COutputPane::CreateModifiedTabs() {
    const QStringList columns = CModifiedTabRows::Columns();
    CreateTabs(&columns);
}

void COutputPane::CreateTabs(const QStringList* pColumns) {
    const QRect area = ResultArea();
    DestroyLayouts();

    auto* tabs = pColumns ? new CMyTabCtrl(this, area, *pColumns) : new CMyTabCtrl(this, area);
    m_bModifiedTabs = pColumns != nullptr;
    tabs->setFont(ui::PaneFont());
    tabs->SetOwningPane(this);
    if (m_pServerPane) {
        int k = 0;
        for (const std::u16string& itemId : m_pServerPane->GetSelectedItemIds())
            tabs->InsertItem(k++, ui::ToQString(itemId));
    }
    tabs->SetCurSel(tabs->GetItemCount() > 0 ? 0 : -1);
    tabs->show();
    m_pTabCtrl = tabs;
}

void COutputPane::ShowTabResults() {
    if (!m_pTabCtrl) return;
    COutputList* list = m_pTabCtrl->GetValueList();
    list->DeleteAllItems();

    const int i = m_pTabCtrl->GetCurSel();
    if (m_bModifiedTabs) return ShowModifiedResults(i);
    const OPCHDA_ITEM* values = m_pServerPane ? m_pServerPane->GetLastItemValues() : nullptr;
    const HRESULT* errors = m_pServerPane ? m_pServerPane->GetLastErrors() : nullptr;
    if (values == nullptr || errors == nullptr || i < 0) {
        // The result set behind these tabs has been released: nothing to show.
        m_pTabCtrl->ClearReturnLabel();
        return;
    }
    if (static_cast<DWORD>(i) >= m_pServerPane->GetLastResultCount()) {
        m_pTabCtrl->SetReturnLabel(QString::fromUtf16(kNoResultForItem));
        return;
    }

    const DWORD limit = m_pServerPane->GetMaxDisplayItems();
    SetReturnLabel(FormatResultCode(errors[i]), values[i].dwCount, limit);
    if (QLabel* pResult = m_pTabCtrl->GetResultLabel())
        pResult->setToolTip(ui::ToQString(m_pServerPane->GetResultNote(static_cast<DWORD>(i))));
    list->SetRowSource(CValueTabRows::Capture(values[i], limit, m_pServerPane->GetTimeBasis()));
}

void COutputPane::ShowModifiedResults(int i) {
    const client::ModifiedSet* pSet = m_pServerPane ? m_pServerPane->GetLastModified() : nullptr;
    if (!pSet || pSet->Empty() || i < 0) {
        m_pTabCtrl->ClearReturnLabel();
        return;
    }
    const auto k = static_cast<DWORD>(i);
    if (k >= pSet->Count()) {
        m_pTabCtrl->SetReturnLabel(QString::fromUtf16(kNoResultForItem));
        return;
    }
    const DWORD limit = m_pServerPane->GetMaxDisplayItems();
    SetReturnLabel(FormatResultCode(pSet->Errors()[k]), pSet->Values()[k].dwCount, limit);
    m_pTabCtrl->GetValueList()->SetRowSource(CModifiedTabRows::Capture(pSet->Values()[k], pSet->EntryCount(k),
                                                                       limit, m_pServerPane->GetTimeBasis()));
}

void COutputPane::SetReturnLabel(const QString& status, DWORD count, DWORD limit) {
    QString text;
    if (limit < count)
        text = status + QStringLiteral(" (display limited to ") + QString::number(limit) +
               QStringLiteral(" of ") + QString::number(count) + QStringLiteral(" items)");
    else if (count == 0)
        text = status;
    else
        text = status + QStringLiteral(" (returned ") + QString::number(count) + QStringLiteral(" items)");
    m_pTabCtrl->SetReturnLabel(text);
}

void COutputPane::OnTimeBasisChanged() {
    if (!m_pServerPane) return;
    const client::TimeBasis basis = m_pServerPane->GetTimeBasis();
    if (m_pTabCtrl) m_pTabCtrl->GetValueList()->SetTimeBasis(basis);
    if (m_pResultList) m_pResultList->SetTimeBasis(basis);
}

namespace {

// The list on show: the value list of the tabs, or the result list.
COutputList* ShownList(CMyTabCtrl* pTabs, COutputList* pResultList) {
    return pTabs ? pTabs->GetValueList() : pResultList;
}

}  // namespace

bool COutputPane::HasSelectedRows() const {
    const COutputList* list = ShownList(m_pTabCtrl, m_pResultList);
    return list && list->selectionModel() && list->selectionModel()->hasSelection();
}

QString COutputPane::SelectedRowsText() const {
    const COutputList* list = ShownList(m_pTabCtrl, m_pResultList);
    if (!list || !list->selectionModel()) return QString();
    QModelIndexList rows = list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const int nColumns = list->GetColumnCount();
    QString text;
    for (const QModelIndex& row : rows) {
        for (int c = 0; c < nColumns; ++c) {
            if (c) text += QLatin1Char('\t');
            text += list->GetItemText(row.row(), c);
        }
        text += QLatin1Char('\n');
    }
    return text;
}

void COutputPane::CopySelectedRows() const {
    if (HasSelectedRows()) QApplication::clipboard()->setText(SelectedRowsText());
}

void COutputPane::CreateResultList() {
    const QRect area = ResultArea();
    DestroyLayouts();

    auto* list = new COutputList(this);
    list->setFont(ui::PaneFont());
    list->setGeometry(area);
    list->show();
    m_pResultList = list;
}

void COutputPane::InsertAttributeColumns() {
    if (!m_pResultList) return;
    const int width = m_pResultList->ClientWidth() / 3;
    m_pResultList->InsertColumn(0, QStringLiteral("Attribute"), width);
    m_pResultList->InsertColumn(1, QStringLiteral("Value"), width);
    m_pResultList->InsertColumn(2, QStringLiteral("Timestamp"), width);
}

void COutputPane::InsertUpdateColumns() {
    if (!m_pResultList) return;
    const int width = m_pResultList->ClientWidth() / 4;
    m_pResultList->InsertColumn(0, QStringLiteral("Tag"), width);
    m_pResultList->InsertColumn(1, QStringLiteral("Value"), width);
    m_pResultList->InsertColumn(2, QStringLiteral("Timestamp"), width);
    m_pResultList->InsertColumn(3, QStringLiteral("Error Code"), width);
}

void COutputPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QRect area = ResultArea();
    if (m_pTabCtrl) m_pTabCtrl->setGeometry(area);
    if (m_pResultList) {
        m_pResultList->setGeometry(area);
        m_pResultList->FitFirstThreeColumns();
    }
}

#include "dialogs/readprocesseddlg.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <algorithm>
#include <limits>

#include "com/text.h"
#include "hda/messages.h"
#include "resources/uikit.h"

namespace {
const char16_t* const kUnits[] = {u"MilliSeconds", u"Seconds", u"Minutes", u"Hours", u"Days"};
constexpr int kUnitCount = 5;
constexpr LONGLONG kDayTicks = 864000000000LL;
}  // namespace

CReadProcessedDlg::CReadProcessedDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Read Processed"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    at.Place(dlg::MakeGroup(this, QStringLiteral("Start Time")), 7, 7, 73, 69);
    m_start.pDate = dlg::MakeDatePicker(this, IDC_START_DATE);
    at.Place(m_start.pDate, 15, 19, 60, 13);
    m_start.pTime = dlg::MakeTimePicker(this, IDC_START_TIME);
    at.Place(m_start.pTime, 15, 35, 60, 13);
    m_start.pMs = dlg::MakeNumberEdit(this, IDC_START_MS, false);
    at.Place(m_start.pMs, 15, 52, 30, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 48, 54, 14, 8);

    at.Place(dlg::MakeGroup(this, QStringLiteral("End Time")), 84, 7, 73, 69);
    m_end.pDate = dlg::MakeDatePicker(this, IDC_END_DATE);
    at.Place(m_end.pDate, 92, 19, 60, 13);
    m_end.pTime = dlg::MakeTimePicker(this, IDC_END_TIME);
    at.Place(m_end.pTime, 92, 35, 60, 13);
    m_end.pMs = dlg::MakeNumberEdit(this, IDC_END_MS, false);
    at.Place(m_end.pMs, 92, 52, 30, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 125, 54, 14, 8);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Resample Interval")), 160, 7, 73, 69);
    m_pResample = dlg::MakeNumberEdit(this, IDC_RESAMPLE_INTERVAL, true);
    at.Place(m_pResample, 163, 20, 64, 13);
    m_pUnits = new QComboBox(this);
    dlg::SetCtrlId(m_pUnits, IDC_RESAMPLE_UNITS);
    m_pUnits->setEditable(true);
    m_pUnits->setInsertPolicy(QComboBox::NoInsert);
    for (const char16_t* u : kUnits) m_pUnits->addItem(ui::ToQString(u));
    at.Place(m_pUnits, 163, 37, 64, 13);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Aggregates")), 7, 80, 287, 92);
    at.Place(dlg::MakeLabel(this, QStringLiteral("Item")), 16, 93, 40, 8);
    at.Place(dlg::MakeLabel(this, QStringLiteral("Aggregate")), 16, 119, 40, 8);
    m_pSetAll = new QPushButton(QStringLiteral("Set All Items"), this);
    dlg::SetCtrlId(m_pSetAll, IDC_SET_ALL_ITEMS);
    at.Place(m_pSetAll, 17, 154, 60, 14);
    m_pSetSelected = new QPushButton(QStringLiteral("Set Selected Item"), this);
    dlg::SetCtrlId(m_pSetSelected, IDC_SET_SELECTED_ITEM);
    at.Place(m_pSetSelected, 83, 153, 66, 14);
    m_pItemList =
        dlg::MakeReportList(this, IDC_ITEM_AGGREGATES, {QStringLiteral("Item"), QStringLiteral("Aggregate")});
    at.Place(m_pItemList, 155, 89, 133, 79);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Server HDA Aggregates")), 7, 173, 287, 84);
    m_pServerAggregates = dlg::MakeReportList(this, IDC_SERVER_AGGREGATES,
                                              {QStringLiteral("Aggregate"), QStringLiteral("Description")});
    at.Place(m_pServerAggregates, 14, 183, 276, 70);

    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 178, 261, 50, 14);
    m_pOk = new QPushButton(QStringLiteral("Read Processed"), this);
    dlg::SetCtrlId(m_pOk, IDOK);
    m_pOk->setDefault(true);
    at.Place(m_pOk, 234, 261, 60, 14);

    setFixedSize(at.Size(301, 282));
    connect(m_pOk, &QPushButton::clicked, this, &CReadProcessedDlg::OnOK);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_pSetAll, &QPushButton::clicked, this, &CReadProcessedDlg::OnSetAllItems);
    connect(m_pSetSelected, &QPushButton::clicked, this, &CReadProcessedDlg::OnSetSelectedItem);
}

CReadProcessedDlg::~CReadProcessedDlg() {
    ReleaseAggregateIds();
}

int CReadProcessedDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CReadProcessedDlg::done(int r) {
    DestroyDropDowns();
    ReleaseAggregateIds();
    QDialog::done(r);
}

void CReadProcessedDlg::OnInitDialog() {
    CreateDropDowns();

    // As in Read Raw: the start boxes ten minutes back, date included; the end boxes now.
    m_start.basis = m_end.basis = m_timeBasis;
    const std::int64_t now = dlg::NowSeconds();
    m_timeStart = now - 600;
    m_start.SetDate(m_timeStart);
    m_end.SetDate(now);
    m_end.SetClock(now);
    m_pUnits->setCurrentIndex(1);  // "Seconds"
    UpdateData(false);

    FillItemList();
    FillAggregateList();
    m_start.pDate->setFocus();
}

void CReadProcessedDlg::CreateDropDowns() {
    DestroyDropDowns();
    const dlg::Placer at(font());
    auto make = [&](int left, int top, int right, int bottom) {
        auto* p = new QComboBox(this);
        dlg::SetCtrlId(p, IDC_RUNTIME_COMBO);
        p->setEditable(false);
        p->setFont(ui::PaneFont());
        // The rectangle includes the dropped list; the box itself is one line high.
        const QRect rc = at.DesignPixels(left, top, right, bottom);
        p->setGeometry(rc.x(), rc.y(), rc.width(), p->sizeHint().height());
        p->show();
        return p;
    };
    m_pItemCombo = make(20, 165, 180, 290);
    m_pAggregateCombo = make(20, 210, 180, 335);
    setTabOrder(m_pUnits, m_pItemCombo);
    setTabOrder(m_pItemCombo, m_pAggregateCombo);
    setTabOrder(m_pAggregateCombo, m_pSetAll);
}

void CReadProcessedDlg::DestroyDropDowns() {
    delete m_pItemCombo;
    m_pItemCombo = nullptr;
    delete m_pAggregateCombo;
    m_pAggregateCombo = nullptr;
}

void CReadProcessedDlg::ReleaseAggregateIds() {
    m_aggregates.clear();
}

bool CReadProcessedDlg::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_start.SetClock(m_timeStart);
        m_start.pMs->setText(QString::number(m_nStartMs));
        m_end.pMs->setText(QString::number(m_nEndMs));
        m_pResample->setText(QString::number(m_nResampleInterval));
        return true;
    }
    std::uint64_t startMs = 0, endMs = 0, interval = 0;
    if (!dlg::ReadNumber(this, m_start.pMs, 0, 999, &startMs)) return false;
    if (!dlg::ReadNumber(this, m_end.pMs, 0, 999, &endMs)) return false;
    if (!dlg::ReadNumber(this, m_pResample, 0, std::numeric_limits<LONG>::max(), &interval)) return false;
    m_nStartMs = static_cast<UINT>(startMs);
    m_nEndMs = static_cast<UINT>(endMs);
    m_nResampleInterval = static_cast<LONG>(interval);
    return true;
}

void CReadProcessedDlg::FillItemList() {
    m_pItemList->clear();
    m_pItemCombo->clear();
    const int cx = dlg::ListClientWidth(m_pItemList);
    m_pItemList->setColumnWidth(0, cx / 2);
    m_pItemList->setColumnWidth(1, cx / 2);
    if (!m_pServerPane) return;
    int nRow = 0;
    for (const std::u16string& id : m_pServerPane->GetSelectedItemIds()) {
        const QString text = ui::ToQString(id);
        auto* row = new QTreeWidgetItem(m_pItemList);
        row->setText(0, text);
        row->setToolTip(0, text);
        m_pItemCombo->insertItem(nRow++, text);
    }
    m_pItemCombo->setCurrentIndex(m_pItemCombo->count() > 0 ? 0 : -1);
}

void CReadProcessedDlg::FillAggregateList() {
    ReleaseAggregateIds();
    m_pServerAggregates->clear();
    m_pAggregateCombo->clear();
    client::AggregateList list =
        client::GetAggregates(m_pServerPane ? m_pServerPane->GetCurrentHdaServer() : nullptr);
    if (list.message) {
        client::Show(this, list.message);
        return;
    }
    m_aggregates = std::move(list.aggregates);

    const int cx = dlg::ListClientWidth(m_pServerAggregates);
    const int third = cx / 3;
    m_pServerAggregates->setColumnWidth(0, third);
    m_pServerAggregates->setColumnWidth(1, static_cast<int>(third * 2 * 2.5));

    for (const client::Aggregate& a : m_aggregates) {
        const QString name = ui::ToQString(a.name);
        const QString desc = ui::ToQString(a.description);
        auto* row = new QTreeWidgetItem(m_pServerAggregates);
        row->setText(0, name);
        row->setToolTip(0, name);
        row->setText(1, desc);
        row->setToolTip(1, desc);
        m_pAggregateCombo->addItem(name);
    }

    if (m_pAggregateCombo->count() > 0) {
        const QString first = m_pAggregateCombo->itemText(0);
        for (int r = 0; r < m_pItemList->topLevelItemCount(); ++r) dlg::SetCellText(m_pItemList, r, 1, first);
        m_pAggregateCombo->setCurrentIndex(0);
    }
}

void CReadProcessedDlg::OnSetAllItems() {
    if (!m_pAggregateCombo || m_pAggregateCombo->currentIndex() < 0) return;
    const QString name = m_pAggregateCombo->currentText();
    for (int r = 0; r < m_pItemList->topLevelItemCount(); ++r) dlg::SetCellText(m_pItemList, r, 1, name);
}

void CReadProcessedDlg::OnSetSelectedItem() {
    if (!m_pAggregateCombo || !m_pItemCombo || m_pAggregateCombo->currentIndex() < 0) return;
    // The row chosen in the item drop-down list, not the row highlighted in the list.
    const int nRow = m_pItemCombo->currentIndex();
    if (nRow < 0 || nRow >= m_pItemList->topLevelItemCount()) return;
    dlg::SetCellText(m_pItemList, nRow, 1, m_pAggregateCombo->currentText());
}

int CReadProcessedDlg::SelectedUnit() const {
    const QString text = m_pUnits->currentText().trimmed();
    if (text.isEmpty()) return -1;
    for (int i = 0; i < m_pUnits->count(); ++i)
        if (m_pUnits->itemText(i).compare(text, Qt::CaseInsensitive) == 0) return i;
    return -2;  // text of one's own that names no unit
}

LONGLONG CReadProcessedDlg::UnitTicks(int nUnit) {
    switch (nUnit) {
        case 0:
            return 10000LL;
        case 1:
            return 10000000LL;
        case 2:
            return 600000000LL;
        case 3:
            return 36000000000LL;
        default:
            return kDayTicks;
    }
}

void CReadProcessedDlg::OnOK() {
    if (!UpdateData(true)) return;

    if (!m_pAggregateCombo || m_pAggregateCombo->count() == 0) {
        hda::ShowMessage(this, u"Unable to perform ReadProcessed, No Aggregates Exist", u"Error",
                         hda::MsgIcon::Exclamation);
        reject();
        return;
    }

    const int nUnit = SelectedUnit();
    if (nUnit == -2) {
        hda::ShowMessage(
            this, u"Choose the unit of the resample interval: MilliSeconds, Seconds, Minutes, Hours or Days.",
            ui::ToU16(windowTitle()), hda::MsgIcon::Exclamation);
        m_pUnits->setFocus();
        return;
    }
    const LONGLONG ticks = UnitTicks(nUnit);
    const LONGLONG maxInterval = std::numeric_limits<LONGLONG>::max() / ticks;
    if (m_nResampleInterval > maxInterval) {
        hda::ShowMessage(this,
                         com::FormatW(u"The resample interval can be at most %lld %s.",
                                      {maxInterval, kUnits[nUnit >= 0 && nUnit < kUnitCount ? nUnit : 4]}),
                         ui::ToU16(windowTitle()), hda::MsgIcon::Exclamation);
        m_pResample->setFocus();
        m_pResample->selectAll();
        return;
    }

    const int nRows = m_pItemList->topLevelItemCount();
    std::vector<DWORD> itemAggregates(static_cast<std::size_t>(nRows));
    for (int r = 0; r < nRows; ++r) {
        // The first aggregate of that name: equal names always resolve to the first.
        const int nAt = m_pAggregateCombo->findText(m_pItemList->topLevelItem(r)->text(1),
                                                    Qt::MatchExactly | Qt::MatchCaseSensitive);
        itemAggregates[static_cast<std::size_t>(r)] =
            (nAt >= 0 && static_cast<std::size_t>(nAt) < m_aggregates.size()) ? m_aggregates[nAt].id
                                                                              : m_aggregates[0].id;
    }

    m_strStartTime = m_start.TimeText(m_nStartMs);
    m_strEndTime = m_end.TimeText(m_nEndMs);
    m_ftResampleInterval =
        U64ToFileTime(static_cast<ULONGLONG>(static_cast<LONGLONG>(m_nResampleInterval) * ticks));
    m_itemAggregates = std::move(itemAggregates);
    accept();
}

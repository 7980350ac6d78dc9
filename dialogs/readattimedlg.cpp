#include "dialogs/readattimedlg.h"

#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <limits>
#include <new>

#include "client/timetext.h"
#include "com/text.h"
#include "hda/messages.h"
#include "resources/uikit.h"

CReadAtTimeDlg::CReadAtTimeDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Read At Time"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    at.Place(dlg::MakeGroup(this, QStringLiteral("Timestamp")), 7, 7, 74, 85);
    m_moment.pDate = dlg::MakeDatePicker(this, IDC_TIMESTAMP_DATE);
    at.Place(m_moment.pDate, 15, 19, 60, 13);
    m_moment.pTime = dlg::MakeTimePicker(this, IDC_TIMESTAMP_TIME);
    at.Place(m_moment.pTime, 15, 36, 60, 13);
    m_moment.pMs = dlg::MakeNumberEdit(this, IDC_TIMESTAMP_MS, false);
    at.Place(m_moment.pMs, 15, 54, 30, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 48, 56, 14, 8);
    m_pAdd = new QPushButton(QStringLiteral("Add Timestamp"), this);
    dlg::SetCtrlId(m_pAdd, IDC_ADD_TIMESTAMP);
    at.Place(m_pAdd, 16, 73, 58, 14);

    m_pListGroup = dlg::MakeGroup(this, QStringLiteral("Timestamps To Read"), IDC_TIMESTAMP_GROUP);
    at.Place(m_pListGroup, 85, 7, 154, 89);
    m_pList = dlg::MakeReportList(this, IDC_TIMESTAMP_LIST, {QStringLiteral("Timestamps")});
    at.Place(m_pList, 94, 16, 137, 62);
    m_pRemove = new QPushButton(QStringLiteral("Remove Timestamp"), this);
    dlg::SetCtrlId(m_pRemove, IDC_REMOVE_TIMESTAMP);
    at.Place(m_pRemove, 95, 79, 72, 14);

    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 131, 101, 50, 14);
    m_pOk = new QPushButton(QStringLiteral("Read At Time"), this);
    dlg::SetCtrlId(m_pOk, IDOK);
    m_pOk->setDefault(true);
    at.Place(m_pOk, 186, 101, 58, 14);

    setFixedSize(at.Size(251, 122));
    connect(m_pAdd, &QPushButton::clicked, this, &CReadAtTimeDlg::OnAddTimestamp);
    connect(m_pRemove, &QPushButton::clicked, this, &CReadAtTimeDlg::OnRemoveTimestamp);
    connect(m_pOk, &QPushButton::clicked, this, &CReadAtTimeDlg::OnOK);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CReadAtTimeDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CReadAtTimeDlg::OnInitDialog() {
    if (m_bDeleteMode) {
        setWindowTitle(QStringLiteral("Delete At Time"));
        m_pListGroup->setTitle(QStringLiteral("Timestamps To Delete"));
        m_pOk->setText(QStringLiteral("Delete At Time"));
    }
    m_moment.basis = m_timeBasis;
    m_timeDate = m_timeClock = dlg::NowSeconds();
    m_nMilliseconds = 0;
    UpdateData(false);
    m_pList->clear();
    m_pList->setColumnWidth(0, dlg::ListClientWidth(m_pList));
    m_moment.pDate->setFocus();
}

bool CReadAtTimeDlg::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_moment.SetDate(m_timeDate);
        m_moment.SetClock(m_timeClock);
        m_moment.pMs->setText(QString::number(m_nMilliseconds));
        return true;
    }
    std::uint64_t ms = 0;
    if (!dlg::ReadNumber(this, m_moment.pMs, 0, 999, &ms)) return false;
    m_nMilliseconds = static_cast<UINT>(ms);
    return true;
}

void CReadAtTimeDlg::OnAddTimestamp() {
    if (!UpdateData(true)) return;
    const QString text = ui::ToQString(m_moment.TimeText(m_nMilliseconds));
    // Newest on top; the same moment may be listed more than once.
    auto* row = new QTreeWidgetItem();
    row->setText(0, text);
    row->setToolTip(0, text);
    m_pList->insertTopLevelItem(0, row);
}

void CReadAtTimeDlg::OnRemoveTimestamp() {
    if (!UpdateData(true)) return;
    // The rows selected now, not whatever the list selects as the current row moves on.
    const QList<QTreeWidgetItem*> selected = m_pList->selectedItems();
    if (selected.isEmpty()) return;
    qDeleteAll(selected);
    m_pList->clearSelection();
}

void CReadAtTimeDlg::OnOK() {
    const int nRows = m_pList->topLevelItemCount();
    if (nRows == 0) return;  // nothing to hand over: stay open
    if (!UpdateData(true)) return;

    const long long n = m_bDeleteMode ? (m_nItemCount > 0 ? m_nItemCount : 0) : 1;
    const long long total = n * nRows;
    if (total > std::numeric_limits<LONG>::max()) {
        hda::ShowMessage(this, u"Too many timestamps for the selected items.", ui::ToU16(windowTitle()),
                         hda::MsgIcon::Exclamation);
        return;
    }
    std::vector<FILETIME> timeStamps;
    try {
        timeStamps.reserve(static_cast<std::size_t>(total));
    } catch (const std::bad_alloc&) {
        hda::ShowMessage(this, u"Out of Memory!!!", u"Error", hda::MsgIcon::Exclamation);
        return;
    }
    for (int r = 0; r < nRows; ++r) {
        const QString text = m_pList->topLevelItem(r)->text(0);
        FILETIME ft{};
        if (!client::TimeTextToFileTime(ui::ToU16(text), &ft, m_timeBasis)) {
            hda::ShowMessage(this, com::FormatW(u"%s is not a moment that can be read.", {ui::ToU16(text)}),
                             ui::ToU16(windowTitle()), hda::MsgIcon::Exclamation);
            m_pList->setCurrentItem(m_pList->topLevelItem(r));
            return;
        }
        timeStamps.insert(timeStamps.end(), static_cast<std::size_t>(n), ft);
    }
    m_timeStamps = std::move(timeStamps);
    accept();
}

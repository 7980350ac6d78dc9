#include "dialogs/deleterawdlg.h"

#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>

#include "resources/uikit.h"

CDeleteRawDlg::CDeleteRawDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Delete Raw"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    // Created in tab order.
    at.Place(dlg::MakeGroup(this, QStringLiteral("Start Time")), 7, 7, 74, 63);
    m_start.pDate = dlg::MakeDatePicker(this, IDC_START_DATE);
    at.Place(m_start.pDate, 15, 19, 60, 13);
    m_start.pTime = dlg::MakeTimePicker(this, IDC_START_TIME);
    at.Place(m_start.pTime, 15, 35, 60, 13);
    m_start.pMs = dlg::MakeNumberEdit(this, IDC_START_MS, false);
    at.Place(m_start.pMs, 15, 52, 49, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 66, 54, 12, 8);

    at.Place(dlg::MakeGroup(this, QStringLiteral("End Time")), 84, 7, 74, 63);
    m_end.pDate = dlg::MakeDatePicker(this, IDC_END_DATE);
    at.Place(m_end.pDate, 92, 19, 60, 13);
    m_end.pTime = dlg::MakeTimePicker(this, IDC_END_TIME);
    at.Place(m_end.pTime, 92, 35, 60, 13);
    m_end.pMs = dlg::MakeNumberEdit(this, IDC_END_MS, false);
    at.Place(m_end.pMs, 92, 52, 49, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 143, 54, 12, 8);

    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 53, 73, 50, 14);
    auto* pOk = new QPushButton(QStringLiteral("Delete Raw"), this);
    dlg::SetCtrlId(pOk, IDOK);
    pOk->setDefault(true);
    at.Place(pOk, 108, 73, 50, 14);
    setTabOrder(m_end.pMs, pOk);
    setTabOrder(pOk, pCancel);

    setFixedSize(at.Size(165, 94));
    connect(pOk, &QPushButton::clicked, this, &CDeleteRawDlg::OnOK);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CDeleteRawDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CDeleteRawDlg::OnInitDialog() {
    // The start ten minutes back with its own date, so that just after midnight the range still runs
    // forward (yesterday 23:55 to today 00:05) rather than from 23:55 today.
    m_start.basis = m_end.basis = m_timeBasis;
    const std::int64_t now = dlg::NowSeconds();
    m_timeStart = now - 600;
    m_timeEnd = now;
    m_nStartMs = m_nEndMs = 0;
    m_start.SetDate(m_timeStart);
    m_end.SetDate(m_timeEnd);
    UpdateData(false);
    m_start.pDate->setFocus();
}

bool CDeleteRawDlg::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_start.SetClock(m_timeStart);
        m_end.SetClock(m_timeEnd);
        m_start.pMs->setText(QString::number(m_nStartMs));
        m_end.pMs->setText(QString::number(m_nEndMs));
        return true;
    }
    std::uint64_t startMs = 0, endMs = 0;
    if (!dlg::ReadNumber(this, m_start.pMs, 0, 999, &startMs)) return false;
    if (!dlg::ReadNumber(this, m_end.pMs, 0, 999, &endMs)) return false;
    m_nStartMs = static_cast<UINT>(startMs);
    m_nEndMs = static_cast<UINT>(endMs);
    return true;
}

void CDeleteRawDlg::OnOK() {
    if (!UpdateData(true)) return;
    // A start after the end is the server's to judge.
    m_strStartTime = m_start.TimeText(m_nStartMs);
    m_strEndTime = m_end.TimeText(m_nEndMs);
    accept();
}

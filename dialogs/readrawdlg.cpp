#include "dialogs/readrawdlg.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>

#include "hda/messages.h"
#include "resources/uikit.h"

namespace {
QCheckBox* MakeCheck(QWidget* parent, const QString& text, int nId) {
    auto* p = new QCheckBox(text, parent);
    dlg::SetCtrlId(p, nId);
    return p;
}
}  // namespace

CReadRawDlg::CReadRawDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Read Raw"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    // Created in tab order.
    at.Place(dlg::MakeGroup(this, QStringLiteral("Start Time")), 7, 7, 74, 75);
    m_start.pDate = dlg::MakeDatePicker(this, IDC_START_DATE);
    at.Place(m_start.pDate, 15, 18, 60, 13);
    m_start.pTime = dlg::MakeTimePicker(this, IDC_START_TIME);
    at.Place(m_start.pTime, 15, 34, 60, 13);
    m_start.pMs = dlg::MakeNumberEdit(this, IDC_START_MS, false);
    at.Place(m_start.pMs, 15, 50, 30, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 48, 52, 14, 8);
    m_pUseStart = MakeCheck(this, QStringLiteral("Use Start Time"), IDC_USE_START_TIME);
    at.Place(m_pUseStart, 15, 67, 62, 10);

    at.Place(dlg::MakeGroup(this, QStringLiteral("End Time")), 84, 7, 74, 75);
    m_end.pDate = dlg::MakeDatePicker(this, IDC_END_DATE);
    at.Place(m_end.pDate, 92, 18, 60, 13);
    m_end.pTime = dlg::MakeTimePicker(this, IDC_END_TIME);
    at.Place(m_end.pTime, 92, 34, 60, 13);
    m_end.pMs = dlg::MakeNumberEdit(this, IDC_END_MS, false);
    at.Place(m_end.pMs, 92, 50, 30, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 125, 52, 14, 8);
    m_pUseEnd = MakeCheck(this, QStringLiteral("Use End Time"), IDC_USE_END_TIME);
    at.Place(m_pUseEnd, 91, 67, 62, 10);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Max Num Values")), 160, 7, 74, 33);
    m_pMaxValues = dlg::MakeNumberEdit(this, IDC_MAX_VALUES, true);
    at.Place(m_pMaxValues, 166, 20, 60, 13);
    m_pGetBounds = MakeCheck(this, QStringLiteral("Get Bounds"), IDC_GET_BOUNDS);
    at.Place(m_pGetBounds, 164, 50, 60, 10);

    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 136, 92, 50, 14);
    m_pOk = new QPushButton(QStringLiteral("Read Raw"), this);
    dlg::SetCtrlId(m_pOk, IDOK);
    m_pOk->setDefault(true);
    at.Place(m_pOk, 189, 92, 50, 14);
    setTabOrder(m_pGetBounds, m_pOk);
    setTabOrder(m_pOk, pCancel);

    setFixedSize(at.Size(246, 113));
    connect(m_pOk, &QPushButton::clicked, this, &CReadRawDlg::OnOK);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CReadRawDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CReadRawDlg::OnInitDialog() {
    // The start boxes show the moment ten minutes ago, its date included, so that the default range
    // is a range also just after midnight; the end boxes show now.
    if (m_bModifiedMode) {
        setWindowTitle(QStringLiteral("Read Modified"));
        m_pOk->setText(QStringLiteral("Read Modified"));
        m_pGetBounds->hide();
        m_bGetBounds = FALSE;
    }
    m_start.basis = m_end.basis = m_timeBasis;
    const std::int64_t now = dlg::NowSeconds();
    m_timeStart = now - 600;
    m_start.SetDate(m_timeStart);
    m_end.SetDate(now);
    m_end.SetClock(now);
    UpdateData(false);
    m_start.pDate->setFocus();
}

bool CReadRawDlg::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_start.SetClock(m_timeStart);
        m_start.pMs->setText(QString::number(m_nStartMs));
        m_end.pMs->setText(QString::number(m_nEndMs));
        m_pUseStart->setChecked(m_bUseStartTime);
        m_pUseEnd->setChecked(m_bUseEndTime);
        m_pMaxValues->setText(QString::number(m_nMaxValues));
        m_pGetBounds->setChecked(m_bGetBounds);
        return true;
    }
    std::uint64_t startMs = 0, endMs = 0, maxValues = 0;
    if (!dlg::ReadNumber(this, m_start.pMs, 0, 999, &startMs)) return false;
    if (!dlg::ReadNumber(this, m_end.pMs, 0, 999, &endMs)) return false;
    if (!dlg::ReadNumber(this, m_pMaxValues, 0, 0xFFFFFFFFu, &maxValues)) return false;
    m_nStartMs = static_cast<UINT>(startMs);
    m_nEndMs = static_cast<UINT>(endMs);
    m_nMaxValues = static_cast<DWORD>(maxValues);
    m_bUseStartTime = m_pUseStart->isChecked() ? TRUE : FALSE;
    m_bUseEndTime = m_pUseEnd->isChecked() ? TRUE : FALSE;
    m_bGetBounds = m_pGetBounds->isChecked() ? TRUE : FALSE;
    return true;
}

void CReadRawDlg::OnOK() {
    if (!UpdateData(true)) return;

    const int nGiven = (m_bUseStartTime ? 1 : 0) + (m_bUseEndTime ? 1 : 0) + (m_nMaxValues != 0 ? 1 : 0);
    if (nGiven < 2) {
        hda::ShowMessage(this, u"You must specify two of three of Start Time, EndTime and Max Values",
                         u"Cannot Perform Operation", hda::MsgIcon::Exclamation);
        return;
    }
    // Both texts, whatever the check boxes say: the caller decides what is in use.
    m_strStartTime = m_start.TimeText(m_nStartMs);
    m_strEndTime = m_end.TimeText(m_nEndMs);
    accept();
}

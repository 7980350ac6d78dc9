#include "dialogs/datageneratordlg.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimeEdit>
#include <limits>

#include "com/text.h"
#include "dialogs/insertdlg.h"
#include "hda/messages.h"
#include "resources/uikit.h"

namespace dlg {

ULONGLONG TicksPerUnit(int nPosition) {
    switch (nPosition) {
        case 0:
            return 10000ULL;  // milliseconds
        case 1:
            return 10000000ULL;  // seconds
        case 2:
            return 600000000ULL;  // minutes
        case 3:
            return 36000000000ULL;  // hours
        default:
            return 864000000000ULL;  // days
    }
}

RampEnd MakeRamp(const RampSettings& s, std::size_t maxRows, std::vector<DataRow>* pRows) {
    double v = s.dInitial;
    const double e = s.dEnd, d = s.dIncrement;
    if (d == 0 || (d > 0 && v > e) || (d < 0 && v < e)) return RampEnd::WrongSign;
    // The last tick count FileTimeToSystemTime takes.
    constexpr ULONGLONG kLastTick = 0x7FFFFFFFFFFFFFFFULL;
    ULONGLONG ticks = s.startLocalTicks;
    bool bTicksOk = ticks <= kLastTick;
    std::size_t made = 0;
    while (d > 0 ? v < e : v > e) {
        if (made == maxRows) return RampEnd::RowLimit;
        if (!bTicksOk) return RampEnd::TimeRange;
        DataRow row;
        row.bGenerated = true;
        row.number = v;
        row.localTicks = ticks;
        row.quality = s.strQuality;
        pRows->push_back(std::move(row));
        ++made;
        const double next = v + d;
        if (next == v) return RampEnd::NoProgress;
        v = next;
        bTicksOk = !s.bStepOverflow && !__builtin_add_overflow(ticks, s.step, &ticks) && ticks <= kLastTick;
    }
    return RampEnd::Done;
}

}  // namespace dlg

namespace {

const char16_t kCaption[] = u"Error";

QLineEdit* MakeRealEdit(QWidget* parent, int nId) {
    auto* p = new QLineEdit(parent);
    dlg::SetCtrlId(p, nId);
    // Digits, with what a real number needs besides: sign, point, exponent.
    p->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[-+0-9.eE ]*")), p));
    p->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return p;
}

}  // namespace

CDataGeneratorDlg::CDataGeneratorDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Data Generator"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    // Created in tab order.
    at.Place(dlg::MakeGroup(this, QStringLiteral("Generator")), 7, 7, 290, 111);
    at.Place(dlg::MakeGroup(this, QStringLiteral("Value")), 21, 14, 92, 81);
    at.Place(dlg::MakeLabel(this, QStringLiteral("Initial Value")), 26, 25, 43, 8);
    m_pInitial = MakeRealEdit(this, IDC_GEN_INITIAL_VALUE);
    at.Place(m_pInitial, 70, 23, 40, 12);
    at.Place(dlg::MakeLabel(this, QStringLiteral("Increment by")), 26, 39, 43, 8);
    m_pIncrement = MakeRealEdit(this, IDC_GEN_VALUE_INCREMENT);
    at.Place(m_pIncrement, 70, 38, 40, 12);
    at.Place(dlg::MakeLabel(this, QStringLiteral("End Value")), 26, 55, 43, 8);
    m_pEnd = MakeRealEdit(this, IDC_GEN_END_VALUE);
    at.Place(m_pEnd, 70, 54, 40, 12);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Timestamp")), 117, 14, 94, 98);
    QLabel* pInitialTime = dlg::MakeLabel(this, QStringLiteral("Initial Time"));
    pInitialTime->setWordWrap(true);
    pInitialTime->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    at.Place(pInitialTime, 122, 28, 21, 21);
    m_start.pDate = dlg::MakeDatePicker(this, IDC_GEN_START_DATE);
    at.Place(m_start.pDate, 148, 25, 58, 13);
    m_start.pTime = dlg::MakeTimePicker(this, IDC_GEN_START_TIME);
    at.Place(m_start.pTime, 148, 41, 58, 13);
    m_start.pMs = dlg::MakeNumberEdit(this, IDC_GEN_START_MS, false);
    at.Place(m_start.pMs, 148, 58, 46, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 195, 60, 12, 8);
    at.Place(dlg::MakeLabel(this, QStringLiteral("Increment by")), 121, 80, 43, 8);
    m_pTimeIncrement = dlg::MakeNumberEdit(this, IDC_GEN_TIME_INCREMENT, true);
    at.Place(m_pTimeIncrement, 165, 78, 40, 12);
    m_pUnits =
        dlg::MakeEditCombo(this, IDC_GEN_TIME_UNITS,
                           {QStringLiteral("MilliSeconds"), QStringLiteral("Seconds"),
                            QStringLiteral("Minutes"), QStringLiteral("Hours"), QStringLiteral("Days")});
    at.Place(m_pUnits, 142, 94, 64, 13);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Quality")), 221, 14, 67, 32);
    m_pQuality = dlg::MakeEditCombo(
        this, IDC_GEN_QUALITY, {QStringLiteral("Good"), QStringLiteral("Uncertain"), QStringLiteral("Bad")});
    at.Place(m_pQuality, 227, 25, 58, 13);
    auto* pGenerate = new QPushButton(QStringLiteral("Generate"), this);
    dlg::SetCtrlId(pGenerate, IDC_GENERATE);
    at.Place(pGenerate, 221, 100, 65, 13);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Data")), 7, 126, 297, 112);
    m_pList = new dlg::CDataRowList(this, IDC_GEN_LIST);
    at.Place(m_pList, 14, 143, 284, 89);

    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 191, 244, 50, 14);
    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    dlg::SetCtrlId(pOk, IDOK);
    pOk->setDefault(true);
    at.Place(pOk, 254, 244, 50, 14);

    setFixedSize(at.Size(311, 265));
    connect(pGenerate, &QPushButton::clicked, this, &CDataGeneratorDlg::OnGenerate);
    connect(pOk, &QPushButton::clicked, this, &CDataGeneratorDlg::OnOK);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CDataGeneratorDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CDataGeneratorDlg::OnInitDialog() {
    const int third = m_pList->ClientWidth() / 3;
    for (int c = 0; c < 3; ++c) m_pList->header()->resizeSection(c, third);
    m_start.basis = m_timeBasis;
    const std::int64_t now = dlg::NowSeconds();
    m_timeStart = now;
    m_start.SetDate(now);
    m_pQuality->setCurrentIndex(0);  // "Good"
    m_pUnits->setCurrentIndex(1);    // "Seconds"
    m_dInitialValue = 1.0;
    m_dValueIncrement = 1.0;
    m_dEndValue = 10.0;
    m_nTimeIncrement = 1;
    m_nMilliseconds = 0;
    UpdateData(false);
    m_pInitial->setFocus();
}

bool CDataGeneratorDlg::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_pInitial->setText(dlg::DoubleText(m_dInitialValue));
        m_pIncrement->setText(dlg::DoubleText(m_dValueIncrement));
        m_pEnd->setText(dlg::DoubleText(m_dEndValue));
        m_pTimeIncrement->setText(QString::number(m_nTimeIncrement));
        m_start.SetClock(m_timeStart);
        m_start.pMs->setText(QString::number(m_nMilliseconds));
        return true;
    }
    // All or nothing: a box that is refused leaves every member as it was.
    double initial = 0, increment = 0, end = 0;
    std::uint64_t timeIncrement = 0, ms = 0;
    if (!dlg::ReadDouble(this, m_pInitial, &initial)) return false;
    if (!dlg::ReadDouble(this, m_pIncrement, &increment)) return false;
    if (!dlg::ReadDouble(this, m_pEnd, &end)) return false;
    if (!dlg::ReadNumber(this, m_pTimeIncrement, 0, std::numeric_limits<UINT>::max(), &timeIncrement))
        return false;
    if (!dlg::ReadNumber(this, m_start.pMs, 0, 999, &ms)) return false;
    m_dInitialValue = initial;
    m_dValueIncrement = increment;
    m_dEndValue = end;
    m_nTimeIncrement = static_cast<UINT>(timeIncrement);
    m_nMilliseconds = static_cast<UINT>(ms);
    return true;
}

void CDataGeneratorDlg::OnGenerate() {
    ui::WaitCursor wait;
    // A refused box makes no rows: the ramp would be built from values the user did not enter.
    if (!UpdateData(true)) return;

    dlg::RampSettings s;
    s.dInitial = m_dInitialValue;
    s.dIncrement = m_dValueIncrement;
    s.dEnd = m_dEndValue;
    if (!m_start.LocalTicks(m_nMilliseconds, &s.startLocalTicks)) {
        hda::ShowMessage(
            this,
            com::FormatW(u"%s is not a moment that can be written.", {m_start.TimeText(m_nMilliseconds)}),
            kCaption, hda::MsgIcon::Exclamation);
        return;
    }
    // The unit by its entry; a typed text that is no entry counts as no entry selected.
    const int nUnit = m_pUnits->findText(m_pUnits->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    s.bStepOverflow =
        __builtin_mul_overflow(static_cast<ULONGLONG>(m_nTimeIncrement), dlg::TicksPerUnit(nUnit), &s.step);
    s.strQuality = m_pQuality->currentText();

    dlg::CDataRowModel& rows = *m_pList->Rows();
    const std::size_t room =
        kMaxRows - std::min<std::size_t>(kMaxRows, static_cast<std::size_t>(rows.Count()));
    std::vector<dlg::DataRow> made;
    const dlg::RampEnd end = dlg::MakeRamp(s, room, &made);
    rows.InsertOnTop(std::move(made));

    switch (end) {
        case dlg::RampEnd::Done:
            break;
        case dlg::RampEnd::WrongSign:
            hda::ShowMessage(this, u"Error Calculating Output, change sign of Incremnt value", kCaption,
                             hda::MsgIcon::Exclamation);
            break;
        case dlg::RampEnd::RowLimit:
            hda::ShowMessage(
                this,
                com::FormatW(u"The list holds at most %u generated rows: generation stopped there.",
                             {static_cast<unsigned long long>(kMaxRows)}),
                kCaption, hda::MsgIcon::Exclamation);
            break;
        case dlg::RampEnd::NoProgress:
            hda::ShowMessage(
                this,
                com::FormatW(u"Generation stopped at %s: adding the increment no longer changes the "
                             u"value.",
                             {ui::ToU16(rows.Count() > 0 ? rows.Row(0).ValueText() : QString())}),
                kCaption, hda::MsgIcon::Exclamation);
            break;
        case dlg::RampEnd::TimeRange:
            hda::ShowMessage(
                this,
                com::FormatW(u"Generation stopped at %s: the next timestamp is past the last moment "
                             u"that can be written.",
                             {ui::ToU16(rows.Count() > 0 ? rows.Row(0).TimeText() : QString())}),
                kCaption, hda::MsgIcon::Exclamation);
            break;
    }
}

void CDataGeneratorDlg::OnOK() {
    // Checked before anything is copied, so that a refused box and a second OK do not copy twice.
    if (!UpdateData(true)) return;
    // Each row from the top goes on top of the owner's list: the oldest ends on top there.
    if (m_pOwner) m_pOwner->GetDataList()->Rows()->InsertOnTop(m_pList->Rows()->TopFirst());
    accept();
}

#include "dialogs/insertdlg.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <limits>
#include <new>

#include "client/timetext.h"
#include "com/text.h"
#include "dialogs/datageneratordlg.h"
#include "hda/messages.h"
#include "resources/uikit.h"

CInsertDlg::CInsertDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Insert"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    // Created in tab order.
    at.Place(dlg::MakeGroup(this, QStringLiteral("Data")), 7, 7, 230, 77);
    at.Place(dlg::MakeGroup(this, QStringLiteral("Value")), 13, 14, 67, 37);
    m_pValue = new QLineEdit(this);
    dlg::SetCtrlId(m_pValue, IDC_INSERT_VALUE);
    at.Place(m_pValue, 16, 28, 59, 14);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Timestamp")), 85, 13, 79, 61);
    m_moment.pDate = dlg::MakeDatePicker(this, IDC_INSERT_DATE);
    at.Place(m_moment.pDate, 89, 22, 58, 13);
    m_moment.pTime = dlg::MakeTimePicker(this, IDC_INSERT_TIME);
    at.Place(m_moment.pTime, 89, 38, 58, 13);
    m_moment.pMs = dlg::MakeNumberEdit(this, IDC_INSERT_MS, false);
    at.Place(m_moment.pMs, 90, 56, 57, 13);
    at.Place(dlg::MakeLabel(this, QStringLiteral("ms")), 148, 58, 12, 8);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Quality")), 170, 12, 64, 37);
    m_pQuality =
        dlg::MakeEditCombo(this, IDC_INSERT_QUALITY,
                           {QStringLiteral("Good"), QStringLiteral("Bad"), QStringLiteral("Uncertain")});
    at.Place(m_pQuality, 173, 28, 55, 13);
    auto* pAdd = new QPushButton(QStringLiteral("Add Data Item"), this);
    dlg::SetCtrlId(pAdd, IDC_ADD_DATA_ITEM);
    at.Place(pAdd, 169, 57, 57, 13);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Data to Insert")), 7, 84, 230, 132);
    m_pList = new dlg::CDataRowList(this, IDC_DATA_LIST);
    at.Place(m_pList, 16, 95, 215, 99);
    auto* pGenerator = new QPushButton(QStringLiteral("Data Generator"), this);
    dlg::SetCtrlId(pGenerator, IDC_DATA_GENERATOR);
    at.Place(pGenerator, 95, 199, 57, 13);
    auto* pRemove = new QPushButton(QStringLiteral("Remove Data"), this);
    dlg::SetCtrlId(pRemove, IDC_REMOVE_DATA);
    at.Place(pRemove, 163, 198, 68, 13);

    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 119, 221, 50, 14);
    m_pOk = new QPushButton(QStringLiteral("Insert"), this);
    dlg::SetCtrlId(m_pOk, IDOK);
    m_pOk->setDefault(true);
    at.Place(m_pOk, 171, 221, 66, 14);

    setFixedSize(at.Size(244, 242));
    connect(pAdd, &QPushButton::clicked, this, &CInsertDlg::OnAddDataItem);
    connect(pRemove, &QPushButton::clicked, this, &CInsertDlg::OnRemoveData);
    connect(pGenerator, &QPushButton::clicked, this, &CInsertDlg::OnDataGenerator);
    connect(m_pOk, &QPushButton::clicked, this, &CInsertDlg::OnOK);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CInsertDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

DWORD CInsertDlg::QualityOfText(std::u16string_view strQuality) {
    if (strQuality == u"Good") return 0xC0;
    if (strQuality == u"Uncertain") return 0x40;
    return 0x00;
}

void CInsertDlg::OnInitDialog() {
    m_moment.basis = m_timeBasis;
    if (m_bReplace) {
        setWindowTitle(QStringLiteral("Replace"));
        m_pOk->setText(QStringLiteral("Replace"));
    } else if (m_bInsertReplace) {
        setWindowTitle(QStringLiteral("Insert/Replace"));
        m_pOk->setText(QStringLiteral("Insert/Replace"));
    }
    m_timeDate = m_timeTime = dlg::NowSeconds();
    m_nMilliseconds = 0;
    m_strValue.assign(1, u'1');
    m_pQuality->setCurrentIndex(0);
    const int width = m_pList->ClientWidth();
    m_pList->header()->resizeSection(0, width / 3);
    m_pList->header()->resizeSection(1, width / 2);
    m_pList->header()->resizeSection(2, width / 6);
    UpdateData(false);
    m_pValue->setFocus();
}

bool CInsertDlg::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_pValue->setText(ui::ToQString(m_strValue));
        m_moment.SetDate(m_timeDate);
        m_moment.SetClock(m_timeTime);
        m_moment.pMs->setText(QString::number(m_nMilliseconds));
        return true;
    }
    std::uint64_t ms = 0;
    if (!dlg::ReadNumber(this, m_moment.pMs, 0, 999, &ms)) return false;
    m_nMilliseconds = static_cast<UINT>(ms);
    m_strValue = ui::ToU16(m_pValue->text());
    return true;
}

void CInsertDlg::OnAddDataItem() {
    if (!UpdateData(true)) return;
    dlg::DataRow row;
    if (!m_moment.LocalTicks(m_nMilliseconds, &row.localTicks)) {
        hda::ShowMessage(
            this,
            com::FormatW(u"%s is not a moment that can be written.", {m_moment.TimeText(m_nMilliseconds)}),
            ui::ToU16(windowTitle()), hda::MsgIcon::Exclamation);
        return;
    }
    row.value = ui::ToQString(m_strValue);
    // A typed quality text counts as the entry's text would.
    row.quality = m_pQuality->currentText();
    std::vector<dlg::DataRow> rows;
    rows.push_back(std::move(row));
    m_pList->Rows()->InsertOnTop(std::move(rows));
}

void CInsertDlg::OnRemoveData() {
    m_pList->Rows()->RemoveRows(m_pList->SelectedRows());
}

void CInsertDlg::OnDataGenerator() {
    CDataGeneratorDlg dlg;
    dlg.m_pOwner = this;
    dlg.m_timeBasis = m_timeBasis;
    dlg.exec();
}

void CInsertDlg::OnOK() {
    const dlg::CDataRowModel& rows = *m_pList->Rows();
    const int nRows = rows.Count();
    if (nRows == 0) {
        hda::ShowMessage(this, u"There is no data to insert", u"Error", hda::MsgIcon::Question);
        return;
    }
    if (!UpdateData(true)) return;

    const long long n = m_nItemCount > 0 ? m_nItemCount : 0;
    const long long total = n * nRows;
    if (total > std::numeric_limits<LONG>::max()) {
        hda::ShowMessage(this, u"Too many rows for the selected items.", ui::ToU16(windowTitle()),
                         hda::MsgIcon::Exclamation);
        return;
    }
    std::vector<std::u16string> values;
    std::vector<FILETIME> timeStamps;
    std::vector<DWORD> qualities;
    try {
        values.reserve(static_cast<std::size_t>(total));
        timeStamps.reserve(static_cast<std::size_t>(total));
        qualities.reserve(static_cast<std::size_t>(total));
        for (int r = 0; r < nRows; ++r) {
            const dlg::DataRow& row = rows.Row(r);
            // To UTC on the dialog's basis (by default the bias in force now, whatever the season of
            // the row's own date).
            const FILETIME ftLocal = U64ToFileTime(row.localTicks);
            FILETIME ftUtc{};
            if (!client::DisplayToUtc(ftLocal, m_timeBasis, &ftUtc)) {
                hda::ShowMessage(this,
                                 com::FormatW(u"Row %i: the local time %s has no UTC time; the row cannot be "
                                              u"written.",
                                              {r + 1, ui::ToU16(row.TimeText())}),
                                 ui::ToU16(windowTitle()), hda::MsgIcon::Exclamation);
                m_pList->setCurrentIndex(m_pList->model()->index(r, 0));
                return;
            }
            const std::u16string value = ui::ToU16(row.ValueText());
            const DWORD quality = QualityOfText(ui::ToU16(row.quality));
            for (long long j = 0; j < n; ++j) {
                values.push_back(value);
                timeStamps.push_back(ftUtc);
                qualities.push_back(quality);
            }
        }
    } catch (const std::bad_alloc&) {
        hda::ShowMessage(this, u"Out of Memory!!!", u"Error", hda::MsgIcon::Exclamation);
        return;
    }
    m_nRowCount = nRows;
    m_values = std::move(values);
    m_timeStamps = std::move(timeStamps);
    m_qualities = std::move(qualities);
    accept();
}

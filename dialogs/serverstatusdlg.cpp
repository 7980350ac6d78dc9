#include "dialogs/serverstatusdlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "com/objbase.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "dialogs/dlgkit.h"
#include "hda/messages.h"
#include "hda/opchda.h"
#include "outputpane/textforms.h"
#include "resources/uikit.h"

namespace {

struct BoxLayout {
    const char* label;
    int nId;
    int xLabel;
};
constexpr BoxLayout kBoxes[9] = {
    {"Server Status", CServerStatusDlg::IDC_SERVER_STATUS, 7},
    {"Status string", CServerStatusDlg::IDC_STATUS_STRING, 7},
    {"CurrentTime", CServerStatusDlg::IDC_CURRENT_TIME, 8},
    {"Start Time", CServerStatusDlg::IDC_START_TIME, 8},
    {"Major Version", CServerStatusDlg::IDC_MAJOR_VERSION, 7},
    {"Minor Version", CServerStatusDlg::IDC_MINOR_VERSION, 7},
    {"Build Number", CServerStatusDlg::IDC_BUILD_NUMBER, 7},
    {"Vendor Info", CServerStatusDlg::IDC_VENDOR_INFO, 7},
    {"Max Ret Vals", CServerStatusDlg::IDC_MAX_RETURN_VALUES, 7},
};

std::u16string InvalidTime(const FILETIME& ft) {
    return com::FormatW(u"%s%llX", {std::u16string_view(kInvalidTimestampText), FileTimeToU64(ft)});
}

// What a server returned, released whatever happens, however the call went.
struct StatusOuts {
    FILETIME* pftCurrent = nullptr;
    FILETIME* pftStart = nullptr;
    LPWSTR pszStatus = nullptr;
    LPWSTR pszVendor = nullptr;
    ~StatusOuts() {
        CoTaskMemFree(pftCurrent);
        CoTaskMemFree(pftStart);
        CoTaskMemFree(pszStatus);
        CoTaskMemFree(pszVendor);
    }
};

}  // namespace

CServerStatusDlg::CServerStatusDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Server Status"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    int y = 19;
    for (int i = 0; i < 9; ++i, y += 14) {
        at.Place(dlg::MakeLabel(this, QString::fromLatin1(kBoxes[i].label)), kBoxes[i].xLabel, y, 45, 8);
        auto* pBox = new QLineEdit(this);
        pBox->setReadOnly(true);
        dlg::SetCtrlId(pBox, kBoxes[i].nId);
        at.Place(pBox, 54, y - 2, 119, 12);
        m_pBoxes[i] = pBox;
    }
    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    dlg::SetCtrlId(pOk, IDOK);
    pOk->setDefault(true);
    at.Place(pOk, 129, 148, 50, 14);
    setFixedSize(at.Size(186, 169));
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
}

int CServerStatusDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CServerStatusDlg::OnInitDialog() {
    QueryStatus();
    UpdateData();
}

std::u16string CServerStatusDlg::StateText(int nState) {
    switch (nState) {
        case OPCHDA_UP:
            return u"The historian is running";
        case OPCHDA_DOWN:
            return u"The historian is not running";
        case OPCHDA_INDETERMINATE:
            return u"Indetermined: see status string";
        default:
            return {};
    }
}

std::u16string CServerStatusDlg::FormatStatusTime(const FILETIME* pftUtc) {
    if (!pftUtc) return {};
    const FILETIME ftUtc = *pftUtc;
    FILETIME ftLocal;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&ftUtc, &ftLocal) || !FileTimeToSystemTime(&ftLocal, &st) || st.wYear < 1900)
        return InvalidTime(ftUtc);
    return com::FormatW(u"%02u/%02u/%02u %02u:%02u:%02u",
                   {unsigned(st.wMonth), unsigned(st.wDay), unsigned(st.wYear % 100), unsigned(st.wHour),
                    unsigned(st.wMinute), unsigned(st.wSecond)});
}

void CServerStatusDlg::QueryStatus() {
    for (std::u16string* s : {&m_strServerStatus, &m_strStatusString, &m_strCurrentTime, &m_strStartTime,
                              &m_strMajorVersion, &m_strMinorVersion, &m_strBuildNumber, &m_strVendorInfo,
                              &m_strMaxReturnValues})
        s->clear();
    IOPCHDA_Server* pServer = m_pServerPane ? m_pServerPane->GetHdaServer(m_strServerKey) : nullptr;
    if (!pServer) {
        hda::ShowMessage(this, u"Unable to get status: the server is not connected", u"Error",
                         hda::MsgIcon::Exclamation);
        return;
    }

    OPCHDA_SERVERSTATUS state = static_cast<OPCHDA_SERVERSTATUS>(0);
    WORD wMajor = 0, wMinor = 0, wBuild = 0;
    DWORD dwMaxReturnValues = 0;
    StatusOuts outs;
    const HRESULT hr = pServer->GetHistorianStatus(&state, &outs.pftCurrent, &outs.pftStart, &wMajor, &wMinor,
                                                   &wBuild, &dwMaxReturnValues, &outs.pszStatus, &outs.pszVendor);
    if (FAILED(hr)) {
        hda::ShowMessage(this, com::FormatW(u"Unable to get status: GetHistorianStatus returns %x", {hr}), u"Error",
                         hda::MsgIcon::Exclamation);
        return;
    }

    m_strServerStatus = StateText(static_cast<int>(state));
    dlg::ServerString(outs.pszStatus, &m_strStatusString);
    dlg::ServerString(outs.pszVendor, &m_strVendorInfo);
    m_strCurrentTime = FormatStatusTime(outs.pftCurrent);
    m_strStartTime = FormatStatusTime(outs.pftStart);
    m_strMajorVersion = com::FormatW(u"%u", {wMajor});
    m_strMinorVersion = com::FormatW(u"%u", {wMinor});
    m_strBuildNumber = com::FormatW(u"%u", {wBuild});
    m_strMaxReturnValues = com::FormatW(u"%u", {dwMaxReturnValues});
}

void CServerStatusDlg::UpdateData() {
    const std::u16string* texts[9] = {&m_strServerStatus, &m_strStatusString,  &m_strCurrentTime,
                                      &m_strStartTime,    &m_strMajorVersion,  &m_strMinorVersion,
                                      &m_strBuildNumber,  &m_strVendorInfo,    &m_strMaxReturnValues};
    for (int i = 0; i < 9; ++i) m_pBoxes[i]->setText(QString::fromStdU16String(*texts[i]));
}

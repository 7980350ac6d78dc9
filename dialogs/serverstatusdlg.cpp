#include "dialogs/serverstatusdlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "client/status.h"
#include "dialogs/dlgkit.h"
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

void CServerStatusDlg::QueryStatus() {
    const client::ServerStatus status =
        client::GetHistorianStatus(m_pServerPane ? m_pServerPane->GetHdaServer(m_strServerKey) : nullptr);
    const client::StatusTexts texts = client::FormatServerStatus(status, m_timeBasis);
    m_strServerStatus = texts.serverStatus;
    m_strStatusString = texts.statusString;
    m_strCurrentTime = texts.currentTime;
    m_strStartTime = texts.startTime;
    m_strMajorVersion = texts.majorVersion;
    m_strMinorVersion = texts.minorVersion;
    m_strBuildNumber = texts.buildNumber;
    m_strVendorInfo = texts.vendorInfo;
    m_strMaxReturnValues = texts.maxReturnValues;
    client::Show(this, status.message);
    client::Show(this, client::StatusProblemsMessage(texts));
}

void CServerStatusDlg::UpdateData() {
    const std::u16string* texts[9] = {&m_strServerStatus, &m_strStatusString, &m_strCurrentTime,
                                      &m_strStartTime,    &m_strMajorVersion, &m_strMinorVersion,
                                      &m_strBuildNumber,  &m_strVendorInfo,   &m_strMaxReturnValues};
    for (int i = 0; i < 9; ++i) m_pBoxes[i]->setText(QString::fromStdU16String(*texts[i]));
}

#include "dialogs/addremoteserver.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <vector>

#include "com/text.h"
#include "dialogs/dlgkit.h"
#include "dialogs/ipaddressctrl.h"
#include "hda/messages.h"
#include "hda/netbrowse.h"
#include "resources/uikit.h"

namespace {

constexpr char16_t kErrorCaption[] = u"Error";

QRadioButton* MakeRadio(QWidget* parent, const QString& text, int nId) {
    auto* p = new QRadioButton(text, parent);
    dlg::SetCtrlId(p, nId);
    return p;
}

// A run-time drop-down list: not editable, unsorted, in the lists' font, placed by the rectangle the
// template's designer gave in pixels (its height is the dropped-down list's; the box keeps its own).
QComboBox* MakeRuntimeList(QWidget* parent, int nId, const QFont& font, const QRect& designed) {
    auto* p = new QComboBox(parent);
    dlg::SetCtrlId(p, nId);
    p->setEditable(false);
    p->setFont(font);
    p->setMaxVisibleItems(std::max(1, designed.height() / std::max(1, p->fontMetrics().height())));
    p->setGeometry(designed.x(), designed.y(), designed.width(), p->sizeHint().height());
    p->show();
    return p;
}

void SetChecked(QButtonGroup* pGroup, int nChoice) {
    if (nChoice >= 0 && pGroup->button(nChoice)) {
        pGroup->button(nChoice)->setChecked(true);
        return;
    }
    // No choice: no button of the group checked.
    pGroup->setExclusive(false);
    for (QAbstractButton* b : pGroup->buttons()) b->setChecked(false);
    pGroup->setExclusive(true);
}

}  // namespace

CAddRemoteServer::CAddRemoteServer(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Add Remote Server"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    at.Place(dlg::MakeGroup(this, QStringLiteral("HDA Server")), 7, 7, 289, 49);
    m_pExistingId = MakeRadio(this, QStringLiteral("Existing ID"), IDC_EXISTING_ID);
    at.Place(m_pExistingId, 13, 20, 52, 10);
    m_pManual = MakeRadio(this, QStringLiteral("Manual"), IDC_MANUAL);
    at.Place(m_pManual, 13, 38, 52, 10);
    m_pProgId = new QLineEdit(this);
    dlg::SetCtrlId(m_pProgId, IDC_PROGID);
    at.Place(m_pProgId, 67, 37, 222, 12);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Remote Computer")), 7, 60, 289, 60);
    m_pUncName = MakeRadio(this, QStringLiteral("UNC Name"), IDC_UNC_NAME_RADIO);
    at.Place(m_pUncName, 13, 71, 52, 10);
    m_pIpAddressRadio = MakeRadio(this, QStringLiteral("IP Address"), IDC_IP_ADDRESS_RADIO);
    at.Place(m_pIpAddressRadio, 13, 87, 52, 10);
    m_pIpAddress = new CIPAddressCtrl(this);
    dlg::SetCtrlId(m_pIpAddress, IDC_IP_ADDRESS);
    at.Place(m_pIpAddress, 67, 85, 121, 12);
    m_pDnsNameRadio = MakeRadio(this, QStringLiteral("DNS Name"), IDC_DNS_NAME_RADIO);
    at.Place(m_pDnsNameRadio, 13, 103, 52, 10);
    m_pDnsName = new QLineEdit(this);
    dlg::SetCtrlId(m_pDnsName, IDC_DNS_NAME);
    at.Place(m_pDnsName, 67, 103, 222, 12);

    auto* pConnect = new QPushButton(QStringLiteral("Connect"), this);
    dlg::SetCtrlId(pConnect, IDOK);
    pConnect->setDefault(true);
    at.Place(pConnect, 246, 129, 50, 14);
    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 189, 129, 50, 14);

    m_pServerGroup = new QButtonGroup(this);
    m_pServerGroup->addButton(m_pExistingId, 0);
    m_pServerGroup->addButton(m_pManual, 1);
    m_pComputerGroup = new QButtonGroup(this);
    m_pComputerGroup->addButton(m_pUncName, 0);
    m_pComputerGroup->addButton(m_pIpAddressRadio, 1);
    m_pComputerGroup->addButton(m_pDnsNameRadio, 2);

    setFixedSize(at.Size(303, 150));
    connect(m_pExistingId, &QRadioButton::clicked, this, &CAddRemoteServer::OnExistingId);
    connect(m_pManual, &QRadioButton::clicked, this, &CAddRemoteServer::OnManual);
    connect(m_pUncName, &QRadioButton::clicked, this, &CAddRemoteServer::OnUncName);
    connect(m_pIpAddressRadio, &QRadioButton::clicked, this, &CAddRemoteServer::OnIpAddress);
    connect(m_pDnsNameRadio, &QRadioButton::clicked, this, &CAddRemoteServer::OnDnsName);
    connect(pConnect, &QPushButton::clicked, this, &CAddRemoteServer::OnConnect);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CAddRemoteServer::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CAddRemoteServer::OnInitDialog() {
    if (m_bInitialized) return;
    m_bInitialized = true;
    m_nServerChoice = 0;

    m_font = ui::PaneFont();
    const dlg::Placer at(font());
    m_pExistingCombo = MakeRuntimeList(this, IDC_EXISTING_COMBO, m_font, at.DesignPixels(100, 30, 433, 100));
    m_pComputerCombo = MakeRuntimeList(this, IDC_COMPUTER_COMBO, m_font, at.DesignPixels(100, 110, 433, 200));
    // In the tab order after the radio button each belongs to.
    setTabOrder(m_pExistingId, m_pExistingCombo);
    setTabOrder(m_pExistingCombo, m_pManual);
    setTabOrder(m_pUncName, m_pComputerCombo);
    setTabOrder(m_pComputerCombo, m_pIpAddressRadio);

    // The ProgIDs the toolbar's server box holds, in its order.
    if (m_pServerPane)
        for (const std::u16string& strProgId : m_pServerPane->GetServerBoxEntries())
            m_pExistingCombo->addItem(ui::ToQString(strProgId));
    if (m_pExistingCombo->count() > 0) {
        m_pExistingCombo->setCurrentIndex(0);
    } else {
        m_pExistingCombo->setEnabled(false);
        m_pExistingId->setEnabled(false);
        m_nServerChoice = 1;
    }

    FillComputers();
    if (m_pComputerCombo->count() == 0) {
        m_pComputerCombo->setEnabled(false);
        m_pUncName->setEnabled(false);
        m_nComputerChoice = 1;
    } else {
        m_pComputerCombo->setCurrentIndex(0);
        m_nComputerChoice = 0;
        m_pDnsName->setEnabled(false);
        m_pIpAddress->setEnabled(false);
    }

    // Typing a ProgID starts with a click on "Manual", whichever choice was made.
    m_pProgId->setEnabled(false);
    m_strProgId = u"Brindlex.OPC.Simulation";
    m_strDnsName = kPlaceholderDnsName;
    UpdateData(false);
}

void CAddRemoteServer::FillComputers() {
    // Asking the network (DNS-SD) may take a moment.
    ui::WaitCursor wait;
    HANDLE hEnum = nullptr;
    if (WNetOpenEnumW(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, &hEnum) != NO_ERROR) return;
    // One entry at a time; the records' strings live in the same buffer.
    std::vector<NETRESOURCEW> buffer(kEnumBufferBytes / sizeof(NETRESOURCEW));
    for (;;) {
        DWORD dwCount = 1;
        DWORD dwBytes = static_cast<DWORD>(buffer.size() * sizeof(NETRESOURCEW));
        if (WNetEnumResourceW(hEnum, &dwCount, buffer.data(), &dwBytes) != NO_ERROR) break;
        for (DWORD i = 0; i < dwCount; ++i) {
            const NETRESOURCEW& r = buffer[i];
            if (r.dwDisplayType == RESOURCEDISPLAYTYPE_SERVER && r.lpRemoteName)
                m_pComputerCombo->addItem(ui::ToQString(r.lpRemoteName));
        }
    }
    WNetCloseEnum(hEnum);
}

void CAddRemoteServer::UpdateData(bool bSaveAndValidate) {
    if (bSaveAndValidate) {
        m_nServerChoice = m_pServerGroup->checkedId();
        m_nComputerChoice = m_pComputerGroup->checkedId();
        m_strProgId = ui::ToU16(m_pProgId->text());
        m_strDnsName = ui::ToU16(m_pDnsName->text());
        return;
    }
    SetChecked(m_pServerGroup, m_nServerChoice);
    SetChecked(m_pComputerGroup, m_nComputerChoice);
    m_pProgId->setText(ui::ToQString(m_strProgId));
    m_pDnsName->setText(ui::ToQString(m_strDnsName));
}

void CAddRemoteServer::OnExistingId() {
    UpdateData(true);
    if (m_pExistingCombo) m_pExistingCombo->setEnabled(true);
    m_pProgId->setEnabled(false);
    UpdateData(false);
}

void CAddRemoteServer::OnManual() {
    UpdateData(true);
    m_pProgId->setEnabled(true);
    if (m_pExistingCombo) m_pExistingCombo->setEnabled(false);
    UpdateData(false);
}

void CAddRemoteServer::OnUncName() {
    if (m_pComputerCombo) m_pComputerCombo->setEnabled(true);
    m_pDnsName->setEnabled(false);
    m_pIpAddress->setEnabled(false);
}

void CAddRemoteServer::OnIpAddress() {
    m_pIpAddress->setEnabled(true);
    if (m_pComputerCombo) m_pComputerCombo->setEnabled(false);
    m_pDnsName->setEnabled(false);
}

void CAddRemoteServer::OnDnsName() {
    m_pDnsName->setEnabled(true);
    if (m_pComputerCombo) m_pComputerCombo->setEnabled(false);
    m_pIpAddress->setEnabled(false);
}

void CAddRemoteServer::OnConnect() {
    UpdateData(true);
    bool bStayOpen = false;

    std::u16string strProgId;
    if (m_nServerChoice == 1) {
        strProgId = m_strProgId;
        if (strProgId.empty()) {
            hda::ShowMessage(this, u"Server Edit box is Blank", kErrorCaption, hda::MsgIcon::Stop);
            bStayOpen = true;
        }
    } else if (m_pExistingCombo) {
        strProgId = ui::ToU16(m_pExistingCombo->currentText());
    }

    std::u16string strComputer;
    switch (m_nComputerChoice) {
        case 0:
            if (m_pComputerCombo) strComputer = ui::ToU16(m_pComputerCombo->currentText());
            break;
        case 1: {
            if (m_pIpAddress->IsBlank()) {
                hda::ShowMessage(this, u"IP Address control is blank", kErrorCaption, hda::MsgIcon::Stop);
                return;
            }
            BYTE n0 = 0, n1 = 0, n2 = 0, n3 = 0;
            m_pIpAddress->GetAddress(n0, n1, n2, n3);
            strComputer = com::FormatW(u"%03d.%03d.%03d.%03d", {int{n0}, int{n1}, int{n2}, int{n3}});
            break;
        }
        case 2:
            if (m_strDnsName.empty()) {
                hda::ShowMessage(this, u"DNS Edit box is Blank", kErrorCaption, hda::MsgIcon::Stop);
                bStayOpen = true;
            }
            strComputer = m_strDnsName;
            break;
        default:
            break;
    }
    if (bStayOpen) return;

    // The connection, with whatever it reports, runs while the dialog is still on screen; the dialog
    // closes whatever its outcome.
    if (m_pServerPane) m_pServerPane->ConnectRemoteServer(strComputer, strProgId);
    accept();
}

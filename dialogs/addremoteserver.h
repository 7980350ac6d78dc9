// The Add Remote Server dialog: which HDA server (a ProgID found on this computer or typed) on which
// other computer (one the network browser reports, an IP address or a DNS name). "Connect" hands both
// to the server pane and runs its remote connection while the dialog is still on screen.
#pragma once

#include <QDialog>
#include <QFont>
#include <string>

#include "com/types.h"
#include "dialogs/addremotehost.h"

class CIPAddressCtrl;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CAddRemoteServer : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 144 };
    static constexpr int IDC_PROGID = 1009;
    static constexpr int IDC_EXISTING_ID = 1010;
    static constexpr int IDC_MANUAL = 1011;
    static constexpr int IDC_DNS_NAME = 1012;
    static constexpr int IDC_UNC_NAME_RADIO = 1013;
    static constexpr int IDC_IP_ADDRESS_RADIO = 1014;
    static constexpr int IDC_DNS_NAME_RADIO = 1015;
    static constexpr int IDC_IP_ADDRESS = 1016;
    static constexpr int IDC_EXISTING_COMBO = 61209;
    static constexpr int IDC_COMPUTER_COMBO = 61210;
    // The buffer one computer entry of the network enumeration is read into.
    static constexpr DWORD kEnumBufferBytes = 16384;
    // Shown in the DNS box at opening.
    static constexpr char16_t kPlaceholderDnsName[] = u"localhost";

    explicit CAddRemoteServer(QWidget* pParent = nullptr);

    // Set by the pane before exec(); not owned.
    IAddRemoteServerHost* m_pServerPane = nullptr;
    int m_nServerChoice = -1;    // radio group 1010: 0 "Existing ID", 1 "Manual"
    int m_nComputerChoice = -1;  // radio group 1013: 0 "UNC Name", 1 "IP Address", 2 "DNS Name"
    std::u16string m_strProgId;
    std::u16string m_strDnsName;
    // Made at opening; children of the dialog, so they go with its window.
    QComboBox* m_pExistingCombo = nullptr;
    QComboBox* m_pComputerCombo = nullptr;
    QFont m_font;

    // Opens the dialog (once) and runs it.
    int exec() override;
    // The opening: the run-time lists, their entries, the choices, the enabled controls, the members
    // shown. exec() runs it; tests that drive the dialog without running it call it themselves.
    void OnInitDialog();

    // Handlers.
    void OnExistingId();
    void OnManual();
    void OnUncName();
    void OnIpAddress();
    void OnDnsName();
    void OnConnect();

    CIPAddressCtrl* GetIpAddressCtrl() const { return m_pIpAddress; }

protected:
    // true: controls to members; false: members to controls.
    void UpdateData(bool bSaveAndValidate);

private:
    void FillComputers();

    bool m_bInitialized = false;
    QRadioButton* m_pExistingId = nullptr;
    QRadioButton* m_pManual = nullptr;
    QRadioButton* m_pUncName = nullptr;
    QRadioButton* m_pIpAddressRadio = nullptr;
    QRadioButton* m_pDnsNameRadio = nullptr;
    QButtonGroup* m_pServerGroup = nullptr;
    QButtonGroup* m_pComputerGroup = nullptr;
    QLineEdit* m_pProgId = nullptr;
    QLineEdit* m_pDnsName = nullptr;
    CIPAddressCtrl* m_pIpAddress = nullptr;
};

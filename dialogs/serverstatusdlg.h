// The Server Status dialog: asks the server once for its status as it opens and shows the answer in
// nine read-only boxes.
#pragma once

#include <QDialog>
#include <string>

#include "client/timetext.h"
#include "com/types.h"
#include "dialogs/dialoghost.h"

class QLineEdit;

class CServerStatusDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 155 };
    enum {
        IDC_SERVER_STATUS = 1047,
        IDC_STATUS_STRING = 1048,
        IDC_CURRENT_TIME = 1049,
        IDC_START_TIME = 1050,
        IDC_MAJOR_VERSION = 1051,
        IDC_MINOR_VERSION = 1052,
        IDC_BUILD_NUMBER = 1053,
        IDC_VENDOR_INFO = 1054,
        IDC_MAX_RETURN_VALUES = 1055,
    };

    explicit CServerStatusDlg(QWidget* pParent = nullptr);

    // Asks the server, fills the boxes and runs the dialog.
    int exec() override;

    // Set by the caller.
    IDialogHost* m_pServerPane = nullptr;  // not owned
    std::u16string m_strServerKey;
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;  // of the two times

    // One text per box, filled as the dialog opens.
    std::u16string m_strServerStatus;
    std::u16string m_strStatusString;
    std::u16string m_strCurrentTime;
    std::u16string m_strStartTime;
    std::u16string m_strMajorVersion;
    std::u16string m_strMinorVersion;
    std::u16string m_strBuildNumber;
    std::u16string m_strVendorInfo;
    std::u16string m_strMaxReturnValues;

    void OnInitDialog();

private:
    // Calls GetHistorianStatus and sets the member texts; reports a failure itself.
    void QueryStatus();
    void UpdateData();

    QLineEdit* m_pBoxes[9] = {};
};
